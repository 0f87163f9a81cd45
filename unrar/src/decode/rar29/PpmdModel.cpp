#include "unrar/src/decode/rar29/PpmdModel.h"

#include "unrar/src/decode/rar29/PpmdCoding.h"

#include <algorithm>
#include <new>

namespace unrar::rar29 {
bool PpmdModel::start(uint32_t memoryBytes, unsigned maxOrder)
{
    ready_ = false;
    if (!memory_ || size_ != memoryBytes) {
        memory_.reset();
        // The arena, the glue sentinel and room for reads of a whole unit at its end.
        memory_.reset(new (std::nothrow) uint8_t[kBase + size_t(memoryBytes) + 3 * kUnit]);
        if (!memory_)
            return false;
        m_ = memory_.get();
        std::memset(m_, 0, kBase);
        std::memset(m_ + kBase + memoryBytes, 0, 3 * kUnit);
        size_ = memoryBytes;
        arenaEnd_ = kBase + memoryBytes;
    }
    maxOrder_ = std::min(maxOrder, kMaxOrder);
    restart();
    ready_ = true;
    return true;
}

void PpmdModel::restart()
{
    std::fill(std::begin(freeList_), std::end(freeList_), 0u);
    text_ = kBase;
    hiUnit_ = arenaEnd_;
    loUnit_ = unitsStart_ = hiUnit_ - size_ / 8 / kUnit * 7 * kUnit;
    glueCount_ = 0;

    orderFall_ = static_cast<int>(maxOrder_);
    runLength_ = initRL_ = -static_cast<int>(std::min(maxOrder_, 12u)) - 1;
    prevSuccess_ = 0;

    hiUnit_ -= kUnit;
    const uint32_t root = hiUnit_;
    put16(root, 256);
    put16(root + 2, 257);
    put32(root + 4, loUnit_);
    put32(root + 8, 0);
    const uint32_t s = loUnit_;
    loUnit_ += 128 * kUnit;
    for (unsigned i = 0; i < 256; ++i) {
        m_[s + 6 * i] = static_cast<uint8_t>(i);
        m_[s + 6 * i + 1] = 1;
        put32(s + 6 * i + 2, 0);
    }
    minContext_ = maxContext_ = root;
    foundState_ = s;

    for (unsigned i = 0; i < 128; ++i)
        for (unsigned k = 0; k < 8; ++k)
            for (unsigned m = 0; m < 64; m += 8)
                binSumm_[i][k + m] = static_cast<uint16_t>(kBinScale - kInitBinEsc[k] / (i + 2));
    for (unsigned i = 0; i < 25; ++i)
        for (unsigned k = 0; k < 16; ++k)
            see_[i][k] = See{static_cast<uint16_t>((5 * i + 10) << (kPeriodBits - 4)), kPeriodBits - 4, 4};
    dummySee_ = See{0, kPeriodBits, 64};
    initEsc_ = 0;
    hiBitsFlag_ = 0;
}

void PpmdModel::swapStates(uint32_t a, uint32_t b)
{
    uint8_t t[6];
    std::memcpy(t, m_ + a, 6);
    std::memmove(m_ + a, m_ + b, 6);
    std::memcpy(m_ + b, t, 6);
}

// --- allocator ---------------------------------------------------------------

void PpmdModel::push(uint32_t block, unsigned index)
{
    put32(block, freeList_[index]);
    freeList_[index] = block;
}

uint32_t PpmdModel::pop(unsigned index)
{
    uint32_t block = freeList_[index];
    freeList_[index] = u32(block);
    return block;
}

void PpmdModel::glue()
{
    glueCount_ = 255;
    // Free block while gluing: Stamp u16 @0, NU u16 @2, Next u32 @4, Prev u32 @8.
    const uint32_t head = arenaEnd_;
    put32(head + 4, head);
    put32(head + 8, head);
    for (unsigned i = 0; i < 38; ++i) {
        uint32_t b = freeList_[i];
        while (b) {
            uint32_t next = u32(b);
            put16(b, 0);
            put16(b + 2, i2u(i));
            uint32_t first = u32(head + 4);
            put32(b + 4, first);
            put32(b + 8, head);
            put32(first + 8, b);
            put32(head + 4, b);
            b = next;
        }
        freeList_[i] = 0;
    }
    put16(head, 1);
    if (loUnit_ != hiUnit_)
        put16(loUnit_, 1);

    for (uint32_t b = u32(head + 4); b != head; b = u32(b + 4)) {
        for (;;) {
            uint32_t n = u16(b + 2);
            uint32_t nb = b + n * kUnit;
            if (u16(nb) != 0 || n + u16(nb + 2) >= 0x10000)
                break;
            uint32_t next = u32(nb + 4), prev = u32(nb + 8);
            put32(prev + 4, next);
            put32(next + 8, prev);
            put16(b + 2, n + u16(nb + 2));
        }
    }

    for (uint32_t b = u32(head + 4); b != head;) {
        uint32_t next = u32(b + 4);
        unsigned n = u16(b + 2);
        for (; n > 128; n -= 128, b += 128 * kUnit)
            push(b, 37);
        pushUnits(b, n);
        b = next;
    }
}

uint32_t PpmdModel::allocRare(unsigned index)
{
    if (glueCount_ == 0) {
        glue();
        if (freeList_[index])
            return pop(index);
    }
    for (unsigned j = index + 1; j < 38; ++j) {
        if (freeList_[j]) {
            uint32_t block = pop(j);
            split(block, j, index);
            return block;
        }
    }
    --glueCount_;
    const uint32_t bytes = i2u(index) * kUnit;
    if (unitsStart_ - text_ > bytes) {
        unitsStart_ -= bytes;
        return unitsStart_;
    }
    return 0;
}

uint32_t PpmdModel::allocUnits(unsigned index)
{
    if (freeList_[index])
        return pop(index);
    const uint32_t bytes = i2u(index) * kUnit;
    if (hiUnit_ - loUnit_ >= bytes) {
        uint32_t block = loUnit_;
        loUnit_ += bytes;
        return block;
    }
    return allocRare(index);
}

uint32_t PpmdModel::allocContext()
{
    if (hiUnit_ != loUnit_)
        return hiUnit_ -= kUnit;
    if (freeList_[0])
        return pop(0);
    return allocRare(0);
}

void PpmdModel::split(uint32_t block, unsigned from, unsigned to)
{
    pushUnits(block + i2u(to) * kUnit, i2u(from) - i2u(to));
}

void PpmdModel::pushUnits(uint32_t block, unsigned units)
{
    unsigned k = u2i(units);
    if (i2u(k) != units) {
        --k;
        push(block + i2u(k) * kUnit, units - i2u(k) - 1);
    }
    push(block, k);
}

uint32_t PpmdModel::shrink(uint32_t block, unsigned oldUnits, unsigned newUnits)
{
    const unsigned i0 = u2i(oldUnits), i1 = u2i(newUnits);
    if (i0 == i1)
        return block;
    if (freeList_[i1]) {
        uint32_t fresh = pop(i1);
        std::memmove(m_ + fresh, m_ + block, newUnits * kUnit);
        push(block, i0);
        return fresh;
    }
    split(block, i0, i1);
    return block;
}

// --- decoding ----------------------------------------------------------------

void PpmdModel::newMask()
{
    if (++maskStamp_ == 0) {
        std::memset(charMask_, 0, sizeof charMask_);
        maskStamp_ = 1;
    }
}

int PpmdModel::decode(RangeDecoder& rc) { return code(rc); }

void PpmdModel::update1_0()
{
    const uint32_t mc = minContext_;
    prevSuccess_ = 2 * freq(foundState_) > summFreq(mc);
    runLength_ += static_cast<int>(prevSuccess_);
    put16(mc + 2, summFreq(mc) + 4);
    setFreq(foundState_, freq(foundState_) + 4);
    if (freq(foundState_) > kMaxFreq)
        rescale();
    nextContext();
}

void PpmdModel::update1(uint32_t s)
{
    setFreq(s, freq(s) + 4);
    put16(minContext_ + 2, summFreq(minContext_) + 4);
    if (freq(s) > freq(s - 6)) {
        swapStates(s, s - 6);
        foundState_ = s - 6;
        if (freq(s - 6) > kMaxFreq)
            rescale();
    }
    nextContext();
}

void PpmdModel::update2()
{
    put16(minContext_ + 2, summFreq(minContext_) + 4);
    setFreq(foundState_, freq(foundState_) + 4);
    if (freq(foundState_) > kMaxFreq)
        rescale();
    runLength_ = initRL_;
    if (!updateModel())
        restart();
}

void PpmdModel::nextContext()
{
    const uint32_t c = successor(foundState_);
    if (orderFall_ == 0 && c > text_) {
        minContext_ = maxContext_ = c;
    } else if (!updateModel()) {
        restart();
    }
}

void PpmdModel::rescale()
{
    const uint32_t mc = minContext_;
    const uint32_t first = stats(mc);
    const unsigned n = numStats(mc);
    for (uint32_t s = foundState_; s != first; s -= 6)
        swapStates(s, s - 6);

    uint32_t esc = summFreq(mc) - freq(first);
    const unsigned adder = orderFall_ != 0 ? 1 : 0;
    setFreq(first, (freq(first) + 4 + adder) >> 1);
    uint32_t sum = freq(first);
    for (unsigned i = 1; i < n; ++i) {
        const uint32_t s = first + 6 * i;
        esc -= freq(s);
        setFreq(s, (freq(s) + adder) >> 1);
        sum += freq(s);
        if (freq(s) > freq(s - 6)) {
            uint8_t moving[6];
            std::memcpy(moving, m_ + s, 6);
            uint32_t q = s;
            do {
                copyState(q, q - 6);
                q -= 6;
            } while (q != first && moving[1] > freq(q - 6));
            std::memcpy(m_ + q, moving, 6);
        }
    }
    if (freq(first + 6 * (n - 1)) == 0) {
        unsigned zeros = 0;
        while (zeros < n && freq(first + 6 * (n - 1 - zeros)) == 0)
            ++zeros;
        esc += zeros;
        const unsigned left = n - zeros;
        put16(mc, left);
        if (left == 1) {
            uint8_t kept[6];
            std::memcpy(kept, m_ + first, 6);
            do {
                kept[1] = static_cast<uint8_t>(kept[1] - (kept[1] >> 1));
                esc >>= 1;
            } while (esc > 1);
            push(first, u2i((n + 1) >> 1));
            std::memcpy(m_ + oneState(mc), kept, 6);
            foundState_ = oneState(mc);
            return;
        }
        if (((n + 1) >> 1) != ((left + 1) >> 1))
            put32(mc + 4, shrink(first, (n + 1) >> 1, (left + 1) >> 1));
    }
    put16(mc + 2, sum + esc - (esc >> 1));
    foundState_ = stats(mc);
}

uint32_t PpmdModel::createSuccessors(bool skip)
{
    const uint32_t f = foundState_;
    const unsigned fSymbol = symbol(f);
    uint32_t c = minContext_;
    const uint32_t up = successor(f);
    if (up == 0 || up >= arenaEnd_)
        return 0;
    uint32_t chain[kMaxOrder + 1];
    unsigned count = 0;
    if (!skip)
        chain[count++] = f;
    while (suffix(c)) {
        c = suffix(c);
        uint32_t s;
        if (numStats(c) != 1) {
            s = stats(c);
            unsigned left = numStats(c);
            while (symbol(s) != fSymbol) {
                if (--left == 0)
                    return 0;
                s += 6;
            }
        } else {
            s = oneState(c);
        }
        if (successor(s) != up) {
            c = successor(s);
            if (count == 0)
                return c;
            break;
        }
        if (count == kMaxOrder + 1)
            return 0;
        chain[count++] = s;
    }
    uint8_t u[6];
    u[0] = m_[up];
    const uint32_t next = up + 1;
    std::memcpy(u + 2, &next, 4);
    if (numStats(c) == 1) {
        u[1] = static_cast<uint8_t>(freq(oneState(c)));
    } else {
        uint32_t s = stats(c);
        unsigned left = numStats(c);
        while (symbol(s) != u[0]) {
            if (--left == 0)
                return 0;
            s += 6;
        }
        const uint32_t cf = freq(s) - 1;
        const uint32_t s0 = summFreq(c) - numStats(c) - cf;
        uint32_t extra;
        if (2 * cf <= s0)
            extra = 5 * cf > s0;
        else
            extra = s0 ? (2 * cf + 3 * s0 - 1) / (2 * s0) : 0;
        u[1] = static_cast<uint8_t>(1 + extra);
    }
    while (count) {
        const uint32_t c1 = allocContext();
        if (!c1)
            return 0;
        put16(c1, 1);
        std::memcpy(m_ + oneState(c1), u, 6);
        put32(c1 + 8, c);
        setSuccessor(chain[--count], c1);
        c = c1;
    }
    return c;
}

bool PpmdModel::updateModel()
{
    const uint32_t f = foundState_;
    const unsigned fSymbol = symbol(f);
    const unsigned fFreq = freq(f);
    uint32_t fs = successor(f);

    const uint32_t parent = suffix(minContext_);
    if (fFreq < kMaxFreq / 4 && parent) {
        if (numStats(parent) == 1) {
            const uint32_t s = oneState(parent);
            if (freq(s) < 32)
                setFreq(s, freq(s) + 1);
        } else {
            uint32_t s = stats(parent);
            if (symbol(s) != fSymbol) {
                unsigned left = numStats(parent);
                do {
                    if (--left == 0)
                        return false;
                    s += 6;
                } while (symbol(s) != fSymbol);
                if (freq(s) >= freq(s - 6)) {
                    swapStates(s, s - 6);
                    s -= 6;
                }
            }
            if (freq(s) < kMaxFreq - 9) {
                setFreq(s, freq(s) + 2);
                put16(parent + 2, summFreq(parent) + 2);
            }
        }
    }

    if (orderFall_ == 0) {
        minContext_ = maxContext_ = createSuccessors(true);
        if (!minContext_)
            return false;
        setSuccessor(foundState_, minContext_);
        return true;
    }

    m_[text_++] = static_cast<uint8_t>(fSymbol);
    uint32_t succ = text_;
    if (text_ >= unitsStart_)
        return false;

    if (fs) {
        if (fs <= succ) {
            fs = createSuccessors(false);
            if (!fs)
                return false;
        }
        if (--orderFall_ == 0) {
            succ = fs;
            if (maxContext_ != minContext_)
                --text_;
        }
    } else {
        setSuccessor(f, succ);
        fs = minContext_;
    }

    const unsigned ns = numStats(minContext_);
    const uint32_t s0 = summFreq(minContext_) - ns - (fFreq - 1);
    for (uint32_t c = maxContext_; c != minContext_; c = suffix(c)) {
        if (c == 0)
            return false;
        const unsigned n1 = numStats(c);
        if (n1 != 1) {
            if ((n1 & 1) == 0) {
                const unsigned oldUnits = n1 >> 1;
                const unsigned i = u2i(oldUnits);
                if (oldUnits >= 128)
                    return false;
                if (i != u2i(oldUnits + 1)) {
                    const uint32_t fresh = allocUnits(i + 1);
                    if (!fresh)
                        return false;
                    std::memmove(m_ + fresh, m_ + stats(c), oldUnits * kUnit);
                    push(stats(c), i);
                    put32(c + 4, fresh);
                }
            }
            put16(c + 2, summFreq(c) + (2 * n1 < ns) + 2 * ((4 * n1 <= ns) & (summFreq(c) <= 8 * n1)));
        } else {
            const uint32_t s = allocUnits(0);
            if (!s)
                return false;
            std::memcpy(m_ + s, m_ + oneState(c), 6);
            put32(c + 4, s);
            setFreq(s, freq(s) < kMaxFreq / 4 - 1 ? freq(s) * 2 : kMaxFreq - 4);
            put16(c + 2, freq(s) + initEsc_ + (ns > 3));
        }
        uint32_t cf = 2 * fFreq * (summFreq(c) + 6);
        const uint32_t sf = s0 + summFreq(c);
        if (cf < 6 * sf) {
            cf = 1 + (cf > sf) + (cf >= 4 * sf);
            put16(c + 2, summFreq(c) + 3);
        } else {
            cf = 4 + (cf >= 9 * sf) + (cf >= 12 * sf) + (cf >= 15 * sf);
            put16(c + 2, summFreq(c) + cf);
        }
        const uint32_t s = stats(c) + 6 * n1;
        m_[s] = static_cast<uint8_t>(fSymbol);
        setFreq(s, cf);
        setSuccessor(s, succ);
        put16(c, n1 + 1);
    }
    minContext_ = maxContext_ = fs;
    return true;
}

} // namespace unrar::rar29
