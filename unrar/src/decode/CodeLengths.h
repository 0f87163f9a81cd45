#pragma once
// How both compressed formats send the code lengths of their Huffman
// tables: first 20 four-bit lengths of a small code (15 followed by a
// nonzero count stands for count + 2 zeros), then that code's symbols, one
// or a run of lengths each: 0..15 a length, 16 and 17 repeat the length
// before (3 + 3 bits or 11 + 7 bits times), 18 and 19 give as many zeros.
#include <cstddef>
#include <cstdint>

#include "unrar/src/decode/BitReader.h"
#include "unrar/src/decode/Huffman.h"

namespace unrar::decode {

constexpr size_t kLengthCodeSize = 20;

// Reads the lengths of the code that codes the tables' lengths.
inline void readLengthCodeLengths(BitReader& br, uint8_t (&lengths)[kLengthCodeSize])
{
    for (size_t i = 0; i < kLengthCodeSize;) {
        const uint32_t v = br.read(4);
        if (v != 15) {
            lengths[i++] = static_cast<uint8_t>(v);
            continue;
        }
        const uint32_t zeros = br.read(4);
        if (zeros == 0) {
            lengths[i++] = 15;
        } else {
            for (uint32_t n = zeros + 2; n > 0 && i < kLengthCodeSize; --n)
                lengths[i++] = 0;
        }
    }
}

// Decodes `count` code lengths with `lengthCode`. Where `previous` is
// given, a plain length is a change to the one there (added modulo 16).
// `more()` is asked before each symbol: false stops the read (the caller's
// input is spent). False on a stop, an unassigned code, or a repeat with
// nothing before it.
template <class More>
bool readCodeLengths(BitReader& br, const HuffmanTable& lengthCode, uint8_t* lengths, size_t count,
                     const uint8_t* previous, More more)
{
    for (size_t i = 0; i < count;) {
        if (!more())
            return false;
        const int s = lengthCode.decode(br);
        if (s < 0)
            return false;
        if (s < 16) {
            lengths[i] = static_cast<uint8_t>(previous ? (previous[i] + s) & 15 : s);
            ++i;
            continue;
        }
        uint8_t value = 0;
        uint32_t n;
        if (s < 18) {
            if (i == 0)
                return false; // nothing to repeat
            n = s == 16 ? 3 + br.read(3) : 11 + br.read(7);
            value = lengths[i - 1];
        } else {
            n = s == 18 ? 3 + br.read(3) : 11 + br.read(7);
        }
        for (; n > 0 && i < count; --n)
            lengths[i++] = value;
    }
    return true;
}

} // namespace unrar::decode
