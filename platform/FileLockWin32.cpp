#include "FileLock.h"

#include <windows.h>

namespace platform {

FileLock::FileLock(const std::filesystem::path& path)
{
    // Not inheritable, so a program started by the holder does not keep the
    // file open after the holder has ended. Not shared for deleting: the lock
    // file cannot vanish under its holder and let a second one in. Read
    // access is all LockFileEx needs, so users who may not write the file
    // lock it too.
    const std::wstring& name = path.native();
    HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(name.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            error_ = std::make_error_code(std::errc::is_a_directory);
        else
            error_.assign(static_cast<int>(code), std::system_category());
        return;
    }
    handle_ = file;
    // The whole range a file can have, taken without waiting.
    OVERLAPPED start{};
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &start)) {
        const DWORD code = ::GetLastError();
        state_ = code == ERROR_LOCK_VIOLATION ? State::Busy : State::Failed;
        error_.assign(static_cast<int>(code), std::system_category());
        return;
    }
    state_ = State::Held;
}

FileLock::~FileLock()
{
    if (handle_ == nullptr)
        return;
    if (state_ == State::Held) {
        OVERLAPPED start{};
        ::UnlockFileEx(handle_, 0, MAXDWORD, MAXDWORD, &start);
    }
    ::CloseHandle(handle_);
}

} // namespace platform
