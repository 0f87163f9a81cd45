#pragma once
// A text as the program's 8-bit strings hold it: in the system's ANSI code
// page, which is UTF-8 on Linux and 1251 on a Russian Windows (and in the
// Wine that runs the tests).
#include "platform/TextCodec.h"

#include <string>
#include <string_view>

namespace testsupport {

inline std::string ansi(std::string_view utf8) { return platform::utf16ToAnsi(platform::toUtf16(utf8)); }

} // namespace testsupport
