#pragma once
// The delta filter, alike in both compressed formats: the block holds each
// channel's byte differences, one channel after the other, and the result
// interleaves the channels again (byte i belongs to channel i % channels).
#include <cstdint>

namespace unrar::decode {

// Writes the `length` restored bytes to `out`, which must not overlap `in`.
inline void undoDelta(const uint8_t* in, uint8_t* out, uint32_t length, uint32_t channels)
{
    uint32_t src = 0;
    // Channels beyond the block have no bytes; 64-bit steps cannot wrap.
    for (uint64_t ch = 0; ch < channels && ch < length; ++ch) {
        uint8_t prev = 0;
        for (uint64_t i = ch; i < length; i += channels) {
            prev = static_cast<uint8_t>(prev - in[src++]);
            out[i] = prev;
        }
    }
}

} // namespace unrar::decode
