#include "UrlEncoding.h"

#include <cctype>
#include <string_view>

namespace platform {

namespace {

bool isHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool mustBeEscaped(unsigned char c)
{
    if (c <= 0x20 || c >= 0x7F)
        return true;
    return std::string_view("\"<>\\^`{|}").find(static_cast<char>(c)) != std::string_view::npos;
}

// Where the part after the host starts: past "scheme://" and the authority
// up to the first '/', '?' or '#'. Without "://" the whole text is escaped
// as a path would be.
std::size_t afterAuthority(const std::string& url)
{
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos)
        return 0;
    const std::size_t authority = schemeEnd + 3;
    const std::size_t end = url.find_first_of("/?#", authority);
    return end == std::string::npos ? url.size() : end;
}

} // namespace

std::string encodeUrl(const std::string& utf8)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    const std::size_t start = afterAuthority(utf8);
    std::string url = utf8.substr(0, start);
    for (std::size_t i = start; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const bool escape =
            c == '%' ? !(i + 2 < utf8.size() && isHexDigit(utf8[i + 1]) && isHexDigit(utf8[i + 2])) : mustBeEscaped(c);
        if (escape) {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 0x0F];
        } else {
            url += static_cast<char>(c);
        }
    }
    return url;
}

std::string urlScheme(const std::string& location)
{
    const std::size_t colon = location.find("://");
    if (colon == std::string::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(location[0])))
        return {};
    std::string scheme = location.substr(0, colon);
    for (char& c : scheme) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '+' && c != '-' && c != '.')
            return {};
        c = static_cast<char>(std::tolower(u));
    }
    return scheme;
}

} // namespace platform
