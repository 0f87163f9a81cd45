#include "HttpUrl.h"

#include "HttpHeadFields.h"

#include <cctype>
#include <string_view>

namespace platform {

namespace {

std::string lowered(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool isHostName(std::string_view host)
{
    if (host.empty())
        return false;
    for (const char c : host)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_')
            return false;
    return true;
}

bool isBracketedAddress(std::string_view host)
{
    if (host.size() < 3 || host.front() != '[' || host.back() != ']')
        return false;
    for (const char c : host.substr(1, host.size() - 2))
        if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.')
            return false;
    return true;
}

} // namespace

std::string HttpUrl::origin() const { return scheme() + "://" + host + ":" + std::to_string(port); }

std::string schemeOf(const std::string& url)
{
    const std::size_t end = url.find("://");
    return end == std::string::npos ? std::string() : lowered(std::string_view(url).substr(0, end));
}

std::optional<HttpUrl> parseHttpUrl(const std::string& url)
{
    HttpUrl parts;
    const std::string scheme = schemeOf(url);
    if (scheme != "http" && scheme != "https")
        return std::nullopt;
    parts.https = scheme == "https";
    const std::string_view rest = std::string_view(url).substr(scheme.size() + 3);
    const std::size_t authorityEnd = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, authorityEnd);
    std::string_view target = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
    target = target.substr(0, target.find('#'));

    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view credentials = authority.substr(0, at);
        const std::size_t colon = credentials.find(':');
        parts.user = credentials.substr(0, colon);
        if (colon != std::string_view::npos)
            parts.password = credentials.substr(colon + 1);
        authority.remove_prefix(at + 1);
    }
    // The port's colon is the last one, after an IPv6 address's bracket.
    const std::size_t colon = authority.rfind(':');
    const std::size_t bracket = authority.rfind(']');
    std::string_view host = authority;
    parts.port = parts.https ? 443 : 80;
    if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
        host = authority.substr(0, colon);
        const std::string_view port = authority.substr(colon + 1);
        if (!port.empty()) {
            const auto number = decimalNumber(port);
            if (!number || *number == 0 || *number > 65535)
                return std::nullopt;
            parts.port = static_cast<unsigned>(*number);
        }
    }
    if (!isHostName(host) && !isBracketedAddress(host))
        return std::nullopt;
    parts.host = host;
    parts.target = target.empty() || target.front() != '/' ? "/" + std::string(target) : std::string(target);
    return parts;
}

std::optional<HttpUrl> parseProxy(const std::string& proxy)
{
    return parseHttpUrl(schemeOf(proxy).empty() ? "http://" + proxy : proxy);
}

std::string redirectTarget(const HttpUrl& base, const std::string& location)
{
    if (!schemeOf(location).empty())
        return location;
    if (location.rfind("//", 0) == 0)
        return base.scheme() + ":" + location;
    if (!location.empty() && location.front() == '/')
        return base.origin() + location;
    const std::string path = base.target.substr(0, base.target.find('?'));
    if (!location.empty() && location.front() == '?')
        return base.origin() + path + location;
    return base.origin() + path.substr(0, path.rfind('/') + 1) + location;
}

bool proxyBypassed(const std::string& host, const std::string& noProxy)
{
    const std::string name = lowered(host);
    std::string_view list = noProxy;
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        std::string entry = lowered(trimmedField(list.substr(0, comma)));
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        if (entry == "*")
            return true;
        if (!entry.empty() && entry.front() == '.')
            entry.erase(0, 1);
        if (entry.empty())
            continue;
        if (name == entry ||
            (name.size() > entry.size() && name.compare(name.size() - entry.size(), entry.size(), entry) == 0 &&
             name[name.size() - entry.size() - 1] == '.'))
            return true;
    }
    return false;
}

} // namespace platform
