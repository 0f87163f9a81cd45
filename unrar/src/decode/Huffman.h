#pragma once
// Canonical Huffman decoding from code lengths (1..15 bits, 0 = unused),
// codes read most-significant bit first: shorter codes first, equal
// lengths in symbol order. Codes of up to kFastBits bits are found with
// one table lookup, longer ones by comparing against the left-aligned
// upper bound of each length. Over-subscribed length sets are accepted as
// the genuine library accepts them: codes are handed out in that order
// while the code space lasts, and the symbols left over are never decoded.
// Under-subscribed sets are accepted too; reading one of their unassigned
// codes reports an error instead of a symbol.
#include <array>
#include <cstddef>
#include <cstdint>

#include "unrar/src/decode/BitReader.h"

namespace unrar::decode {

class HuffmanTable {
public:
    static constexpr unsigned kMaxLength = 15;
    static constexpr size_t kMaxSymbols = 512;
    static constexpr unsigned kFastBits = 10;
    static constexpr int kBadCode = -1;

    // False when `count` exceeds kMaxSymbols or a length exceeds 15. The
    // table is then empty (every read fails).
    bool build(const uint8_t* lengths, size_t count);
    bool empty() const { return symbolCount_ == 0; }

    // The next symbol, or kBadCode for an unassigned code (nothing consumed
    // then). Looks at 16 bits, which may include the reader's zero padding.
    int decode(BitReader& in) const
    {
        const uint32_t v = in.peek(16);
        if (v < limit_[kFastBits]) [[likely]] {
            const Fast f = fast_[v >> (16 - kFastBits)];
            in.skip(f.length);
            return f.symbol;
        }
        return decodeLong(in, v);
    }

private:
    // Codes longer than kFastBits (kept out of line so that decode() inlines).
    int decodeLong(BitReader& in, uint32_t v) const;

    struct Fast {
        uint16_t symbol;
        uint8_t length;
    };
    std::array<uint32_t, kMaxLength + 1> limit_{}; // exclusive upper bound per length, 16-bit aligned
    std::array<uint32_t, kMaxLength + 1> first_{}; // index in sorted_ of each length's first code
    std::array<uint16_t, kMaxSymbols> sorted_{};
    uint32_t symbolCount_ = 0;
    std::array<Fast, size_t(1) << kFastBits> fast_{};
};

} // namespace unrar::decode
