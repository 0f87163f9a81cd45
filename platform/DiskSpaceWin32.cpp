#include "DiskSpace.h"

#include "TextCodec.h"

#include <windows.h>

namespace platform {

std::optional<std::uint64_t> freeBytes(const std::string& folder)
{
    // The bytes available to this process's user, quotas included.
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(ansiToWide(folder).c_str(), &available, nullptr, nullptr))
        return std::nullopt;
    return available.QuadPart;
}

// NTFS and FAT have no fixed number of file entries to run out of.
std::optional<std::uint64_t> freeFileEntries(const std::string&) { return std::nullopt; }

} // namespace platform
