#include "DiskSpace.h"

#include "TextCodec.h"

#include <windows.h>

namespace platform {

std::optional<std::uint64_t> freeBytes(const std::string& folder)
{
    const std::u16string name = ansiToUtf16(folder);
    // The bytes available to this process's user, quotas included.
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(reinterpret_cast<const wchar_t*>(name.c_str()), &available, nullptr, nullptr))
        return std::nullopt;
    return available.QuadPart;
}

} // namespace platform
