#pragma once
// Permission bits of files, where the system has them (POSIX). Windows keeps
// no such bits: there every call finds and changes nothing.
#include <optional>
#include <string>
#include <system_error>

namespace platform {

// Read, write and execute bits of owner, group and others (0777 at most) of
// the regular file `path` names, following a link; nothing when it is no
// regular file, cannot be read, or the system has no such bits.
std::optional<unsigned> permissionBits(const std::string& path);

// Gives the regular file `path` names (never through a link) the bits
// `bits & 0777`; set-id and sticky bits are cleared.
std::error_code setPermissionBits(const std::string& path, unsigned bits);

// The bits the process's creation mask (umask) keeps off new files.
unsigned creationMask();

} // namespace platform
