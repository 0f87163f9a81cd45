#pragma once
// Canonical prefix codes of up to 15 bits, decoded through a first-level
// table of kFastBits bits and a walk over the longer lengths.
#include <array>
#include <cstdint>
#include <vector>

#include "unrar/src/decode/rar29/BitInput.h"

namespace unrar::rar29 {

class PrefixCode {
public:
    static constexpr unsigned kMaxLength = 15;

    // False when the lengths over-subscribe the code space. Incomplete codes
    // are accepted; reading one of their unassigned patterns fails.
    bool build(const uint8_t* lengths, unsigned count);

    // The next symbol, or -1 for an unassigned pattern.
    int decode(BitInput& in) const
    {
        in.ensure();
        const uint32_t bits = in.peek(kMaxLength);
        const Fast f = fast_[bits >> (kMaxLength - kFastBits)];
        if (f.length) {
            in.skip(f.length);
            return f.symbol;
        }
        return decodeLong(in, bits);
    }

private:
    static constexpr unsigned kFastBits = 10;
    struct Fast {
        uint16_t symbol = 0;
        uint8_t length = 0; // 0: longer code or unassigned
    };

    int decodeLong(BitInput& in, uint32_t bits) const;

    std::array<Fast, 1u << kFastBits> fast_{};
    // For each length, the first code left-aligned to 15 bits and the end of its range.
    std::array<uint32_t, kMaxLength + 2> limit_{};
    std::array<uint32_t, kMaxLength + 1> first_{};
    std::array<uint16_t, kMaxLength + 1> offset_{}; // index into sorted_ of the length's first symbol
    std::vector<uint16_t> sorted_;
};

} // namespace unrar::rar29
