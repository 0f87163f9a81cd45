#pragma once
// Name and comment text conversions. The 8-bit side is the locale code
// page, which is UTF-8 on the platforms this library is built for.
#include <cstdint>
#include <string>

namespace unrar {

std::wstring utf8ToWide(const std::string& s);
std::string wideToUtf8(const std::wstring& w);
std::wstring utf16ToWide(const std::u16string& s); // surrogate pairs combined
bool isValidUtf8(const std::string& s);
// Single-byte text of unknown code page: kept when it is UTF-8, otherwise
// each byte is taken as Latin-1 so that nothing is lost or invalid.
std::wstring legacyToWide(const std::string& s);

// The RAR 4.x name field with the Unicode flag: an 8-bit name, a zero
// and the compressed UTF-16 form.
std::wstring decodeRar4UnicodeName(const std::string& field);

} // namespace unrar
