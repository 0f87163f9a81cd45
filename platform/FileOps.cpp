#include "FileOps.h"

#include "StagedFile.h"
#include "TextCodec.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#ifdef __linux__
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {

#ifdef _WIN32
namespace {

constexpr std::wstring_view kExtended = L"\\\\?\\";
constexpr std::wstring_view kExtendedUnc = L"\\\\?\\UNC\\";

} // namespace
#endif

std::filesystem::path extendedPath(const std::filesystem::path& path)
{
#ifdef _WIN32
    const std::wstring& text = path.native();
    if (text.starts_with(kExtended) || !path.is_absolute())
        return path;
    const std::wstring normal = path.lexically_normal().make_preferred().native();
    if (normal.starts_with(L"\\\\"))
        return std::wstring(kExtendedUnc) + normal.substr(2);
    return std::wstring(kExtended) + normal;
#else
    return path;
#endif
}

std::filesystem::path toPath(const std::string& ansi)
{
#ifdef _WIN32
    return extendedPath(std::filesystem::path(ansiToWide(ansi)).make_preferred());
#else
    return std::filesystem::path(ansi);
#endif
}

std::filesystem::path plainPath(const std::filesystem::path& path)
{
#ifdef _WIN32
    const std::wstring& text = path.native();
    if (text.starts_with(kExtendedUnc))
        return L"\\\\" + text.substr(kExtendedUnc.size());
    if (text.starts_with(kExtended))
        return text.substr(kExtended.size());
#endif
    return path;
}

std::string fromPath(const std::filesystem::path& path)
{
#ifdef _WIN32
    return utf16ToAnsi(plainPath(path).u16string());
#else
    return path.string();
#endif
}

std::u16string displayPath(const std::filesystem::path& path)
{
#ifdef _WIN32
    return plainPath(path).u16string();
#else
    return ansiToUtf16(path.string());
#endif
}

bool samePathText(const std::filesystem::path& a, const std::filesystem::path& b)
{
#ifdef _WIN32
    const std::wstring& x = a.native();
    const std::wstring& y = b.native();
    return CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(), static_cast<int>(y.size()), TRUE) ==
           CSTR_EQUAL;
#else
    return a == b;
#endif
}

bool isExistingFile(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(toPath(path), ec);
}

std::string absolutePath(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(plainPath(toPath(path)), ec);
    if (ec)
        return path;
    return fromPath(absolute.lexically_normal());
}

std::string readWholeFile(const std::string& path)
{
    std::ifstream in(toPath(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool removeFile(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path p = toPath(path);
    if (std::filesystem::is_directory(std::filesystem::symlink_status(p, ec)))
        return false;
    return std::filesystem::remove(p, ec) && !ec;
}

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Portable copy through a buffer of 1 MiB.
void copyByBlocks(std::FILE* in, StagedFile& out, std::uint64_t done, std::uint64_t total, const FileProgress& progress,
                  std::error_code& ec)
{
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), in);
        if (n == 0) {
            if (std::ferror(in))
                ec.assign(errno ? errno : EIO, std::generic_category());
            return;
        }
        out.write(buffer.data(), n);
        done += n;
        if (progress && !progress(done, total)) {
            ec = std::make_error_code(std::errc::operation_canceled);
            return;
        }
    }
}

#ifdef __linux__
// In-kernel copy, as cp does: no round trip of the data through user space,
// and a reflink where the file system offers one. Returns false when the
// kernel cannot copy between these files, before any byte was copied.
bool copyInKernel(std::FILE* in, StagedFile& out, std::uint64_t& done, std::uint64_t total,
                  const FileProgress& progress, std::error_code& ec)
{
    const int inFd = fileno(in);
    const int outFd = fileno(out.stream());
    constexpr std::size_t kChunk = 16u << 20; // progress every 16 MiB
    for (;;) {
        const ssize_t n = copy_file_range(inFd, nullptr, outFd, nullptr, kChunk, 0);
        if (n < 0) {
            if (done == 0 && (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP))
                return false;
            ec.assign(errno, std::generic_category());
            return true;
        }
        if (n == 0)
            return true;
        done += static_cast<std::uint64_t>(n);
        if (progress && !progress(done, total)) {
            ec = std::make_error_code(std::errc::operation_canceled);
            return true;
        }
    }
}
#endif

} // namespace

bool copyFileReplacing(const std::string& src, const std::string& dest, const FileProgress& progress,
                       std::error_code& ec)
{
    ec.clear();
    try {
        errno = 0;
        FilePtr in(std::fopen(src.c_str(), "rb"));
        if (!in) {
            ec.assign(errno ? errno : ENOENT, std::generic_category());
            return false;
        }
        // A folder opens for reading on some systems; it is not a file to copy.
        if (!isExistingFile(src)) {
            ec = std::make_error_code(std::errc::is_a_directory);
            return false;
        }
        const std::uint64_t total = std::filesystem::file_size(toPath(src), ec);
        if (ec)
            return false;
        // A file copied onto itself is already in place; Windows would not let
        // the staged copy replace a file that is open for reading.
        std::error_code different;
        if (std::filesystem::equivalent(plainPath(toPath(src)), plainPath(toPath(dest)), different)) {
            if (progress)
                progress(total, total);
            return true;
        }

        StagedFile out(dest);
        std::uint64_t done = 0;
        bool copied = false;
#ifdef __linux__
        copied = copyInKernel(in.get(), out, done, total, progress, ec);
#endif
        if (!copied)
            copyByBlocks(in.get(), out, done, total, progress, ec);
        if (ec)
            return false;
        out.commit();
        return true;
    } catch (const std::system_error& e) {
        ec = e.code();
        return false;
    }
}

} // namespace platform
