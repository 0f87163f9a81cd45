#pragma once
// The parts of an http:// or https:// URL, for a client that is handed them
// apart (WinInet), and where a redirect leads.
#include <optional>
#include <string>

namespace platform {

struct HttpUrl {
    bool https = false;
    std::string user; // of "user:password@host", as written
    std::string password;
    std::string host;   // a name, an IPv4 address or a bracketed IPv6 one
    unsigned port = 0;  // the scheme's when the URL names none
    std::string target; // path and query, "/" at least; the fragment left out

    std::string scheme() const { return https ? "https" : "http"; }
    // "scheme://host:port", the base of a redirect to "/path".
    std::string origin() const;
};

// Nothing when the text is no http or https URL a request can be sent to:
// another scheme, no host, a host with characters no host name has (a
// blank), a port out of range.
std::optional<HttpUrl> parseHttpUrl(const std::string& url);

// A proxy as a setting or the environment names it: "host", "host:port" or
// an http:// or https:// URL (its path is of no account). Nothing for any
// other text, which neither HTTP client could use.
std::optional<HttpUrl> parseProxy(const std::string& proxy);

// The scheme of "scheme://..." in lower case; empty without one.
std::string schemeOf(const std::string& url);

// The URL a redirect's Location leads to from `base`: an absolute URL as it
// is, "//host/..." with the base's scheme, "/path" on the base's server,
// anything else beside the base's path.
std::string redirectTarget(const HttpUrl& base, const std::string& location);

// True when `host` is one that no_proxy names: "*", the host itself, or a
// domain it lies in (".example.org" or "example.org"), entries separated
// by commas; names compared without regard to case.
bool proxyBypassed(const std::string& host, const std::string& noProxy);

} // namespace platform
