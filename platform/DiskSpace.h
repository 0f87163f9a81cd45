#pragma once
// Free space of the file system that holds a folder.
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Bytes an unprivileged process may still write below `folder`; nothing when
// the system cannot tell.
std::optional<std::uint64_t> freeBytes(const std::string& folder);

// Files and folders an unprivileged process may still create there (free
// inodes); nothing when the file system has no such limit or cannot tell.
std::optional<std::uint64_t> freeFileEntries(const std::string& folder);

} // namespace platform
