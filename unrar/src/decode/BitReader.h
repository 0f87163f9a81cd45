#pragma once
// Reads a bit stream most-significant bit first (the order of both RAR
// compressed formats) from a byte buffer. Up to 32 bits are looked at or
// taken at once with one unaligned 64-bit load; near the end of the buffer
// the missing bytes read as zero, so nothing is ever read outside it.
// Callers compare position() with their own budget to tell real bits from
// that padding.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace unrar::decode {

class BitReader {
public:
    BitReader() = default;
    BitReader(const uint8_t* data, size_t size) { reset(data, size); }

    // Starts over on another buffer (e.g. after the owner refilled or
    // compacted it); the bit position is 0 at `data[0]`.
    void reset(const uint8_t* data, size_t size)
    {
        data_ = data;
        size_ = size;
        bit_ = 0;
    }

    // The next `n` bits (1..32) without consuming them.
    uint32_t peek(unsigned n) const
    {
        const size_t byte = static_cast<size_t>(bit_ >> 3);
        uint64_t w;
        if (byte + 8 <= size_) [[likely]] {
            std::memcpy(&w, data_ + byte, 8);
            w = __builtin_bswap64(w);
        } else {
            w = loadTail(byte);
        }
        return static_cast<uint32_t>((w << (bit_ & 7)) >> (64 - n));
    }
    void skip(unsigned n) { bit_ += n; }
    uint32_t read(unsigned n)
    {
        uint32_t v = peek(n);
        bit_ += n;
        return v;
    }
    // Up to 64 bits in two steps.
    uint64_t read64(unsigned n)
    {
        if (n <= 32) return read(n);
        uint64_t hi = read(n - 32);
        return hi << 32 | read(32);
    }
    void alignToByte() { bit_ = (bit_ + 7) & ~uint64_t(7); }

    uint64_t position() const { return bit_; }       // bits consumed since data[0]
    size_t bytePosition() const { return static_cast<size_t>((bit_ + 7) >> 3); }
    void setPosition(uint64_t bit) { bit_ = bit; }
    // True once more bits were consumed than the buffer holds.
    bool overrun() const { return bit_ > uint64_t(size_) * 8; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    uint64_t loadTail(size_t byte) const
    {
        uint64_t w = 0;
        for (size_t k = 0; k < 8; ++k) {
            w <<= 8;
            if (byte + k < size_) w |= data_[byte + k];
        }
        return w;
    }

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    uint64_t bit_ = 0;
};

}  // namespace unrar::decode
