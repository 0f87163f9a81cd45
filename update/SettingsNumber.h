#pragma once
// Whole numbers of the settings file, read strictly: a value the program
// cannot understand must stop it with a message, never silently mean a
// default (a cap written "5MB" is not "no cap").
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

// The decimal value of `key` in `section`, from 0 to `largest`; nothing when
// the key is missing or empty. Blanks around the digits are allowed, a
// leading '+' too; anything else throws MalformedSetting, whose text ends
// with `meaning` in brackets ("мегабайт; 0 — без ограничения", say).
std::optional<std::uint64_t> readWholeNumber(const platform::ProfileFile& settings, const std::string& section,
                                             const std::string& key, std::uint64_t largest, const std::string& meaning);
