#pragma once
// Conversions between the program's text forms. User-visible texts are UTF-16;
// 8-bit texts are in the system ANSI code page, which on Linux is the
// locale's, UTF-8.
#include <string>
#include <string_view>

namespace platform {

std::u16string toUtf16(std::string_view utf8);
std::string toUtf8(std::u16string_view utf16);

// 8-bit text of the system ANSI code page to UTF-16 and back.
std::u16string ansiToUtf16(std::string_view ansi);
std::string utf16ToAnsi(std::u16string_view utf16);

#ifdef _WIN32
// 8-bit ANSI text as the wide characters that the system's W calls take.
std::wstring ansiToWide(std::string_view ansi);
#endif

// The OEM form of an ANSI text (CharToOemA). Both code pages are the
// locale's on Linux, so this is the identity there.
std::string charToOem(std::string_view ansi);

} // namespace platform
