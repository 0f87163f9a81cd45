#pragma once
// An exclusive lock on a file, taken without waiting and held until the
// object goes away. The system drops it when the process ends however it
// ends, so a killed holder never blocks the next one. POSIX: flock; Windows:
// LockFileEx on the same interface.
#include <filesystem>
#include <system_error>

namespace platform {

class FileLock {
public:
    enum class State { Held, Busy, Failed };

    // Creates `path` when missing (readable by every user, who can then lock
    // it too: locking needs no write access) and tries to lock it. Busy:
    // another process holds it. Failed: the file could not be created, opened
    // or locked, or is no regular file (`error` says why: is_a_directory for
    // a folder, invalid_argument for anything else that is no file).
    explicit FileLock(const std::filesystem::path& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    State state() const { return state_; }
    const std::error_code& error() const { return error_; }

private:
#ifdef _WIN32
    void* handle_ = nullptr; // HANDLE of the open lock file
#else
    int fd_ = -1;
#endif
    State state_ = State::Failed;
    std::error_code error_;
};

} // namespace platform
