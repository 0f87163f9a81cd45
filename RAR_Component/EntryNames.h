#pragma once
// Entry names as the extraction uses them to build target paths.
#include <string>

// Path separator of the platform, and whether a character separates the
// parts of a stored name (on Windows also "/" and the drive's ":").
char pathSeparator();
bool isNameSeparator(char16_t c);

// The text after the last separator of a stored name.
std::u16string lastNameComponent(const std::u16string& name);

// Whether a last name component may be joined to a folder as a file name
// without leaving that folder: not empty, not "." or "..".
bool isPlainFileName(const std::u16string& component);
