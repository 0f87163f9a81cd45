#pragma once
// Reads a bit stream most-significant bit first (the order of both RAR
// compressed formats) from a byte buffer. The next bits wait left-aligned
// in a 64-bit register, refilled with one unaligned load whenever fewer
// than 32 remain, so up to 32 bits are looked at or taken at once. Past
// the end of the buffer the missing bytes read as zero, so nothing is ever
// read outside it; callers compare position() with their own budget to
// tell real bits from that padding.
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
        setPosition(0);
    }

    // The next `n` bits (1..32) without consuming them.
    uint32_t peek(unsigned n)
    {
        if (count_ < n)
            refill();
        return static_cast<uint32_t>(buf_ >> (64 - n));
    }
    // Consumes `n` bits (0..32).
    void skip(unsigned n)
    {
        if (n <= count_) {
            buf_ <<= n;
            count_ -= n;
        } else {
            setPosition(position() + n);
        }
    }
    uint32_t read(unsigned n)
    {
        const uint32_t v = peek(n);
        buf_ <<= n;
        count_ -= n;
        return v;
    }
    // Up to 64 bits in two steps.
    uint64_t read64(unsigned n)
    {
        if (n <= 32)
            return read(n);
        uint64_t hi = read(n - 32);
        return hi << 32 | read(32);
    }
    void alignToByte() { skip(count_ & 7); }

    uint64_t position() const { return uint64_t(next_) * 8 - count_; } // bits consumed since data[0]
    size_t bytePosition() const { return static_cast<size_t>((position() + 7) >> 3); }
    void setPosition(uint64_t bit)
    {
        next_ = static_cast<size_t>(bit >> 3);
        buf_ = 0;
        count_ = 0;
        refill();
        buf_ <<= (bit & 7);
        count_ -= static_cast<unsigned>(bit & 7);
    }
    // True once more bits were consumed than the buffer holds.
    bool overrun() const { return position() > uint64_t(size_) * 8; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    // Tops the register up to at least 56 bits. Bits below count_ may
    // already hold the start of the next byte; loading it again ORs in the
    // same values.
    void refill()
    {
        if (next_ <= size_ && size_ - next_ >= 8) [[likely]] {
            uint64_t w;
            std::memcpy(&w, data_ + next_, 8);
            buf_ |= __builtin_bswap64(w) >> count_;
            const unsigned bytes = (63 - count_) >> 3;
            next_ += bytes;
            count_ += bytes * 8;
            return;
        }
        while (count_ <= 56) {
            const uint64_t b = next_ < size_ ? data_[next_] : 0;
            buf_ |= b << (56 - count_);
            ++next_;
            count_ += 8;
        }
    }

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t next_ = 0;    // next byte to load
    uint64_t buf_ = 0;   // left-aligned bits not yet consumed
    unsigned count_ = 0; // how many of them are valid
};

} // namespace unrar::decode
