#include "PinnedFile.h"

#include "FileOps.h"

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

struct Stamp {
    long long size = 0;
    long long modified = 0; // nanoseconds
    long long changed = 0;  // nanoseconds
    unsigned long links = 0;
};

bool stamp(int fd, Stamp& out)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    out.size = st.st_size;
    out.modified = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    out.changed = st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
    out.links = st.st_nlink;
    return true;
}

} // namespace

PinnedFile::PinnedFile(const std::string& path) : path_(path)
{
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    Stamp now;
    if (fd_ >= 0 && !stamp(fd_, now)) {
        ::close(fd_);
        fd_ = -1;
    }
    size_ = now.size;
    modified_ = now.modified;
    changed_ = now.changed;
    links_ = now.links;
}

PinnedFile::~PinnedFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::string PinnedFile::readPath() const { return "/proc/self/fd/" + std::to_string(fd_); }

bool PinnedFile::unchanged() const
{
    Stamp now;
    if (fd_ < 0 || !stamp(fd_, now))
        return false;
    // A write moves the modification and change times. The change time also
    // moves when the name is deleted or replaced, which does not touch the
    // content that is read through the descriptor; it counts only while the
    // number of names stayed the same.
    const bool renamedOrDeleted = now.links != links_;
    return now.size == size_ && now.modified == modified_ && (renamedOrDeleted || now.changed == changed_);
}

bool PinnedFile::removeName()
{
    if (fd_ < 0)
        return false;
    std::error_code ec;
    const bool same = std::filesystem::equivalent(toPath(path_), readPath(), ec);
    const bool removed = same && removeFile(path_);
    ::close(fd_);
    fd_ = -1;
    return removed;
}

} // namespace platform
