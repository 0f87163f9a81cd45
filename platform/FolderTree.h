#pragma once
// Listing and removing folder trees of the program folder. On Windows the C++
// library's directory iterators fail past 260 characters even on \\?\ paths
// (and so does remove_all), so there the system lists a folder itself.
#include <filesystem>
#include <functional>
#include <system_error>
#include <vector>

namespace platform {

struct FolderEntry {
    std::filesystem::path path;
    // A folder to enter: links and junctions to folders are not.
    bool folder = false;
};

// The entries of one folder; what was read when `ec` is set.
std::vector<FolderEntry> folderEntries(const std::filesystem::path& folder, std::error_code& ec);

// Every entry below `root`, each folder before what it holds. A folder for
// which `skip` is true is listed but not entered. A folder that cannot be
// read is left out of the walk, and `ec` tells of the first.
std::vector<FolderEntry> folderTree(const std::filesystem::path& root, std::error_code& ec,
                                    const std::function<bool(const std::filesystem::path&)>& skip = {});

// Removes `root` and all it holds (nothing when it is missing); `ec` tells
// of the first entry that stayed.
void removeTree(const std::filesystem::path& root, std::error_code& ec);

} // namespace platform
