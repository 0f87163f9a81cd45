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

// An HTTP date in any of its three forms ("Sun, 06 Nov 1994 08:49:37 GMT",
// "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994") as seconds
// since 1970; nothing for another text.
std::optional<std::int64_t> httpDate(std::string_view text);

// True when `text` is an HTTP date later than `reference` (seconds since 1970).
bool dateAfter(std::string_view text, std::int64_t reference);

// Takes the Last-Modified `value` of a response that the server sent with
// the Date `date` (empty: none) into the head, unless it lies after that
// date (without one, after `now`): a modification time in the future would
// be sent back as If-Modified-Since and hide every release until then.
void readLastModified(std::string_view value, std::string_view date, std::int64_t now, HttpResponseHead& head);

// The text without the blanks around it.
std::string_view trimmedField(std::string_view text);

// True when a body of `received` bytes is what the head announced: a 304
// may announce the length of a body it does not send.
bool bodyAsAnnounced(const std::string& status, std::optional<std::uint64_t> announced, std::uint64_t received);

} // namespace platform
