#pragma once
// Decoding a small packed RAR 5.0 buffer (a compressed comment) outside the
// archive walk.
#include <string>

#include "unrar/src/Entry.h"

namespace unrar {

// Decodes a whole packed buffer that is not part of any solid stream.
bool unpackRar5(const Entry& service, const std::string& packed, std::string& out);

} // namespace unrar
