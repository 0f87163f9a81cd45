#include "unrar/src/crypt/Rar3Sha1.h"

#include <cstring>

#include "unrar/src/crypt/Wipe.h"

namespace unrar::crypt {
namespace {

uint32_t rotl(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

} // namespace

Rar3Sha1::Rar3Sha1() : state_{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u} {}

Rar3Sha1::~Rar3Sha1()
{
    wipe(state_, sizeof state_);
    wipe(buffer_, sizeof buffer_);
}

void Rar3Sha1::compress(uint8_t* block, bool writeBack)
{
    // A rolling 16-word schedule: after the 80 steps it holds W[64..79].
    uint32_t w[16];
    for (int t = 0; t < 16; ++t)
        w[t] = uint32_t(block[4 * t]) << 24 | uint32_t(block[4 * t + 1]) << 16 | uint32_t(block[4 * t + 2]) << 8 |
               block[4 * t + 3];
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
    for (int t = 0; t < 80; ++t) {
        uint32_t word;
        if (t < 16) {
            word = w[t];
        } else {
            word = rotl(w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15], 1);
            w[t & 15] = word;
        }
        uint32_t f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        const uint32_t temp = rotl(a, 5) + f + e + k + word;
        e = d;
        d = c;
        c = rotl(b, 30);
        b = a;
        a = temp;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
    if (writeBack)
        for (int t = 0; t < 16; ++t)
            for (int i = 0; i < 4; ++i)
                block[4 * t + i] = static_cast<uint8_t>(w[t] >> (8 * i)); // little-endian, as the original stored them
    wipe(w, sizeof w);
}

void Rar3Sha1::update(uint8_t* data, size_t size)
{
    size_t used = static_cast<size_t>(total_ % 64);
    total_ += size;
    size_t i = 0;
    if (used + size >= 64) {
        i = 64 - used;
        std::memcpy(buffer_ + used, data, i);
        compress(buffer_, false);
        for (; i + 64 <= size; i += 64)
            compress(data + i, true);
        used = 0;
    }
    std::memcpy(buffer_ + used, data + i, size - i);
}

void Rar3Sha1::digest(uint8_t out[20]) const
{
    Rar3Sha1 copy = *this;
    uint8_t pad[72] = {0x80};
    const size_t used = static_cast<size_t>(total_ % 64);
    const size_t padLength = (used < 56 ? 56 : 120) - used;
    const uint64_t bits = total_ * 8;
    for (int i = 0; i < 8; ++i)
        pad[padLength + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    // The padding is this object's own buffer: nothing is written back into the caller's data.
    copy.update(pad, padLength + 8);
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j)
            out[4 * i + j] = static_cast<uint8_t>(copy.state_[i] >> (24 - 8 * j));
}

} // namespace unrar::crypt
