#include "PinnedFile.h"

#include "TextCodec.h"

#include <windows.h>

namespace platform {

namespace {

struct Stamp {
    long long size = 0;
    long long modified = 0; // 100-nanosecond intervals
    unsigned long links = 0;
    DWORD volume = 0;
    unsigned long long index = 0; // the file's number on its volume
};

bool stamp(HANDLE file, Stamp& out)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info))
        return false;
    out.size = static_cast<long long>(static_cast<unsigned long long>(info.nFileSizeHigh) << 32 | info.nFileSizeLow);
    out.modified = static_cast<long long>(static_cast<unsigned long long>(info.ftLastWriteTime.dwHighDateTime) << 32 |
                                          info.ftLastWriteTime.dwLowDateTime);
    out.links = info.nNumberOfLinks;
    out.volume = info.dwVolumeSerialNumber;
    out.index = static_cast<unsigned long long>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return true;
}

} // namespace

PinnedFile::PinnedFile(const std::string& path) : path_(path)
{
    // Shared for reading only: while it is held nobody can write the file,
    // rename it or delete it, so its name leads to what was checked.
    HANDLE file = ::CreateFileW(ansiToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    Stamp now;
    if (file == INVALID_HANDLE_VALUE)
        return;
    if (!stamp(file, now)) {
        ::CloseHandle(file);
        return;
    }
    handle_ = file;
    size_ = now.size;
    modified_ = now.modified;
    volume_ = now.volume;
    index_ = now.index;
}

PinnedFile::~PinnedFile()
{
    if (handle_ != nullptr)
        ::CloseHandle(handle_);
}

std::string PinnedFile::readPath() const { return path_; }

bool PinnedFile::unchanged() const
{
    Stamp now;
    if (handle_ == nullptr || !stamp(handle_, now))
        return false;
    return now.size == size_ && now.modified == modified_;
}

bool PinnedFile::removeName()
{
    if (handle_ == nullptr)
        return false;
    ::CloseHandle(handle_);
    handle_ = nullptr;
    // Opened again, alone and for deleting, and deleted through that handle
    // only when it is still the same file: nobody can slip another file in
    // between the check and the deletion.
    HANDLE file = ::CreateFileW(ansiToWide(path_).c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    Stamp now;
    bool removed = false;
    if (stamp(file, now) && now.volume == volume_ && now.index == index_) {
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        removed = ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
    }
    ::CloseHandle(file);
    return removed;
}

} // namespace platform
