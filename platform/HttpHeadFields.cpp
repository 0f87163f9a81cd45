#include "HttpHeadFields.h"

#include <cctype>

namespace platform {

std::optional<std::uint64_t> decimalNumber(std::string_view text)
{
    if (text.empty() || text.size() > 19)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

void readContentRange(std::string_view value, HttpResponseHead& head)
{
    const std::size_t space = value.find(' ');
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.find('/');
    if (space == std::string_view::npos || dash == std::string_view::npos || slash == std::string_view::npos ||
        dash < space || slash < dash)
        return;
    head.rangeStart = decimalNumber(value.substr(space + 1, dash - space - 1));
    head.completeLength = decimalNumber(value.substr(slash + 1));
}

std::string_view trimmedField(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    return text;
}

bool bodyAsAnnounced(const std::string& status, std::optional<std::uint64_t> announced, std::uint64_t received)
{
    return !announced || *announced == received || status == "304";
}

} // namespace platform
