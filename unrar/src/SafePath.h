#pragma once
// Turns a stored entry name into path components that stay inside the
// destination folder, or refuses it.
#include <string>
#include <vector>

namespace unrar {

// Splits at '/' and '\', dropping empty components; "." and ".." are kept
// for the caller to judge. False for names that are not relative: empty,
// embedded zeros, a leading separator (absolute, UNC and device forms) or a
// drive letter.
bool splitRelativeName(const std::string& name, std::vector<std::string>& parts);

// False for absolute names, drive letters, UNC names, "." or ".." anywhere,
// empty names and embedded zeros. Empty components ("a//b") are dropped.
// On Windows also for any component isWindowsFileName refuses.
bool splitSafeRelativePath(const std::string& name, std::vector<std::string>& components);

// False for a name that Windows would take for something else: a reserved
// device name (CON, aux.txt, LPT1), a trailing dot or space (Windows drops
// them), a ':' (an alternate data stream) or another character Windows
// forbids in names.
bool isWindowsFileName(const std::string& component);

// The components joined with '/': the form the extraction records paths in.
std::string joinComponents(const std::vector<std::string>& components);

} // namespace unrar
