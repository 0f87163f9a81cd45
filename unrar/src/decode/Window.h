#pragma once
// The sliding dictionary: a ring of a power-of-two size addressed by a
// 64-bit stream position (bytes produced since the stream started), so
// that ring index = position & mask. Matches copy with memcpy when source
// and destination neither overlap nor wrap, byte by byte otherwise.
// The caller checks distances (against size() and against what has been
// produced) before copying; the window itself never indexes outside its
// buffer whatever it is given, since every index is masked.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace unrar::decode {

class Window {
public:
    // A ring of `size` bytes (a power of two, at least 16), zero-filled
    // unless `zeroFill` is false: a decoder that never reads a byte before
    // writing it then pays only for the pages it touches. False when it
    // cannot be had; the window is then empty.
    bool allocate(size_t size, bool zeroFill = true);
    // Enlarges the ring to `size`, keeping every byte at its stream
    // position. Never shrinks. False when memory is short (window unchanged).
    bool grow(size_t size);
    void release();

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    uint64_t position() const { return pos_; }
    void setPosition(uint64_t pos) { pos_ = pos; }

    void put(uint8_t byte) { data_[pos_++ & mask_] = byte; }

    // Repeats `length` bytes from `distance` (>= 1) back.
    void copyMatch(size_t distance, size_t length)
    {
        const size_t dst = static_cast<size_t>(pos_) & mask_;
        const size_t src = static_cast<size_t>(pos_ - distance) & mask_;
        pos_ += length;
        if (dst + length <= size_ && src + length <= size_) [[likely]] {
            uint8_t* d = data_.get() + dst;
            const uint8_t* s = data_.get() + src;
            if (distance >= length) {
                // Short copies as two fixed-size moves that may overlap each other.
                if (length >= 8 && length <= 16) {
                    std::memcpy(d, s, 8);
                    std::memcpy(d + length - 8, s + length - 8, 8);
                } else if (length >= 4 && length < 8) {
                    std::memcpy(d, s, 4);
                    std::memcpy(d + length - 4, s + length - 4, 4);
                } else {
                    std::memcpy(d, s, length);
                }
            } else if (distance >= 8) {
                // Overlapping by whole words: each 8-byte step reads bytes already written.
                size_t i = 0;
                for (; i + 8 <= length; i += 8)
                    std::memcpy(d + i, s + i, 8);
                for (; i < length; ++i)
                    d[i] = s[i];
            } else {
                for (size_t i = 0; i < length; ++i)
                    d[i] = s[i];
            }
            return;
        }
        for (size_t i = 0; i < length; ++i)
            data_[(dst + i) & mask_] = data_[(src + i) & mask_];
    }

    uint8_t at(uint64_t streamPos) const { return data_[static_cast<size_t>(streamPos) & mask_]; }
    // Copies `n` bytes from stream position `from` out of the ring (wrap-aware).
    void copyOut(uint64_t from, size_t n, uint8_t* out) const;
    // Writes `n` bytes at stream position `at` into the ring (wrap-aware).
    void copyIn(uint64_t at, const uint8_t* in, size_t n);
    // Hands the bytes from stream position `from` up to `to` to
    // `use(const uint8_t* data, size_t n)` in runs split at the ring's end,
    // without copying them; stops, returning false, when `use` does.
    template <class Use> bool forEachRun(uint64_t from, uint64_t to, Use&& use) const
    {
        while (from < to) {
            const size_t index = static_cast<size_t>(from) & mask_;
            const uint64_t left = to - from;
            const size_t run = left < size_ - index ? static_cast<size_t>(left) : size_ - index;
            if (!use(static_cast<const uint8_t*>(data_.get() + index), run))
                return false;
            from += run;
        }
        return true;
    }

    // Direct access for decoders' inner loops; index with & mask().
    uint8_t* data() { return data_.get(); }
    size_t mask() const { return mask_; }

private:
    std::unique_ptr<uint8_t[]> data_;
    size_t size_ = 0;
    size_t mask_ = 0;
    uint64_t pos_ = 0;
};

} // namespace unrar::decode
