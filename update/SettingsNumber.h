#pragma once
// Numbers of the settings file, read strictly and alike for every key: a
// value the program cannot understand must stop it with a message, never
// silently mean a default (a cap written "5MB" is not "no cap").
#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace platform {
class ProfileFile;
}

// A key whose value is no number in range; what() is the message for the user
// (UTF-8), naming the settings file, the section, the key and the value.
class MalformedSetting : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws MalformedSetting for the value `text` of `key`: "… нужно `expected`."
[[noreturn]] void refuseSetting(const platform::ProfileFile& settings, const std::string& section,
                                const std::string& key, const std::string& text, const std::string& expected);

// Every number is written the same way: decimal digits, a leading '+'
// allowed, blanks around them too; a fraction ("0.5") only where the key
// takes one. A missing or empty key gives nothing; any other text throws
// MalformedSetting.

// The whole number of `key` in `section`, from 0 to `largest`; the message
// ends with `meaning` in brackets ("мегабайт; 0 — без ограничения", say).
std::optional<std::uint64_t> readWholeNumber(const platform::ProfileFile& settings, const std::string& section,
                                             const std::string& key, std::uint64_t largest, const std::string& meaning);

// A time limit in `unit`s, with a fraction if need be. Limits are stated
// and checked to the second, so a value below one second is refused
// rather than taken as 0 s; `expected` is the message's "нужно …" part.
std::optional<std::chrono::milliseconds> readDuration(const platform::ProfileFile& settings, const std::string& section,
                                                      const std::string& key, std::chrono::milliseconds unit,
                                                      const std::string& expected);
