#pragma once
// Windows paths of the library: its UTF-8 text in the extended-length form
// (\\?\), so that neither the 260-character limit nor the renaming of names
// like "a." or "CON" applies.
#include <string>

namespace unrar {

// The absolute extended-length form of `utf8`; empty when it has none.
std::wstring extendedPath(const std::string& utf8);
// `name` (UTF-8) inside the folder `folder` (an extended-length path).
std::wstring childPath(const std::wstring& folder, const std::string& name);
// Text of the ANSI code page, as the narrow functions of the interface take it, as UTF-8.
std::string ansiToUtf8(const char* ansi);
// Text of the OEM code page, as RARProcessFile takes its destination, as UTF-8.
std::string oemToUtf8(const char* oem);

} // namespace unrar
