#include <atomic>
#include <vector>
#include <windows.h>

#include "unrar/include/unrar_api.h"
#include "unrar/src/Links.h"
#include "unrar/src/WidePath.h"

namespace unrar {
namespace {

std::atomic<unsigned> linkCounter{0};

std::string tempName()
{
    return ".unrar-" + std::to_string(GetCurrentProcessId()) + "-l" + std::to_string(linkCounter++) + ".tmp";
}

// Opens `path` for reading when it is still the regular file this
// extraction wrote (`expected`), not a link or something put in its place.
HANDLE openWrittenFile(const std::wstring& path, const FileId& expected)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    const bool same =
        GetFileInformationByHandle(h, &info) &&
        !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
        FileId{info.dwVolumeSerialNumber, (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow} == expected;
    if (!same) {
        CloseHandle(h);
        return nullptr;
    }
    return h;
}

} // namespace

// Symbolic links need a privilege that a workstation's user does not have,
// and a link placed by an archive could lead the next entry out of the
// destination: they are refused.
int placeSymlink(const DirHandle&, const std::string&, const std::string&) { return ERAR_ECREATE; }

int placeHardLink(const DirHandle& sourceFolder, const std::string& sourceName, const FileId& expected,
                  const DirHandle& folder, const std::string& name)
{
    const std::wstring source = childPath(sourceFolder.path(), sourceName);
    // Held open while the link is made, so the name cannot change its file meanwhile.
    HANDLE held = openWrittenFile(source, expected);
    if (!held)
        return ERAR_ECREATE;
    int result = ERAR_ECREATE;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring temp = childPath(folder.path(), tempName());
        if (CreateHardLinkW(temp.c_str(), source.c_str(), nullptr)) {
            const std::wstring final = childPath(folder.path(), name);
            result = MoveFileExW(temp.c_str(), final.c_str(), MOVEFILE_REPLACE_EXISTING) ? ERAR_SUCCESS : ERAR_ECREATE;
            DeleteFileW(temp.c_str());
            break;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    CloseHandle(held);
    return result;
}

int copyWrittenFile(const DirHandle& sourceFolder, const std::string& sourceName, const FileId& expected,
                    OutputFile& out)
{
    HANDLE source = openWrittenFile(childPath(sourceFolder.path(), sourceName), expected);
    if (!source)
        return ERAR_ECREATE;
    std::vector<char> buffer(1 << 20);
    int result = ERAR_SUCCESS;
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr)) {
            result = ERAR_EREAD;
            break;
        }
        if (n == 0)
            break;
        if (!out.write(buffer.data(), n)) {
            result = ERAR_EWRITE;
            break;
        }
    }
    CloseHandle(source);
    return result;
}

PathState probeFolders(const DirHandle& root, const std::vector<std::string>& components)
{
    std::wstring path = root.path();
    for (const std::string& component : components) {
        path = childPath(path, component);
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND ? PathState::Missing
                                                                                                    : PathState::Other;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return PathState::Other;
    }
    return PathState::Folders;
}

} // namespace unrar
