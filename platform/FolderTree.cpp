#include "FolderTree.h"

#include <algorithm>
#include <memory>

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {

namespace fs = std::filesystem;

#ifdef _WIN32
namespace {

struct FindCloser {
    void operator()(HANDLE find) const { ::FindClose(find); }
};

} // namespace

std::vector<FolderEntry> folderEntries(const fs::path& folder, std::error_code& ec)
{
    ec.clear();
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = (folder / L"*").native();
    HANDLE first = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (first == INVALID_HANDLE_VALUE) {
        ec.assign(static_cast<int>(::GetLastError()), std::system_category());
        return entries;
    }
    const std::unique_ptr<void, FindCloser> find(first);
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const DWORD attributes = found.dwFileAttributes;
        entries.push_back({folder / name, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                              (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0});
    } while (::FindNextFileW(first, &found));
    if (::GetLastError() != ERROR_NO_MORE_FILES)
        ec.assign(static_cast<int>(::GetLastError()), std::system_category());
    return entries;
}
#else
std::vector<FolderEntry> folderEntries(const fs::path& folder, std::error_code& ec)
{
    std::vector<FolderEntry> entries;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        entries.push_back({it->path(), it->is_directory(ignored) && !it->is_symlink(ignored)});
    }
    return entries;
}
#endif

std::vector<FolderEntry> folderTree(const fs::path& root, std::error_code& ec,
                                    const std::function<bool(const fs::path&)>& skip)
{
    ec.clear();
    std::vector<FolderEntry> tree;
    std::error_code error;
    std::vector<FolderEntry> pending = folderEntries(root, error);
    if (error)
        ec = error;
    // Depth first, each folder before what it holds.
    std::reverse(pending.begin(), pending.end());
    while (!pending.empty()) {
        FolderEntry entry = std::move(pending.back());
        pending.pop_back();
        tree.push_back(entry);
        if (!entry.folder || (skip && skip(entry.path)))
            continue;
        std::vector<FolderEntry> inside = folderEntries(entry.path, error);
        if (error && !ec)
            ec = error;
        pending.insert(pending.end(), inside.rbegin(), inside.rend());
    }
    return tree;
}

void removeTree(const fs::path& root, std::error_code& ec)
{
    ec.clear();
    std::error_code missing;
    if (!fs::exists(fs::symlink_status(root, missing)))
        return;
    std::error_code error;
    const std::vector<FolderEntry> tree = folderTree(root, error);
    if (error)
        ec = error;
    // What a folder holds goes before the folder.
    for (auto it = tree.rbegin(); it != tree.rend(); ++it) {
        fs::remove(it->path, error);
        if (error && !ec)
            ec = error;
    }
    fs::remove(root, error);
    if (error && !ec)
        ec = error;
}

} // namespace platform
