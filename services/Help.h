#pragma once
// The help file beside the executable and the help commands of the data module.
#include "platform/HelpViewer.h"
#include "platform/Messages.h"

#include <cstdint>
#include <string>

namespace services {

// Full path of "Tavrel.chm" beside the executable (8-bit, ANSI).
std::string HelpFileBesideExecutable();

// Command 0 with data 0 shows the contents of `helpFile`, command 1 the topic
// page Data; CallHelp is always set false. True when a help window shows what
// was asked; otherwise `messages` tells why. `viewer` nullptr means no help
// window can be shown.
bool ShowHelp(const std::string& helpFile, platform::HelpViewer* viewer, platform::Messages& messages,
              std::uint16_t Command, std::int32_t Data, bool& CallHelp);

} // namespace services
