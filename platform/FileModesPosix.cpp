#include "FileModes.h"

#include <cerrno>
#include <fstream>
#include <sys/stat.h>

namespace platform {

std::optional<unsigned> permissionBits(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<unsigned>(st.st_mode) & 0777u;
}

std::error_code setPermissionBits(const std::string& path, unsigned bits)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return {errno, std::generic_category()};
    if (!S_ISREG(st.st_mode))
        return std::make_error_code(std::errc::invalid_argument);
    if (::chmod(path.c_str(), static_cast<mode_t>(bits & 0777u)) != 0)
        return {errno, std::generic_category()};
    return {};
}

unsigned creationMask()
{
    // Read from the process's status where the kernel shows it, since
    // umask() can only be read by changing it, which races with other
    // threads creating files.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<unsigned>(std::stoul(line.substr(6), nullptr, 8)) & 0777u;
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return static_cast<unsigned>(mask) & 0777u;
}

} // namespace platform
