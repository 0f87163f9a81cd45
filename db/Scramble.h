#pragma once
// Scrambling of the passwords kept in the settings file: every byte is
// combined by exclusive-or with a fixed 12-byte key and written as two
// lower-case hexadecimal digits.
#include <string>
#include <string_view>

namespace scramble {

std::string XorEncode(std::string_view Source);

// Never fails: a last odd character is ignored, and a pair that is not a
// hexadecimal number stands for the value 32.
std::string XorDecode(std::string_view Source);

} // namespace scramble
