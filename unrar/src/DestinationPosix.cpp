#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "unrar/include/unrar_api.h"
#include "unrar/src/Destination.h"
#include "unrar/src/TimeConvert.h"

namespace unrar {
namespace {

void fillTimes(const EntryMeta& meta, struct timespec times[2])
{
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_nsec = UTIME_OMIT;
    auto set = [](uint64_t ft, struct timespec& ts) {
        int64_t s;
        long ns;
        filetimeToUnix(ft, s, ns);
        ts.tv_sec = static_cast<time_t>(s);
        ts.tv_nsec = ns;
    };
    if (meta.mtime)
        set(meta.mtime, times[1]);
    if (meta.atime)
        set(meta.atime, times[0]);
    else if (meta.mtime)
        set(meta.mtime, times[0]);
}

// Set-user and set-group bits from an archive are never applied.
mode_t storedMode(const EntryMeta& meta) { return static_cast<mode_t>(meta.attributes & 0777); }

std::atomic<unsigned> tempCounter{0};

} // namespace

DirHandle::~DirHandle()
{
    if (fd_ >= 0)
        ::close(fd_);
}

FileId DirHandle::id() const
{
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return {};
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

DirHandle& DirHandle::operator=(DirHandle&& o) noexcept
{
    if (this != &o) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

int openFolder(const std::string& path, DirHandle& out)
{
    std::error_code ec;
    const std::string p = path.empty() ? "." : path;
    std::filesystem::create_directories(p, ec);
    int fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return ERAR_ECREATE;
    out = DirHandle(fd);
    return ERAR_SUCCESS;
}

int openBelow(const DirHandle& root, const std::vector<std::string>& components, DirHandle& out)
{
    int current = ::dup(root.get());
    if (current < 0)
        return ERAR_ECREATE;
    DirHandle holder(current);
    for (const std::string& c : components) {
        if (::mkdirat(holder.get(), c.c_str(), 0777) != 0 && errno != EEXIST)
            return ERAR_ECREATE;
        // O_NOFOLLOW: a link planted below the destination is never entered.
        int next = ::openat(holder.get(), c.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0)
            return ERAR_ECREATE;
        holder = DirHandle(next);
    }
    out = std::move(holder);
    return ERAR_SUCCESS;
}

int makeFolder(const DirHandle& parent, const std::string& name, const EntryMeta& meta)
{
    if (::mkdirat(parent.get(), name.c_str(), 0777) != 0 && errno != EEXIST)
        return ERAR_ECREATE;
    int fd = ::openat(parent.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return ERAR_ECREATE;
    DirHandle dir(fd);
    // The owner keeps the right to fill the folder whatever mode was stored.
    if (meta.unixHost)
        ::fchmod(dir.get(), storedMode(meta) | 0700);
    struct timespec times[2];
    fillTimes(meta, times);
    ::futimens(dir.get(), times);
    return ERAR_SUCCESS;
}

OutputFile::~OutputFile() { discard(); }

int OutputFile::create(DirHandle folder, const std::string& finalName)
{
    discard();
    folder_ = std::move(folder);
    finalName_ = finalName;
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName_ = ".unrar-" + std::to_string(::getpid()) + "-" + std::to_string(tempCounter++) + ".tmp";
        fd_ = ::openat(folder_.get(), tempName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ >= 0)
            return ERAR_SUCCESS;
        if (errno != EEXIST)
            break;
    }
    tempName_.clear();
    return ERAR_ECREATE;
}

bool OutputFile::write(const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd_, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

int OutputFile::commit(const EntryMeta& meta)
{
    if (meta.unixHost) {
        ::fchmod(fd_, storedMode(meta));
    } else if (meta.attributes & 0x01) {
        struct stat st;
        if (::fstat(fd_, &st) == 0)
            ::fchmod(fd_, st.st_mode & ~mode_t(0222));
    }
    struct timespec times[2];
    fillTimes(meta, times);
    ::futimens(fd_, times);
    struct stat st;
    if (::fstat(fd_, &st) == 0)
        id_ = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) {
        discard();
        return ERAR_ECLOSE;
    }
    // rename replaces a file or a link at the final name, never follows it.
    if (::renameat(folder_.get(), tempName_.c_str(), folder_.get(), finalName_.c_str()) != 0) {
        discard();
        return ERAR_ECREATE;
    }
    tempName_.clear();
    return ERAR_SUCCESS;
}

void OutputFile::discard()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!tempName_.empty() && folder_.valid())
        ::unlinkat(folder_.get(), tempName_.c_str(), 0);
    tempName_.clear();
}

} // namespace unrar
