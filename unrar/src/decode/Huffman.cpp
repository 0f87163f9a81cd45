#include "unrar/src/decode/Huffman.h"

#include <algorithm>

namespace unrar::decode {

bool HuffmanTable::build(const uint8_t* lengths, size_t count)
{
    limit_.fill(0);
    first_.fill(0);
    symbolCount_ = 0;
    if (count > kMaxSymbols)
        return false;
    std::array<uint32_t, kMaxLength + 1> perLength{};
    for (size_t s = 0; s < count; ++s) {
        if (lengths[s] > kMaxLength)
            return false;
        ++perLength[lengths[s]];
    }
    // Left-aligned 16-bit bounds: codes of length l occupy [limit[l-1], limit[l]).
    // An over-subscribed set runs past 16 bits: the codes that fit are read
    // as usual and the rest can never be read.
    uint32_t code = 0; // first code of the current length, left-aligned
    uint32_t index = 0;
    for (unsigned l = 1; l <= kMaxLength; ++l) {
        first_[l] = index;
        code += perLength[l] << (16 - l);
        limit_[l] = code;
        index += perLength[l];
    }
    std::array<uint32_t, kMaxLength + 1> next = first_;
    for (size_t s = 0; s < count; ++s)
        if (lengths[s])
            sorted_[next[lengths[s]]++] = static_cast<uint16_t>(s);
    symbolCount_ = index;

    // The fast table covers every code of at most kFastBits bits; entries
    // past limit_[kFastBits] are never looked at.
    const uint32_t fastEnd = std::min<uint32_t>(limit_[kFastBits] >> (16 - kFastBits), 1u << kFastBits);
    unsigned l = 1;
    for (uint32_t i = 0; i < fastEnd; ++i) {
        const uint32_t v = i << (16 - kFastBits);
        while (v >= limit_[l])
            ++l;
        const uint32_t idx = first_[l] + ((v - limit_[l - 1]) >> (16 - l));
        fast_[i] = Fast{sorted_[idx], static_cast<uint8_t>(l)};
    }
    return true;
}

int HuffmanTable::decodeLong(BitReader& in, uint32_t v) const
{
    for (unsigned l = kFastBits + 1; l <= kMaxLength; ++l) {
        if (v < limit_[l]) {
            const uint32_t idx = first_[l] + ((v - limit_[l - 1]) >> (16 - l));
            if (idx >= symbolCount_)
                return kBadCode;
            in.skip(l);
            return sorted_[idx];
        }
    }
    return kBadCode;
}

} // namespace unrar::decode
