#pragma once
// Where a decoder pulls an entry's packed bytes from: the data areas of the
// entry's parts, volume after volume, seen as one stream.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace unrar::decode {

class PackedSource {
public:
    virtual ~PackedSource() = default;
    // Up to `size` bytes; 0 at the end of the entry's packed data, -1 when
    // they cannot be read (error() then gives the ERAR_* code).
    virtual long long read(uint8_t* out, size_t size) = 0;
    virtual int error() const = 0;
};

// Packed data already in memory (archive comments, tests).
class MemorySource final : public PackedSource {
public:
    MemorySource(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), left_(size) {}
    long long read(uint8_t* out, size_t size) override
    {
        const size_t n = size < left_ ? size : left_;
        if (n)
            std::memcpy(out, data_, n);
        data_ += n;
        left_ -= n;
        return static_cast<long long>(n);
    }
    int error() const override { return 0; }

private:
    const uint8_t* data_;
    size_t left_;
};

} // namespace unrar::decode
