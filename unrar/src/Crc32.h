#pragma once
// CRC-32 of entry data. libdeflate's carry-less-multiply version runs
// several times faster than zlib's here, and the CRC is what bounds
// testing a stored entry.
#include <libdeflate.h>

#include <cstddef>
#include <cstdint>

namespace unrar {

inline uint32_t crc32Update(uint32_t crc, const void* data, size_t size) { return libdeflate_crc32(crc, data, size); }

} // namespace unrar
