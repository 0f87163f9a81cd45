#include "unrar/src/decode/rar29/PrefixCode.h"

namespace unrar::rar29 {

bool PrefixCode::build(const uint8_t* lengths, unsigned count)
{
    std::array<unsigned, kMaxLength + 1> perLength{};
    for (unsigned i = 0; i < count; ++i)
        ++perLength[lengths[i] & 0x0F];
    perLength[0] = 0;
    // Codes of each length start where the shorter ones end; past 2^15 the set is over-subscribed.
    uint32_t code = 0;
    unsigned index = 0;
    for (unsigned len = 1; len <= kMaxLength; ++len) {
        first_[len] = code << (kMaxLength - len);
        offset_[len] = static_cast<uint16_t>(index);
        code += perLength[len];
        if (code > (1u << len))
            return false;
        limit_[len] = code << (kMaxLength - len);
        index += perLength[len];
        code <<= 1;
    }
    sorted_.assign(index, 0);
    std::array<unsigned, kMaxLength + 1> next{};
    for (unsigned len = 1; len <= kMaxLength; ++len)
        next[len] = offset_[len];
    for (unsigned i = 0; i < count; ++i) {
        unsigned len = lengths[i] & 0x0F;
        if (len)
            sorted_[next[len]++] = static_cast<uint16_t>(i);
    }
    fast_.fill(Fast{});
    for (unsigned len = 1; len <= kFastBits; ++len) {
        for (unsigned k = 0; k < perLength[len]; ++k) {
            uint32_t start = (first_[len] >> (kMaxLength - kFastBits)) + (k << (kFastBits - len));
            Fast f{sorted_[offset_[len] + k], static_cast<uint8_t>(len)};
            for (uint32_t j = 0; j < (1u << (kFastBits - len)); ++j)
                fast_[start + j] = f;
        }
    }
    return true;
}

int PrefixCode::decodeLong(BitInput& in, uint32_t bits) const
{
    for (unsigned len = kFastBits + 1; len <= kMaxLength; ++len) {
        if (bits < limit_[len] && bits >= first_[len]) {
            in.skip(len);
            return sorted_[offset_[len] + ((bits - first_[len]) >> (kMaxLength - len))];
        }
    }
    return -1;
}

} // namespace unrar::rar29
