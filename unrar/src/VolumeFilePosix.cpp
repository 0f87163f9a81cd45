#include "unrar/src/VolumeFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace unrar {

VolumeFile::~VolumeFile() { close(); }

VolumeFile::VolumeFile(VolumeFile&& other) noexcept : fd_(other.fd_), size_(other.size_) { other.fd_ = -1; }

VolumeFile& VolumeFile::operator=(VolumeFile&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = other.fd_;
        size_ = other.size_;
        other.fd_ = -1;
    }
    return *this;
}

void VolumeFile::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

VolumeFile::OpenError VolumeFile::open(const std::string& path)
{
    close();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? OpenError::Missing : OpenError::Unreadable;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        bool dir = S_ISDIR(st.st_mode);
        ::close(fd);
        return dir ? OpenError::NotAFile : OpenError::Unreadable;
    }
    fd_ = fd;
    size_ = static_cast<uint64_t>(st.st_size);
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    return OpenError::None;
}

long long VolumeFile::readAt(uint64_t offset, void* buffer, size_t n) const
{
    if (fd_ < 0)
        return -1;
    size_t done = 0;
    while (done < n) {
        ssize_t r = ::pread(fd_, static_cast<char*>(buffer) + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (r == 0)
            break;
        done += static_cast<size_t>(r);
    }
    return static_cast<long long>(done);
}

bool fileExists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace unrar
