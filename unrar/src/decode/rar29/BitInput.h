#pragma once
// Most-significant-bit-first reading of packed data that arrives in pieces
// (one entry may span several volumes). Reads past the end of the data
// yield zero bits, so that a decoder may look ahead freely; overrun() says
// whether bits were really consumed beyond the end.
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace unrar::rar29 {

// Fills the buffer with the next packed bytes; returns the count, 0 at the
// end of the data, negative on a read error.
using PackedSource = std::function<long long(uint8_t* buffer, size_t size)>;

class BitInput {
public:
    explicit BitInput(PackedSource source) : source_(std::move(source)), buffer_(kChunk + kSlack, 0) {}

    // Makes sure the next kLookahead bytes are in the buffer (zeros past the end).
    void ensure()
    {
        if (pos_ + kLookahead > end_)
            refill();
    }

    // Up to 25 bits; the caller has called ensure().
    uint32_t peek(unsigned n) const
    {
        const uint8_t* p = buffer_.data() + pos_;
        uint32_t v = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
        return (v << bit_) >> (32 - n);
    }
    void skip(unsigned n)
    {
        bit_ += n;
        pos_ += bit_ >> 3;
        bit_ &= 7;
    }
    uint32_t bits(unsigned n)
    {
        if (n == 0)
            return 0;
        ensure();
        uint32_t v = peek(n);
        skip(n);
        return v;
    }
    void align()
    {
        if (bit_) {
            bit_ = 0;
            ++pos_;
        }
    }
    // A whole byte at an aligned position (the range decoder's input).
    uint8_t byte()
    {
        ensure();
        return buffer_[pos_++];
    }

    bool failed() const { return failed_; }
    // Bits consumed beyond the end of the data, less `slackBytes` whole bytes.
    bool overrun(unsigned slackBytes = 0) const
    {
        return atEnd_ && (pos_ > end_ + slackBytes || (pos_ == end_ + slackBytes && bit_ > 0));
    }
    // Packed bytes taken from the source so far, including the buffer's content.
    uint64_t consumed() const { return dropped_ + pos_; }

private:
    static constexpr size_t kChunk = 1 << 16;
    static constexpr size_t kLookahead = 8;
    // Zeros after the last byte; overrun() stops a decoder long before this runs out.
    static constexpr size_t kSlack = 64;

    void refill()
    {
        if (pos_ > end_ + kSlack - kLookahead) {
            // Only reachable by a decoder that ignores overrun(); keep reads in bounds.
            pos_ = end_;
            failed_ = true;
        }
        if (atEnd_)
            return;
        size_t keep = end_ - pos_;
        std::memmove(buffer_.data(), buffer_.data() + pos_, keep);
        dropped_ += pos_;
        pos_ = 0;
        end_ = keep;
        while (end_ < kChunk && !atEnd_) {
            long long got = source_(buffer_.data() + end_, kChunk - end_);
            if (got < 0)
                failed_ = true;
            if (got <= 0)
                atEnd_ = true;
            else
                end_ += static_cast<size_t>(got);
        }
        std::memset(buffer_.data() + end_, 0, buffer_.size() - end_);
    }

    PackedSource source_;
    std::vector<uint8_t> buffer_;
    size_t pos_ = 0;
    size_t end_ = 0;
    unsigned bit_ = 0;
    bool atEnd_ = false;
    bool failed_ = false;
    uint64_t dropped_ = 0;
};

} // namespace unrar::rar29
