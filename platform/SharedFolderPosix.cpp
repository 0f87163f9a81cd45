#include "platform/SharedFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace platform {

void shareWithFolder(const std::filesystem::path& entry)
{
    struct stat folder {};
    struct stat own {};
    const std::filesystem::path parent = entry.parent_path().empty() ? "." : entry.parent_path();
    if (::stat(parent.c_str(), &folder) != 0 || ::lstat(entry.c_str(), &own) != 0 || S_ISLNK(own.st_mode))
        return;
    if (own.st_uid != ::geteuid() && ::geteuid() != 0)
        return;
    const bool shared = (folder.st_mode & S_IWGRP) != 0;
    // A user of the folder's group may give an entry that group; the
    // setgid bit survives a chown of our own folder, but not of a file.
    if (shared && own.st_gid != folder.st_gid && ::chown(entry.c_str(), static_cast<uid_t>(-1), folder.st_gid) == 0)
        ::lstat(entry.c_str(), &own);
    const unsigned mode = own.st_mode & 07777;
    const unsigned wanted = modeForNewEntry(folder.st_mode & 07777, mode, S_ISDIR(own.st_mode));
    if (wanted != mode)
        ::chmod(entry.c_str(), static_cast<mode_t>(wanted));
}

void createSharedFolders(const std::filesystem::path& folder, std::error_code& ec)
{
    ec.clear();
    // The folders missing, outermost first.
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path at = folder; !at.empty() && !std::filesystem::exists(at, ec); at = at.parent_path()) {
        missing.insert(missing.begin(), at);
        if (at == at.parent_path())
            break;
    }
    std::filesystem::create_directories(folder, ec);
    if (ec)
        return;
    for (const std::filesystem::path& made : missing)
        shareWithFolder(made);
    if (missing.empty())
        shareWithFolder(folder);
}

} // namespace platform
