#include "platform/HelpViewer.h"

namespace platform {

HelpAddress splitHelpAddress(const std::string& address)
{
    // The last "::": a Windows path holds single colons only.
    const auto separator = address.rfind("::");
    if (separator == std::string::npos)
        return {address, {}};
    return {address.substr(0, separator), address.substr(separator + 2)};
}

} // namespace platform
