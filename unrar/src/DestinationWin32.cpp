#include <atomic>
#include <windows.h>

#include "unrar/include/unrar_api.h"
#include "unrar/src/Destination.h"
#include "unrar/src/TextConvert.h"
#include "unrar/src/WidePath.h"

namespace unrar {
namespace {

std::atomic<unsigned> tempCounter{0};

FILETIME toFiletime(uint64_t value) { return {static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)}; }

// Gives the item the entry's times; a zero time leaves that one as it is.
void setTimes(HANDLE item, const EntryMeta& meta)
{
    const FILETIME modified = toFiletime(meta.mtime);
    const FILETIME accessed = toFiletime(meta.atime ? meta.atime : meta.mtime);
    SetFileTime(item, nullptr, meta.atime || meta.mtime ? &accessed : nullptr, meta.mtime ? &modified : nullptr);
}

// Opens a folder for the extraction, never through a link or junction: it
// is held without delete sharing, so that nobody renames or replaces it
// while entries land in it.
HANDLE openFolderHandle(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(h);
        return nullptr;
    }
    return h;
}

FileId idOf(HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!h || !GetFileInformationByHandle(h, &info))
        return {};
    return {info.dwVolumeSerialNumber, (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// Creates the folder `name` in `parent` or accepts one that is there, and opens it.
int enterFolder(const DirHandle& parent, const std::string& name, DirHandle& out)
{
    const std::wstring path = childPath(parent.path(), name);
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return ERAR_ECREATE;
    HANDLE h = openFolderHandle(path);
    if (!h)
        return ERAR_ECREATE;
    out = DirHandle(h, path);
    return ERAR_SUCCESS;
}

} // namespace

DirHandle::~DirHandle()
{
    if (handle_)
        CloseHandle(handle_);
}

FileId DirHandle::id() const { return idOf(handle_); }

DirHandle& DirHandle::operator=(DirHandle&& o) noexcept
{
    if (this != &o) {
        if (handle_)
            CloseHandle(handle_);
        handle_ = o.handle_;
        path_ = std::move(o.path_);
        o.handle_ = nullptr;
    }
    return *this;
}

int openFolder(const std::string& path, DirHandle& out)
{
    const std::wstring full = extendedPath(path.empty() ? "." : path);
    if (full.empty())
        return ERAR_ECREATE;
    // Every missing folder of the path, from the top down.
    for (size_t at = full.find(L'\\', 4); at != std::wstring::npos; at = full.find(L'\\', at + 1))
        CreateDirectoryW(full.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(full.c_str(), nullptr);
    HANDLE h = openFolderHandle(full);
    if (!h)
        return ERAR_ECREATE;
    out = DirHandle(h, full);
    return ERAR_SUCCESS;
}

int openBelow(const DirHandle& root, const std::vector<std::string>& components, DirHandle& out)
{
    DirHandle holder(openFolderHandle(root.path()), root.path());
    if (!holder.valid() || holder.id() != root.id())
        return ERAR_ECREATE;
    for (const std::string& c : components) {
        DirHandle next;
        const int r = enterFolder(holder, c, next);
        if (r != ERAR_SUCCESS)
            return r;
        holder = std::move(next);
    }
    out = std::move(holder);
    return ERAR_SUCCESS;
}

int makeFolder(const DirHandle& parent, const std::string& name, const EntryMeta& meta)
{
    DirHandle folder;
    const int r = enterFolder(parent, name, folder);
    if (r != ERAR_SUCCESS)
        return r;
    setTimes(folder.get(), meta);
    return ERAR_SUCCESS;
}

OutputFile::~OutputFile() { discard(); }

int OutputFile::create(DirHandle folder, const std::string& finalName)
{
    discard();
    folder_ = std::move(folder);
    finalName_ = finalName;
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName_ = ".unrar-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(tempCounter++) + ".tmp";
        HANDLE h = CreateFileW(childPath(folder_.path(), tempName_).c_str(),
                               GENERIC_WRITE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | DELETE, 0, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            file_ = h;
            return ERAR_SUCCESS;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    tempName_.clear();
    return ERAR_ECREATE;
}

bool OutputFile::write(const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file_, p, chunk, &written, nullptr) || written == 0)
            return false;
        p += written;
        size -= written;
    }
    return true;
}

int OutputFile::commit(const EntryMeta& meta)
{
    setTimes(file_, meta);
    id_ = idOf(file_);
    const bool closed = CloseHandle(file_);
    file_ = nullptr;
    if (!closed) {
        discard();
        return ERAR_ECLOSE;
    }
    const std::wstring temp = childPath(folder_.path(), tempName_);
    const std::wstring final = childPath(folder_.path(), finalName_);
    // Replaces a file at the final name; fails on a folder there, and on a
    // file that another program holds open without delete sharing.
    if (!MoveFileExW(temp.c_str(), final.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        discard();
        return ERAR_ECREATE;
    }
    tempName_.clear();
    // The read-only attribute of a Windows entry, once the file is in place.
    if (!meta.unixHost && (meta.attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(final.c_str(), FILE_ATTRIBUTE_READONLY);
    return ERAR_SUCCESS;
}

void OutputFile::discard()
{
    if (file_)
        CloseHandle(file_);
    file_ = nullptr;
    if (!tempName_.empty() && folder_.valid())
        DeleteFileW(childPath(folder_.path(), tempName_).c_str());
    tempName_.clear();
}

} // namespace unrar
