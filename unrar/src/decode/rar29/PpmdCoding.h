#pragma once
// The PPMd model's coding step, shared by the decoder and by the encoder that
// test fixtures use: a Coder supplies threshold()/thresholdBits()/consume();
// an encoding Coder (kEncoding) names the symbol to code in `target`, and the
// model then picks the count that leads to it instead of reading one.
#include <algorithm>

#include "unrar/src/decode/rar29/PpmdModel.h"

namespace unrar::rar29 {
namespace ppmd {

constexpr uint32_t kUnit = 12;
constexpr unsigned kMaxFreq = 124;
constexpr unsigned kIntBits = 7;
constexpr unsigned kPeriodBits = 7;
constexpr unsigned kBinScale = 1u << (kIntBits + kPeriodBits);
constexpr unsigned kMaxOrder = 64;
// Offset of the arena: 0 stands for "no context".
constexpr uint32_t kBase = 16;

struct Tables {
    uint8_t indexToUnits[38];
    uint8_t unitsToIndex[128];
    uint8_t ns2bs[256];
    uint8_t ns2i[256];
    uint8_t hb[256];

    constexpr Tables() : indexToUnits(), unitsToIndex(), ns2bs(), ns2i(), hb()
    {
        unsigned u = 0;
        for (unsigned i = 0; i < 38; ++i) {
            u += i < 4 ? 1 : i < 8 ? 2 : i < 12 ? 3 : 4;
            indexToUnits[i] = static_cast<uint8_t>(u);
        }
        for (unsigned n = 1, i = 0; n <= 128; ++n) {
            while (indexToUnits[i] < n)
                ++i;
            unitsToIndex[n - 1] = static_cast<uint8_t>(i);
        }
        ns2bs[0] = 0;
        ns2bs[1] = 2;
        for (unsigned i = 2; i < 256; ++i)
            ns2bs[i] = i <= 10 ? 4 : 6;
        for (unsigned i = 0; i < 4; ++i)
            ns2i[i] = static_cast<uint8_t>(i);
        for (unsigned i = 4, v = 4, left = 2; i < 256; ++i) {
            ns2i[i] = static_cast<uint8_t>(v);
            if (--left == 0)
                left = ++v - 2;
        }
        for (unsigned i = 0; i < 256; ++i)
            hb[i] = i < 0x40 ? 0 : 8;
    }
};
constexpr Tables kT;

constexpr uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};
constexpr uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x64A1, 0x5ABC, 0x6632, 0x6051};

inline unsigned i2u(unsigned i) { return kT.indexToUnits[i]; }
inline unsigned u2i(unsigned units) { return kT.unitsToIndex[units - 1]; }

} // namespace ppmd

using namespace ppmd;

// Where `target` starts among the first `n` states from `s`, or the total of
// their counts (the escape) when it is not there.
inline uint32_t PpmdModel::locate(uint32_t s, unsigned n, int target, bool) const
{
    uint32_t sum = 0;
    for (unsigned i = 0; i < n; ++i, s += 6) {
        if (static_cast<int>(symbol(s)) == target)
            return sum;
        sum += freq(s);
    }
    return sum;
}

