#include "StagedFile.h"

#include "FileOps.h"

#include <cerrno>
#include <filesystem>
#include <random>
#include <system_error>

namespace platform {

namespace {

std::string randomSuffix()
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::random_device device;
    std::string suffix;
    for (int i = 0; i < 8; ++i)
        suffix.push_back(kHex[device() % 16]);
    return suffix;
}

[[noreturn]] void throwErrno(int error, const std::string& what)
{
    throw std::system_error(error ? error : EIO, std::generic_category(), what);
}

} // namespace

StagedFile::StagedFile(const std::string& target, bool readable) : target_(target)
{
    const std::filesystem::path targetPath = toPath(target);
    // Same folder as the target, so that the final rename stays on one file system.
    const std::string prefix =
        fromPath(targetPath.parent_path() / toPath("." + fromPath(targetPath.filename()) + ".part-"));
    // Exclusive creation: never write into a file that someone else made.
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary_ = prefix + randomSuffix();
        errno = 0;
        file_ = std::fopen(temporary_.c_str(), readable ? "w+xb" : "wxb");
        if (file_)
            return;
        if (errno != EEXIST)
            break;
    }
    throwErrno(errno, "Cannot create " + target);
}

StagedFile::~StagedFile()
{
    if (!committed_)
        discard();
}

void StagedFile::discard() noexcept
{
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    std::error_code ignored;
    std::filesystem::remove(toPath(temporary_), ignored);
}

void StagedFile::write(const char* data, std::size_t size)
{
    if (size == 0)
        return;
    errno = 0;
    if (std::fwrite(data, 1, size, file_) != size)
        throwErrno(errno ? errno : ENOSPC, "Cannot write " + target_);
}

void StagedFile::commit()
{
    errno = 0;
    const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
    const int flushError = errno;
    const bool closed = std::fclose(file_) == 0;
    const int closeError = errno;
    file_ = nullptr;
    if (!flushed)
        throwErrno(flushError, "Cannot write " + target_);
    if (!closed)
        throwErrno(closeError, "Cannot write " + target_);
    // No fsync: the file is a download that is unpacked and deleted at once,
    // and syncing half a gigabyte would double the time of a fetch.
    std::error_code ec;
    std::filesystem::rename(toPath(temporary_), toPath(target_), ec);
    if (ec)
        throw std::system_error(ec, "Cannot replace " + target_);
    committed_ = true;
}

} // namespace platform
