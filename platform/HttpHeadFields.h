#pragma once
// Reading the header fields of a response that every HTTP backend hands on
// in HttpResponseHead, so that each backend reads them alike.
#include "HttpClient.h"

#include <optional>
#include <string_view>

namespace platform {

// A decimal number of at most 19 digits and nothing else; nothing otherwise.
std::optional<std::uint64_t> decimalNumber(std::string_view text);

// "bytes FIRST-LAST/LENGTH" of a 206 answer into the head's range start and
// complete length; a value of another form leaves them unset.
void readContentRange(std::string_view value, HttpResponseHead& head);

// The text without the blanks around it.
std::string_view trimmedField(std::string_view text);

// True when a body of `received` bytes is what the head announced: a 304
// may announce the length of a body it does not send.
bool bodyAsAnnounced(const std::string& status, std::optional<std::uint64_t> announced, std::uint64_t received);

} // namespace platform
