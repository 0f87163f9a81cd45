#include "FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Close-on-exec: a program started by the holder must not keep the lock
// after the holder has ended.
constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK; // a FIFO in its place must not block the open

// Opens the lock file for reading, creating it readable by everyone: flock
// needs no write access, so every user who may run the updater in a shared
// folder can lock a file that another user created.
int openLockFile(const std::filesystem::path& path)
{
    const int created = ::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | kOpenFlags, 0644);
    if (created >= 0) {
        ::fchmod(created, 0644); // whatever the creator's umask
        return created;
    }
    if (errno != EEXIST)
        return -1;
    return ::open(path.c_str(), O_RDONLY | kOpenFlags);
}

int lockWithoutWaiting(int fd)
{
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}

} // namespace

FileLock::FileLock(const std::filesystem::path& path)
{
    fd_ = openLockFile(path);
    if (fd_ < 0) {
        error_.assign(errno, std::generic_category());
        return;
    }
    // A folder or a device in the lock's place could be "locked" too, but
    // another updater that finds a file there would not see that lock.
    struct stat status {};
    if (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) {
        error_ = S_ISDIR(status.st_mode) ? std::make_error_code(std::errc::is_a_directory)
                                         : std::make_error_code(std::errc::invalid_argument);
        return;
    }
    int code = lockWithoutWaiting(fd_);
    // Network file systems emulate flock by record locks, which want a file
    // open for writing.
    if (code == EBADF) {
        const int writable = ::open(path.c_str(), O_RDWR | kOpenFlags);
        if (writable >= 0) {
            ::close(fd_);
            fd_ = writable;
            code = lockWithoutWaiting(fd_);
        }
    }
    if (code != 0) {
        state_ = code == EWOULDBLOCK ? State::Busy : State::Failed;
        error_.assign(code, std::generic_category());
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
