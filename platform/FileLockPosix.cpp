#include "FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

FileLock::FileLock(const std::string& path)
{
    // Close-on-exec: a program started by the holder must not keep the lock
    // after the holder has ended.
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error_.assign(errno, std::generic_category());
        return;
    }
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        state_ = errno == EWOULDBLOCK ? State::Busy : State::Failed;
        error_.assign(errno, std::generic_category());
        return;
    }
    state_ = State::Held;
}

FileLock::~FileLock()
{
    if (fd_ >= 0)
        ::close(fd_); // releases the lock
}

} // namespace platform
