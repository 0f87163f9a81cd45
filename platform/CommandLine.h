#pragma once
// Windows hands a program one command line, which the C run time splits into
// arguments; a caller that starts a program joins them so the split gives
// them back as they were.
#include <string>

namespace platform {

// One argument of a command line: as it is when it holds no blank, tab or
// quote and is not empty, else quoted, with the backslashes before a quote
// (and before the closing quote) doubled.
std::wstring quotedArgument(const std::wstring& argument);

} // namespace platform
