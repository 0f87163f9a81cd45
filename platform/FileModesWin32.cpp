#include "FileModes.h"

namespace platform {

std::optional<unsigned> permissionBits(const std::string&) { return std::nullopt; }

std::error_code setPermissionBits(const std::string&, unsigned) { return {}; }

unsigned creationMask() { return 0; }

} // namespace platform
