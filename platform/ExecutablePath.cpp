#include "ExecutablePath.h"

#ifdef _WIN32
#include <vector>
#include <windows.h>
#endif

namespace platform {

std::filesystem::path executablePath()
{
#ifdef _WIN32
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n < buf.size())
            return std::filesystem::path(std::wstring(buf.data(), n));
        buf.resize(buf.size() * 2);
    }
#else
    return std::filesystem::read_symlink("/proc/self/exe");
#endif
}

std::filesystem::path executableFolder() { return executablePath().parent_path(); }

} // namespace platform
