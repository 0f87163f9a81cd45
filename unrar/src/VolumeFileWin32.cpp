#include "unrar/src/VolumeFile.h"

#include <windows.h>

#include "unrar/src/WidePath.h"

namespace unrar {

VolumeFile::~VolumeFile() { close(); }

VolumeFile::VolumeFile(VolumeFile&& other) noexcept : file_(other.file_), size_(other.size_) { other.file_ = nullptr; }

VolumeFile& VolumeFile::operator=(VolumeFile&& other) noexcept
{
    if (this != &other) {
        close();
        file_ = other.file_;
        size_ = other.size_;
        other.file_ = nullptr;
    }
    return *this;
}

void VolumeFile::close()
{
    if (file_)
        CloseHandle(file_);
    file_ = nullptr;
}

VolumeFile::OpenError VolumeFile::open(const std::string& path)
{
    close();
    const std::wstring full = extendedPath(path);
    if (full.empty())
        return OpenError::Missing;
    // Others may read and even replace the volume meanwhile; this handle keeps reading the file it opened.
    HANDLE h = CreateFileW(full.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? OpenError::Missing
                                                                              : OpenError::Unreadable;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const bool folder = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        CloseHandle(h);
        return folder ? OpenError::NotAFile : OpenError::Unreadable;
    }
    file_ = h;
    size_ = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return OpenError::None;
}

long long VolumeFile::readAt(uint64_t offset, void* buffer, size_t n) const
{
    if (!file_)
        return -1;
    size_t done = 0;
    while (done < n) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset + done);
        at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
        const DWORD chunk = n - done > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n - done);
        DWORD got = 0;
        if (!ReadFile(file_, static_cast<char*>(buffer) + done, chunk, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            return -1;
        }
        if (got == 0)
            break;
        done += got;
    }
    return static_cast<long long>(done);
}

bool fileExists(const std::string& path)
{
    const std::wstring full = extendedPath(path);
    const DWORD attributes = full.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(full.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace unrar
