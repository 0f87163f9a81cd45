#include "PinnedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The change time moves with every write and cannot be set back by the writer.
bool stamp(int fd, long long& size, long long& sec, long long& nsec)
{
    struct stat st{};
    if (::fstat(fd, &st) != 0)
        return false;
    size = st.st_size;
    sec = st.st_ctim.tv_sec;
    nsec = st.st_ctim.tv_nsec;
    return true;
}

} // namespace

PinnedFile::PinnedFile(const std::string& path)
{
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ >= 0 && !stamp(fd_, size_, changeSec_, changeNsec_)) {
        ::close(fd_);
        fd_ = -1;
    }
}

PinnedFile::~PinnedFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::string PinnedFile::readPath() const { return "/proc/self/fd/" + std::to_string(fd_); }

bool PinnedFile::unchanged() const
{
    long long size = 0, sec = 0, nsec = 0;
    return fd_ >= 0 && stamp(fd_, size, sec, nsec) && size == size_ && sec == changeSec_ && nsec == changeNsec_;
}

} // namespace platform
