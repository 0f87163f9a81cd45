#pragma once
// What the archive walk needs from the RAR 2.9 decoder: which RAR 4.x
// entries it decodes, the library's code for each outcome, and decoding a
// small packed buffer (a compressed comment).
#include <string>

#include "unrar/src/Entry.h"
#include "unrar/src/decode/rar29/Decoder.h"

namespace unrar {

// Compressed RAR 4.x data of the RAR 2.9 method (UnpVer 29; 36 is the same method).
bool isRar29Method(const Entry& e);

// ERAR_* code for a decoding outcome other than a cancel.
int rar29ResultCode(rar29::DecodeStatus status);

// Decodes a whole packed buffer that is not part of any solid stream.
bool unpackRar29(const Entry& service, const std::string& packed, std::string& out);

} // namespace unrar
