#pragma once
// The PPMd variant H model of RAR 2.9 data: statistics of the contexts seen
// so far, kept in one arena whose allocation pattern decides when the model
// restarts, and therefore has to follow the encoder's exactly.
#include <cstdint>
#include <cstring>
#include <memory>

#include "unrar/src/decode/rar29/RangeDecoder.h"

namespace unrar::rar29 {

class PpmdModel {
public:
    // Allocates `memoryBytes` (kept when the size repeats) and starts afresh
    // with contexts up to `maxOrder` symbols long. False when out of memory.
    bool start(uint32_t memoryBytes, unsigned maxOrder);
    bool ready() const { return ready_; }
    void discard() { ready_ = false; }

    // The next byte, or -1 when the data cannot be right (the model is then discarded).
    int decode(RangeDecoder& rc);
    // One coding step with any Coder (see PpmdCoding.h); the decoder uses decode().
    template <class Coder> int code(Coder& coder);

private:
    struct See {
        uint16_t summ;
        uint8_t shift;
        uint8_t count;
    };

    // Arena access: contexts and states are addressed by 32-bit offsets.
    uint16_t u16(uint32_t o) const
    {
        uint16_t v;
        std::memcpy(&v, m_ + o, 2);
        return v;
    }
    uint32_t u32(uint32_t o) const
    {
        uint32_t v;
        std::memcpy(&v, m_ + o, 4);
        return v;
    }
    void put16(uint32_t o, uint32_t v)
    {
        uint16_t x = static_cast<uint16_t>(v);
        std::memcpy(m_ + o, &x, 2);
    }
    void put32(uint32_t o, uint32_t v) { std::memcpy(m_ + o, &v, 4); }

    // Context: NumStats @0, SummFreq @2, Stats @4, Suffix @8; one inline state @2.
    unsigned numStats(uint32_t c) const { return u16(c); }
    unsigned summFreq(uint32_t c) const { return u16(c + 2); }
    uint32_t stats(uint32_t c) const { return u32(c + 4); }
    uint32_t suffix(uint32_t c) const { return u32(c + 8); }
    static uint32_t oneState(uint32_t c) { return c + 2; }
    // State: Symbol @0, Freq @1, Successor @2.
    unsigned symbol(uint32_t s) const { return m_[s]; }
    unsigned freq(uint32_t s) const { return m_[s + 1]; }
    void setFreq(uint32_t s, unsigned f) { m_[s + 1] = static_cast<uint8_t>(f); }
    uint32_t successor(uint32_t s) const { return u32(s + 2); }
    void setSuccessor(uint32_t s, uint32_t v) { put32(s + 2, v); }
    void copyState(uint32_t to, uint32_t from) { std::memmove(m_ + to, m_ + from, 6); }
    void swapStates(uint32_t a, uint32_t b);

    void restart();
    void push(uint32_t block, unsigned index);
    // Frees `units` units at `block` (up to 128) as one or two free-list blocks.
    void pushUnits(uint32_t block, unsigned units);
    uint32_t pop(unsigned index);
    void glue();
    uint32_t allocRare(unsigned index);
    uint32_t allocUnits(unsigned index);
    uint32_t allocContext();
    void split(uint32_t block, unsigned from, unsigned to);
    uint32_t shrink(uint32_t block, unsigned oldUnits, unsigned newUnits);

    uint32_t locate(uint32_t s, unsigned n, int target, bool) const;
    void update1_0();
    void update1(uint32_t s);
    void update2();
    void nextContext();
    void rescale();
    bool updateModel();
    uint32_t createSuccessors(bool skip);
    void mask(unsigned sym) { charMask_[sym] = maskStamp_; }
    void newMask();

    std::unique_ptr<uint8_t[]> memory_;
    uint8_t* m_ = nullptr;
    uint32_t size_ = 0;     // S
    uint32_t arenaEnd_ = 0; // offset just past the arena: the glue sentinel
    unsigned maxOrder_ = 0;
    bool ready_ = false;

    uint32_t text_ = 0, unitsStart_ = 0, loUnit_ = 0, hiUnit_ = 0;
    unsigned glueCount_ = 0;
    uint32_t freeList_[38] = {};

    uint32_t minContext_ = 0, maxContext_ = 0, foundState_ = 0;
    int orderFall_ = 0, runLength_ = 0, initRL_ = 0;
    unsigned initEsc_ = 0, prevSuccess_ = 0, hiBitsFlag_ = 0;
    See see_[25][16] = {};
    See dummySee_ = {};
    uint16_t binSumm_[128][64] = {};
    uint8_t charMask_[256] = {};
    uint8_t maskStamp_ = 0;
};

} // namespace unrar::rar29
