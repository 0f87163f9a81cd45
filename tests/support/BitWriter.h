#pragma once
// An MSB-first bit stream, as RAR's decoders read packed data: each value's
// highest bit first, each byte filled from its top bit down.
#include <cstdint>
#include <string>

namespace tavrel::test {

struct BitWriter {
    std::string out;
    uint64_t bits = 0;
    // The low `count` bits of `value`.
    void put(uint64_t value, unsigned count)
    {
        for (int i = static_cast<int>(count) - 1; i >= 0; --i) {
            if (bits % 8 == 0)
                out.push_back('\0');
            if ((value >> i) & 1)
                out.back() = static_cast<char>(out.back() | (0x80 >> (bits % 8)));
            ++bits;
        }
    }
};

} // namespace tavrel::test
