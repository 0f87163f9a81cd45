#include "Durability.h"

#include "TextCodec.h"

#include <system_error>
#include <windows.h>

namespace platform {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path)
{
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), what + " " + path);
}

HANDLE openForFlush(const std::wstring& name)
{
    // Flushing needs write access; others may go on using the file.
    return ::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void syncFile(const std::string& path)
{
    const std::wstring name = ansiToWide(path);
    HANDLE file = openForFlush(name);
    // A read-only file (as a release may carry) cannot be opened for writing:
    // its attribute is lifted for the flush and put back afterwards.
    DWORD restore = INVALID_FILE_ATTRIBUTES;
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
        const DWORD attributes = ::GetFileAttributesW(name.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
            ::SetFileAttributesW(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
            restore = attributes;
            file = openForFlush(name);
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        if (restore != INVALID_FILE_ATTRIBUTES)
            ::SetFileAttributesW(name.c_str(), restore);
        ::SetLastError(code);
        fail("Cannot open", path);
    }
    const bool flushed = ::FlushFileBuffers(file);
    const DWORD code = ::GetLastError();
    ::CloseHandle(file);
    if (restore != INVALID_FILE_ATTRIBUTES)
        ::SetFileAttributesW(name.c_str(), restore);
    if (!flushed) {
        ::SetLastError(code);
        fail("Cannot write to disk", path);
    }
}

} // namespace

void syncFiles(const std::vector<std::string>& files)
{
    for (const std::string& path : files)
        syncFile(path);
}

// Windows has no call that starts a file's writing without waiting for it;
// the flush before the install does all of it.
void startWriting(const std::string&) noexcept {}

void syncFolder(const std::string& folder)
{
    // Folders need no flush on NTFS: the changes of a folder's entries
    // (files created, renamed, deleted) are metadata, which NTFS records in
    // its own log, and FlushFileBuffers of any file on the volume writes that
    // log out as well. The install flushes its journal after its
    // renames, so they are on the disk by the time the commit mark is. Only
    // that the folder is there is checked, as opening it does on POSIX.
    const DWORD attributes = ::GetFileAttributesW(ansiToWide(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        fail("Cannot open", folder);
}

} // namespace platform
