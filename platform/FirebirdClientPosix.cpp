#include "FirebirdClient.h"

namespace platform {

// The driver's dependency on libfbclient is resolved by the system's loader.
std::string loadFirebirdClient() { return {}; }

} // namespace platform
