#include "DiskSpace.h"

#include <sys/statvfs.h>

namespace platform {

std::optional<std::uint64_t> freeBytes(const std::string& folder)
{
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

std::optional<std::uint64_t> freeFileEntries(const std::string& folder)
{
    struct statvfs info {};
    // File systems that allocate inodes as needed report a total of 0.
    if (::statvfs(folder.c_str(), &info) != 0 || info.f_files == 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(info.f_favail);
}

} // namespace platform
