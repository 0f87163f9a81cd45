#pragma once
// Turns an update location as people type it into a URL that an HTTP client
// accepts, as a browser's address bar does.
#include <string>

namespace platform {

// Percent-encodes, after the host, what may not stand raw in a URL: blanks
// and other controls, the characters " < > \ ^ ` { | }, a '%' that does not
// start a %xx escape, and every byte of a non-ASCII letter (its UTF-8 form).
// Existing %xx escapes and the reserved characters (/ ? # & = + : ; @ ...)
// are left alone, so a location typed raw and its encoded form give the same
// URL. The scheme and the host stay as they are: a host is not escaped.
// `utf8` must be UTF-8.
std::string encodeUrl(const std::string& utf8);

// The scheme of a location written "scheme://...", in lower case ("file",
// "ftp", "http"); empty when it starts with no scheme followed by "//"
// ("host:8080/path" has none).
std::string urlScheme(const std::string& location);

} // namespace platform
