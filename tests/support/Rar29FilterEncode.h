#pragma once
// The encoding side of the RGB and audio filters of RAR 2.9 data, written
// from the format's description of the decoding side: what a compressor
// stores so that the filter gives back `original`. The fixtures pack these
// bytes under a filter record and expect the original bytes (and CRC) back.
#include <cstdint>
#include <string>

namespace tavrel::test {

// RGB: `stride` is the filter's R0, the distance to the byte above-left
// (bytes per line + 3); `posR` its R1, the offset of the first red byte.
std::string rgbFilterEncode(const std::string& original, uint32_t stride, uint32_t posR);

// Audio: `channels` interleaved byte channels (the filter's R0).
std::string audioFilterEncode(const std::string& original, uint32_t channels);

} // namespace tavrel::test
