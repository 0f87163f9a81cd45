#pragma once
// Bounds-checked little-endian reading of one header held in memory. Every
// read past the end sets a sticky failure flag and yields zeros, so parsers
// check `ok()` once instead of after each field.
#include <cstdint>
#include <cstring>
#include <string>

namespace unrar {

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool ok() const { return ok_; }
    size_t position() const { return pos_; }
    size_t remaining() const { return ok_ ? size_ - pos_ : 0; }

    uint8_t u8() { return static_cast<uint8_t>(fixed(1)); }
    uint16_t u16() { return static_cast<uint16_t>(fixed(2)); }
    uint32_t u32() { return static_cast<uint32_t>(fixed(4)); }
    uint64_t u64() { return fixed(8); }

    // RAR 5.0 variable-length integer: 7 bits a byte, at most 10 bytes.
    uint64_t vint()
    {
        uint64_t value = 0;
        for (int shift = 0; shift < 70; shift += 7) {
            if (!need(1))
                return 0;
            uint8_t b = data_[pos_++];
            if (shift < 64)
                value |= static_cast<uint64_t>(b & 0x7F) << shift;
            if (!(b & 0x80))
                return value;
        }
        ok_ = false;
        return 0;
    }

    std::string bytes(size_t n)
    {
        if (!need(n))
            return {};
        std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return s;
    }

    void skip(size_t n)
    {
        if (need(n))
            pos_ += n;
    }

private:
    bool need(size_t n)
    {
        if (!ok_ || n > size_ - pos_) {
            ok_ = false;
            return false;
        }
        return true;
    }

    uint64_t fixed(int n)
    {
        if (!need(static_cast<size_t>(n)))
            return 0;
        uint64_t v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = (v << 8) | data_[pos_ + i];
        pos_ += static_cast<size_t>(n);
        return v;
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

} // namespace unrar
