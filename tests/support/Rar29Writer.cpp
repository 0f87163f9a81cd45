#include "tests/support/Rar29Writer.h"

#include <zlib.h>

#include <array>
#include <stdexcept>

#include "unrar/src/decode/rar29/PpmdCoding.h"

namespace tavrel::test {
namespace {

// Fixed code lengths: every symbol of a table gets the same length, so the
// canonical code of symbol i is i itself.
constexpr unsigned kMainBits = 9, kDistBits = 6, kLowBits = 5, kLenBits = 5, kPreBits = 5;
enum Table { Main, Dist, Low, Len };
constexpr unsigned kTableBits[4] = {kMainBits, kDistBits, kLowBits, kLenBits};
constexpr unsigned kTableSize = 299 + 60 + 17 + 28;

constexpr uint8_t kLenBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
                                  24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
constexpr uint8_t kLenExtra[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
constexpr uint8_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
constexpr uint8_t kShortExtra[8] = {2, 2, 3, 4, 5, 6, 6, 6};

unsigned distExtra(unsigned c) { return c < 4 ? 0 : c < 36 ? c / 2 - 1 : c < 48 ? 16 : 18; }
uint32_t distBase(unsigned c)
{
    uint32_t b = 0;
    for (unsigned i = 0; i < c; ++i)
        b += 1u << distExtra(i);
    return b;
}

uint32_t crcOf(const std::string& s)
{
    return static_cast<uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// Solves for byte 0 and four bytes at `at` so that byte 0 is the XOR of
// the others and the CRC-32 of the whole is `crc` (both are affine in the
// bits); another `at` when that system is singular.
std::string forgeProgram(size_t length, uint32_t crc, size_t at)
{
    if (at == 0)
        throw std::logic_error("forgeProgram: no solution");
    std::string code(length, '\0');
    for (size_t i = 1; i < length; ++i)
        code[i] = static_cast<char>(i * 37 + 1);
    auto value = [&](const std::string& c) {
        uint8_t x = 0;
        for (size_t i = 0; i < c.size(); ++i)
            x ^= static_cast<uint8_t>(c[i]);
        return uint64_t(crcOf(c)) | uint64_t(x) << 32; // 40 bits that must become crc and 0
    };
    auto bitAt = [&](unsigned v) -> std::pair<size_t, unsigned> {
        return v < 8 ? std::pair<size_t, unsigned>{0, v} : std::pair<size_t, unsigned>{at + (v - 8) / 8, (v - 8) % 8};
    };
    const uint64_t base = value(code);
    std::array<uint64_t, 40> column{};
    for (unsigned v = 0; v < 40; ++v) {
        std::string c = code;
        auto [byte, bit] = bitAt(v);
        c[byte] = static_cast<char>(c[byte] ^ (1 << bit));
        column[v] = value(c) ^ base;
    }
    const uint64_t want = (uint64_t(crc) ^ base) & 0xFFFFFFFFFFull;
    // Gaussian elimination on rows = 40 output bits, columns = 40 input bits.
    std::array<uint64_t, 40> rows{};
    for (unsigned r = 0; r < 40; ++r) {
        uint64_t row = 0;
        for (unsigned v = 0; v < 40; ++v)
            if ((column[v] >> r) & 1)
                row |= uint64_t(1) << v;
        if ((want >> r) & 1)
            row |= uint64_t(1) << 40;
        rows[r] = row;
    }
    unsigned rank = 0;
    std::array<int, 40> pivotOf{};
    pivotOf.fill(-1);
    for (unsigned v = 0; v < 40; ++v) {
        unsigned p = rank;
        while (p < 40 && !((rows[p] >> v) & 1))
            ++p;
        if (p == 40)
            continue;
        std::swap(rows[p], rows[rank]);
        for (unsigned r = 0; r < 40; ++r)
            if (r != rank && ((rows[r] >> v) & 1))
                rows[r] ^= rows[rank];
        pivotOf[v] = static_cast<int>(rank++);
    }
    if (rank < 40)
        return forgeProgram(length, crc, at - 1);
    for (unsigned v = 0; v < 40; ++v) {
        if (!((rows[pivotOf[v]] >> 40) & 1))
            continue;
        auto [byte, bit] = bitAt(v);
        code[byte] = static_cast<char>(code[byte] ^ (1 << bit));
    }
    if (crcOf(code) != crc)
        throw std::logic_error("forgeProgram failed");
    return code;
}

// A number in a filter record: two bits that say its width (4, 8, 16 or 32
// bits), then the number.
void putNumber(BitWriter& bw, uint32_t v)
{
    if (v < 16) {
        bw.put(0, 2);
        bw.put(v, 4);
    } else if (v < 256) {
        bw.put(1, 2);
        bw.put(v, 8);
    } else if (v < 65536) {
        bw.put(2, 2);
        bw.put(v, 16);
    } else {
        bw.put(3, 2);
        bw.put(v, 32);
    }
}

struct RangeEncoder {
    static constexpr bool kEncoding = true;
    int target = -1;
    uint32_t low = 0, range = 0xFFFFFFFFu;
    std::string* out = nullptr;

    uint32_t threshold(uint32_t total)
    {
        range /= total;
        return 0;
    }
    uint32_t thresholdBits(unsigned bits)
    {
        range >>= bits;
        return 0;
    }
    void consume(uint32_t start, uint32_t size)
    {
        low += start * range;
        range *= size;
        for (;;) {
            if ((low ^ (low + range)) >= (1u << 24)) {
                if (range >= (1u << 15))
                    return;
                range = (0u - low) & ((1u << 15) - 1);
            }
            out->push_back(static_cast<char>(low >> 24));
            range <<= 8;
            low <<= 8;
        }
    }
    void flush()
    {
        for (int i = 0; i < 4; ++i) {
            out->push_back(static_cast<char>(low >> 24));
            low <<= 8;
        }
    }
};

} // namespace

std::string rar29FilterProgram(Rar29Filter filter)
{
    switch (filter) {
    case Rar29Filter::E8: return forgeProgram(53, 0xAD576887, 53 - 4);
    case Rar29Filter::E8E9: return forgeProgram(57, 0x3CD7E57E, 57 - 4);
    case Rar29Filter::Itanium: return forgeProgram(120, 0x3769893F, 120 - 4);
    case Rar29Filter::Delta: return forgeProgram(29, 0x0E06077D, 29 - 4);
    case Rar29Filter::Rgb: return forgeProgram(149, 0x1C2C5DC8, 149 - 4);
    case Rar29Filter::Audio: return forgeProgram(216, 0xBC85E701, 216 - 4);
    case Rar29Filter::Unknown: break;
    }
    std::string code = "\0unknown program";
    uint8_t x = 0;
    for (size_t i = 1; i < code.size(); ++i)
        x ^= static_cast<uint8_t>(code[i]);
    code[0] = static_cast<char>(x);
    return code;
}

struct Rar29Writer::Ppmd {
    unrar::rar29::PpmdModel model;
    RangeEncoder rc;
};

Rar29Writer::Rar29Writer() : ppmd_(std::make_unique<Ppmd>()) {}
Rar29Writer::~Rar29Writer() = default;

void Rar29Writer::alignToByte()
{
    if (out_.bits % 8)
        bits(0, static_cast<unsigned>(8 - out_.bits % 8));
}

void Rar29Writer::symbol(unsigned table, unsigned sym) { bits(sym, kTableBits[table]); }

Rar29Writer& Rar29Writer::lzBlock(bool keepOldTables)
{
    alignToByte();
    bits(0, 1);
    bits(keepOldTables ? 1 : 0, 1);
    if (!keepOldTables)
        std::fill(std::begin(oldLengths_), std::end(oldLengths_), 0);
    for (int i = 0; i < 20; ++i)
        bits(kPreBits, 4);
    uint8_t lengths[kTableSize];
    for (unsigned i = 0; i < kTableSize; ++i)
        lengths[i] = static_cast<uint8_t>(i < 299 ? kMainBits : i < 359 ? kDistBits : i < 376 ? kLowBits : kLenBits);
    for (unsigned i = 0; i < kTableSize; ++i)
        bits((lengths[i] - oldLengths_[i]) & 15, kPreBits);
    std::copy(std::begin(lengths), std::end(lengths), oldLengths_);
    lowRep_ = lastLow_ = 0;
    return *this;
}

Rar29Writer& Rar29Writer::literal(const std::string& bytes)
{
    for (char c : bytes)
        symbol(Main, static_cast<uint8_t>(c));
    return *this;
}

void Rar29Writer::distance(uint32_t d, bool repeatLow)
{
    const uint32_t v = d - 1;
    unsigned c = 59;
    while (distBase(c) > v)
        --c;
    symbol(Dist, c);
    const uint32_t rest = v - distBase(c);
    const unsigned extra = distExtra(c);
    if (c <= 9) {
        bits(rest, extra);
        return;
    }
    if (extra > 4)
        bits(rest >> 4, extra - 4);
    const unsigned low = rest & 15;
    if (lowRep_ > 0 || repeatLow) {
        if (low != lastLow_)
            throw std::logic_error("Rar29Writer: low distance bits must repeat");
        if (lowRep_ > 0) {
            --lowRep_;
        } else {
            symbol(Low, 16);
            lowRep_ = 15;
        }
        return;
    }
    symbol(Low, low);
    lastLow_ = low;
}

Rar29Writer& Rar29Writer::match(uint32_t length, uint32_t d, bool repeatLow)
{
    const uint32_t lc = length - (d >= 0x2000) - (d >= 0x40000) - 3;
    unsigned slot = 27;
    while (kLenBase[slot] > lc)
        --slot;
    if (lc - kLenBase[slot] >= (1u << kLenExtra[slot]))
        throw std::logic_error("Rar29Writer: length out of range");
    symbol(Main, 271 + slot);
    bits(lc - kLenBase[slot], kLenExtra[slot]);
    distance(d, repeatLow);
    return *this;
}

Rar29Writer& Rar29Writer::shortMatch(uint32_t d)
{
    const uint32_t v = d - 1;
    unsigned k = 7;
    while (kShortBase[k] > v)
        --k;
    symbol(Main, 263 + k);
    bits(v - kShortBase[k], kShortExtra[k]);
    return *this;
}

Rar29Writer& Rar29Writer::repeatLast()
{
    symbol(Main, 258);
    return *this;
}

Rar29Writer& Rar29Writer::oldDistance(unsigned index, uint32_t length)
{
    const uint32_t lc = length - 2;
    unsigned slot = 27;
    while (kLenBase[slot] > lc)
        --slot;
    symbol(Main, 259 + index);
    symbol(Len, slot);
    bits(lc - kLenBase[slot], kLenExtra[slot]);
    return *this;
}

std::string Rar29Writer::recordBytes(const FilterRecord& r)
{
    BitWriter body;
    uint8_t flags = 0x80;
    const size_t index = r.program < 0 ? programs_ : static_cast<size_t>(r.program);
    putNumber(body, static_cast<uint32_t>(index + 1));
    if (r.program < 0)
        ++programs_;
    if (r.start >= 258) {
        flags |= 0x40;
        putNumber(body, r.start - 258);
    } else {
        putNumber(body, r.start);
    }
    if (r.length) {
        flags |= 0x20;
        putNumber(body, r.length);
    }
    if (!r.registers.empty()) {
        flags |= 0x10;
        unsigned mask = 0;
        for (auto& [reg, value] : r.registers)
            mask |= 1u << reg;
        body.put(mask, 7);
        for (unsigned i = 0; i < 7; ++i)
            for (auto& [reg, value] : r.registers)
                if (reg == i)
                    putNumber(body, value);
    }
    if (r.program < 0) {
        putNumber(body, static_cast<uint32_t>(r.bytecode.size()));
        for (char c : r.bytecode)
            body.put(static_cast<uint8_t>(c), 8);
    }
    const std::string& b = body.out;
    std::string out;
    if (b.size() <= 6) {
        out.push_back(static_cast<char>(flags | (b.size() - 1)));
    } else if (b.size() <= 262) {
        out.push_back(static_cast<char>(flags | 6));
        out.push_back(static_cast<char>(b.size() - 7));
    } else {
        out.push_back(static_cast<char>(flags | 7));
        out.push_back(static_cast<char>(b.size() >> 8));
        out.push_back(static_cast<char>(b.size() & 0xFF));
    }
    return out + b;
}

Rar29Writer& Rar29Writer::filter(const FilterRecord& record)
{
    symbol(Main, 257);
    for (char c : recordBytes(record))
        bits(static_cast<uint8_t>(c), 8);
    return *this;
}

Rar29Writer& Rar29Writer::blockEnd()
{
    symbol(Main, 256);
    bits(1, 1);
    return *this;
}

Rar29Writer& Rar29Writer::endOfFile(bool nextHasHeader)
{
    symbol(Main, 256);
    bits(0, 1);
    bits(nextHasHeader ? 1 : 0, 1);
    return *this;
}

Rar29Writer& Rar29Writer::ppmdBlock(const PpmdBlock& b)
{
    alignToByte();
    unsigned flags = 0x80;
    if (b.newModel) {
        flags |= 0x20;
        flags |= b.order <= 16 ? b.order - 1 : (b.order - 16) / 3 + 15;
    }
    if (b.escape >= 0)
        flags |= 0x40;
    bits(flags, 8);
    if (b.newModel)
        bits(b.memoryMiB - 1, 8);
    if (b.escape >= 0) {
        bits(static_cast<uint32_t>(b.escape), 8);
        escape_ = b.escape;
    }
    if (b.newModel && !ppmd_->model.start(b.memoryMiB << 20, b.order))
        throw std::runtime_error("PPMd memory");
    ppmd_->rc = RangeEncoder{};
    ppmd_->rc.out = &out_.out;
    return *this;
}

void Rar29Writer::ppmdSymbol(unsigned sym)
{
    ppmd_->rc.target = static_cast<int>(sym);
    if (ppmd_->model.code(ppmd_->rc) != static_cast<int>(sym))
        throw std::logic_error("Rar29Writer: PPMd symbol not coded");
}

Rar29Writer& Rar29Writer::ppmdText(const std::string& text)
{
    for (char c : text) {
        const unsigned b = static_cast<uint8_t>(c);
        ppmdSymbol(b);
        if (static_cast<int>(b) == escape_)
            ppmdSymbol(1);
    }
    return *this;
}

Rar29Writer& Rar29Writer::ppmdMatch(uint32_t length, uint32_t d)
{
    ppmdSymbol(static_cast<unsigned>(escape_));
    ppmdSymbol(4);
    const uint32_t v = d - 2;
    ppmdSymbol((v >> 16) & 0xFF);
    ppmdSymbol((v >> 8) & 0xFF);
    ppmdSymbol(v & 0xFF);
    ppmdSymbol(length - 32);
    return *this;
}

Rar29Writer& Rar29Writer::ppmdFilter(const FilterRecord& record)
{
    ppmdSymbol(static_cast<unsigned>(escape_));
    ppmdSymbol(3);
    for (char c : recordBytes(record))
        ppmdSymbol(static_cast<uint8_t>(c));
    return *this;
}

Rar29Writer& Rar29Writer::ppmdEnd(bool endOfFile)
{
    ppmdSymbol(static_cast<unsigned>(escape_));
    ppmdSymbol(endOfFile ? 2 : 0);
    ppmd_->rc.flush();
    return *this;
}

std::string Rar29Writer::take()
{
    alignToByte();
    std::string out;
    out.swap(out_.out);
    return out;
}

} // namespace tavrel::test
