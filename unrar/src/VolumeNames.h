#pragma once
#include <string>

namespace unrar {

// Next volume after `current`: with new numbering the part number counts up
// keeping its width (`x.part09.rar` -> `x.part10.rar`); with old numbering
// `.rar` becomes `.r00` and the digits count up into the letter.
std::string nextVolumeName(const std::string& current, bool newNumbering);

} // namespace unrar
