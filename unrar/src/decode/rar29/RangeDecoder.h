#pragma once
// The carry-less range decoder that drives the PPMd model in RAR 2.9 data.
// It takes whole bytes from the decoder's bit reader, which stays byte
// aligned from init() on; the decoder keeps enough bytes ahead of it.
#include <cstdint>

#include "unrar/src/decode/BitReader.h"

namespace unrar::rar29 {

class RangeDecoder {
public:
    static constexpr bool kEncoding = false;
    static constexpr int target = -1;

    void init(decode::BitReader& in)
    {
        in_ = &in;
        low_ = 0;
        range_ = 0xFFFFFFFFu;
        code_ = 0;
        for (int i = 0; i < 4; ++i)
            code_ = code_ << 8 | in.read(8);
    }

    // The position of the next symbol within [0, total), or `total` or more
    // when the data cannot be right.
    uint32_t threshold(uint32_t total)
    {
        range_ /= total;
        if (range_ == 0)
            return total;
        return (code_ - low_) / range_;
    }
    uint32_t thresholdBits(unsigned bits)
    {
        range_ >>= bits;
        if (range_ == 0)
            return 1u << bits;
        return (code_ - low_) / range_;
    }

    void consume(uint32_t start, uint32_t size)
    {
        low_ += start * range_;
        range_ *= size;
        for (;;) {
            if ((low_ ^ (low_ + range_)) >= kTop) {
                if (range_ >= kBottom)
                    return;
                range_ = (0u - low_) & (kBottom - 1);
                if (range_ == 0)
                    return; // damaged data; threshold() reports it
            }
            code_ = code_ << 8 | in_->read(8);
            range_ <<= 8;
            low_ <<= 8;
        }
    }

private:
    static constexpr uint32_t kTop = 1u << 24;
    static constexpr uint32_t kBottom = 1u << 15;
    decode::BitReader* in_ = nullptr;
    uint32_t low_ = 0, range_ = 0, code_ = 0;
};

} // namespace unrar::rar29
