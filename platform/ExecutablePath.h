#pragma once
#include <filesystem>

namespace platform {

// Full path of the running executable.
std::filesystem::path executablePath();

// Folder of the running executable.
std::filesystem::path executableFolder();

} // namespace platform
