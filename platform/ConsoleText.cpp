#include "ConsoleText.h"

#include <iostream>

namespace platform {

std::optional<std::string> readStandardLine()
{
    std::string line;
    if (!std::getline(std::cin, line))
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace platform