template <class Coder> int PpmdModel::code(Coder& rc)
{
    uint32_t mc = minContext_;
    if (numStats(mc) != 1) {
        uint32_t s = stats(mc);
        const uint32_t total = summFreq(mc);
        uint32_t t = rc.threshold(total);
        if constexpr (Coder::kEncoding)
            t = locate(s, numStats(mc), rc.target, false);
        if (t >= total)
            return ready_ = false, -1;
        uint32_t hi = freq(s);
        if (t < hi) {
            rc.consume(0, hi);
            foundState_ = s;
            const int sym = static_cast<int>(symbol(s));
            update1_0();
            return sym;
        }
        prevSuccess_ = 0;
        const unsigned n = numStats(mc);
        for (unsigned i = 1; i < n; ++i) {
            s += 6;
            hi += freq(s);
            if (hi > t) {
                rc.consume(hi - freq(s), freq(s));
                foundState_ = s;
                const int sym = static_cast<int>(symbol(s));
                update1(s);
                return sym;
            }
        }
        hiBitsFlag_ = kT.hb[symbol(foundState_)];
        rc.consume(hi, total - hi);
        newMask();
        s = stats(mc);
        for (unsigned i = 0; i < n; ++i)
            mask(symbol(s + 6 * i));
    } else {
        const uint32_t s = oneState(mc);
        hiBitsFlag_ = kT.hb[symbol(foundState_)];
        const unsigned row = std::min(freq(s), 128u) - 1;
        uint16_t& p = binSumm_[row & 127][prevSuccess_ + kT.ns2bs[(numStats(suffix(mc)) - 1) & 0xFF] + hiBitsFlag_ +
                                          2 * kT.hb[symbol(s)] + (runLength_ < 0 ? 32 : 0)];
        uint32_t t = rc.thresholdBits(kIntBits + kPeriodBits);
        if constexpr (Coder::kEncoding)
            t = static_cast<int>(symbol(s)) == rc.target ? 0 : p;
        if (t >= kBinScale)
            return ready_ = false, -1;
        if (t < p) {
            rc.consume(0, p);
            p = static_cast<uint16_t>(p + (1u << kIntBits) - ((p + 32) >> kPeriodBits));
            foundState_ = s;
            const int sym = static_cast<int>(symbol(s));
            if (freq(s) < 128)
                setFreq(s, freq(s) + 1);
            prevSuccess_ = 1;
            ++runLength_;
            nextContext();
            return sym;
        }
        rc.consume(p, kBinScale - p);
        p = static_cast<uint16_t>(p - ((p + 32) >> kPeriodBits));
        initEsc_ = kExpEscape[p >> 10];
        newMask();
        mask(symbol(s));
        prevSuccess_ = 0;
    }

    uint32_t listed[256];
    for (;;) {
        const unsigned masked = numStats(mc);
        do {
            ++orderFall_;
            mc = suffix(mc);
            if (mc == 0)
                return ready_ = false, -1; // escape from the root
        } while (numStats(mc) == masked);
        minContext_ = mc;
        const unsigned n = numStats(mc);
        if (n < masked || n > 256)
            return ready_ = false, -1;
        uint32_t hi = 0;
        unsigned count = 0;
        uint32_t s = stats(mc);
        for (unsigned i = 0; i < n; ++i, s += 6) {
            if (charMask_[symbol(s)] == maskStamp_)
                continue;
            hi += freq(s);
            listed[count++] = s;
        }
        See* see;
        uint32_t esc;
        if (n != 256) {
            const unsigned d = n - masked;
            see = &see_[kT.ns2i[d - 1]]
                       [(d < numStats(suffix(mc)) - n) + 2 * (summFreq(mc) < 11 * n) + 4 * (masked > d) + hiBitsFlag_];
            const unsigned r = see->summ >> see->shift;
            see->summ = static_cast<uint16_t>(see->summ - r);
            esc = r + (r == 0);
        } else {
            see = &dummySee_;
            esc = 1;
        }
        const uint32_t total = hi + esc;
        uint32_t t = rc.threshold(total);
        if constexpr (Coder::kEncoding) {
            t = hi;
            for (unsigned i = 0, sum = 0; i < count; sum += freq(listed[i]), ++i)
                if (static_cast<int>(symbol(listed[i])) == rc.target)
                    t = sum;
        }
        if (t >= total)
            return ready_ = false, -1;
        if (t < hi) {
            uint32_t sum = 0;
            unsigned k = 0;
            for (;; ++k) {
                sum += freq(listed[k]);
                if (sum > t)
                    break;
            }
            s = listed[k];
            rc.consume(sum - freq(s), freq(s));
            if (see->shift < kPeriodBits && --see->count == 0) {
                see->summ = static_cast<uint16_t>(see->summ << 1);
                see->count = static_cast<uint8_t>(3 << see->shift++);
            }
            foundState_ = s;
            const int sym = static_cast<int>(symbol(s));
            update2();
            return sym;
        }
        rc.consume(hi, total - hi);
        see->summ = static_cast<uint16_t>(see->summ + total);
        for (unsigned i = 0; i < count; ++i)
            mask(symbol(listed[i]));
    }
}

} // namespace unrar::rar29
