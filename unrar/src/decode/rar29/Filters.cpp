#include "unrar/src/decode/rar29/Filters.h"

#include <cstdlib>
#include <cstring>

#include "unrar/src/Crc32.h"
#include "unrar/src/decode/BitReader.h"
#include "unrar/src/decode/DeltaFilter.h"
#include "unrar/src/decode/LittleEndian.h"

namespace unrar::rar29 {
namespace {

// Far more than RAR ever writes; keeps a crafted stream from growing without end.
constexpr size_t kMaxPrograms = 8192;
constexpr size_t kMaxPending = 8192;
constexpr uint32_t kMaxGlobalData = 0x1FC0;

struct KnownProgram {
    uint32_t length;
    uint32_t crc;
    FilterType type;
};
constexpr KnownProgram kKnown[] = {
    {53, 0xAD576887, FilterType::E8},    {57, 0x3CD7E57E, FilterType::E8E9}, {120, 0x3769893F, FilterType::Itanium},
    {29, 0x0E06077D, FilterType::Delta}, {149, 0x1C2C5DC8, FilterType::Rgb}, {216, 0xBC85E701, FilterType::Audio},
};

// The bits of a filter record, read with the decoders' bit reader; past
// the record's end they read as zero and ok() turns false.
class RecordBits {
public:
    explicit RecordBits(const std::vector<uint8_t>& b) : bits_(b.data(), b.size()) {}
    bool ok() const { return !bits_.overrun(); }
    uint32_t bits(unsigned n) { return bits_.read(n); } // 1..32
    uint32_t number()
    {
        switch (bits(2)) {
        case 0: return bits(4);
        case 1: {
            uint32_t h = bits(4);
            if (h == 0)
                return 0xFFFFFF00u | bits(8);
            return h << 4 | bits(4);
        }
        case 2: return bits(16);
        default: return bits(32);
        }
    }

private:
    decode::BitReader bits_;
};

using decode::le32;
using decode::putLe32;

void x86(uint8_t* m, uint32_t length, uint32_t fileOffset, bool withJumps)
{
    if (length < 5)
        return;
    for (uint32_t i = 0; i <= length - 5;) {
        if (m[i] == 0xE8 || (withJumps && m[i] == 0xE9)) {
            const uint32_t here = fileOffset + i + 1;
            const uint32_t a = le32(m + i + 1);
            if (a & 0x80000000u) {
                if (here >= 0u - a)
                    putLe32(m + i + 1, a + 0x1000000u);
            } else if (a < 0x1000000u) {
                putLe32(m + i + 1, a - here);
            }
            i += 5;
        } else {
            ++i;
        }
    }
}

void itanium(uint8_t* m, uint32_t length, uint32_t fileOffset)
{
    static constexpr uint8_t kMasks[16] = {4, 4, 6, 6, 0, 0, 7, 7, 4, 4, 0, 0, 4, 4, 0, 0};
    uint32_t bundle = fileOffset >> 4;
    for (uint32_t k = 0; k + 21 < length; k += 16, ++bundle) {
        const int t = (m[k] & 0x1F) - 0x10;
        if (t < 0)
            continue;
        const unsigned mask = kMasks[t];
        for (unsigned j = 0; j < 3; ++j) {
            if (!(mask & (1u << j)))
                continue;
            const unsigned p = 5 + 41 * j;
            auto field = [&](unsigned q, unsigned w) { return (le32(m + k + q / 8) >> (q & 7)) & ((1u << w) - 1); };
            if (field(p + 37, 4) != 5)
                continue;
            const unsigned q = p + 13;
            const uint32_t value = (field(q, 20) - bundle) & 0xFFFFF;
            uint8_t* at = m + k + q / 8;
            const uint32_t keep = ~(0xFFFFFu << (q & 7));
            putLe32(at, (le32(at) & keep) | value << (q & 7));
        }
    }
}

void rgb(uint8_t* m, uint32_t length, uint32_t width, uint32_t posR)
{
    uint8_t* d = m + length;
    uint32_t src = 0;
    for (uint32_t ch = 0; ch < 3; ++ch) {
        unsigned prev = 0;
        for (uint32_t i = ch; i < length; i += 3) {
            unsigned pred = prev;
            if (i >= width) {
                const int up = d[i - width + 3], ul = d[i - width];
                const int pa = std::abs(up - ul), pb = std::abs(static_cast<int>(prev) - ul),
                          pc = std::abs(static_cast<int>(prev) + up - 2 * ul);
                pred =
                    (pa <= pb && pa <= pc) ? prev : (pb <= pc ? static_cast<unsigned>(up) : static_cast<unsigned>(ul));
            }
            prev = (pred - m[src++]) & 0xFF;
            d[i] = static_cast<uint8_t>(prev);
        }
    }
    for (uint32_t i = posR; i + 2 < length; i += 3) {
        d[i] = static_cast<uint8_t>(d[i] + d[i + 1]);
        d[i + 2] = static_cast<uint8_t>(d[i + 2] + d[i + 1]);
    }
}

void audio(uint8_t* m, uint32_t length, uint32_t channels)
{
    uint32_t src = 0;
    for (uint64_t ch = 0; ch < channels && ch < length; ++ch) {
        unsigned prevByte = 0;
        int prevDelta = 0;
        // The last three deltas and the weights the predictor gives them.
        int d[3] = {}, k[3] = {};
        // Error sums: of no prediction, then of each delta taken off and added.
        unsigned dif[7] = {};
        unsigned count = 0;
        for (uint64_t i = ch; i < length; i += channels) {
            d[2] = d[1];
            d[1] = prevDelta - d[0];
            d[0] = prevDelta;
            const uint32_t sum = 8u * prevByte + static_cast<uint32_t>(k[0] * d[0]) +
                                 static_cast<uint32_t>(k[1] * d[1]) + static_cast<uint32_t>(k[2] * d[2]);
            const unsigned pred = static_cast<unsigned>(static_cast<int32_t>(sum) >> 3) & 0xFF;
            const unsigned cur = m[src++];
            const unsigned b = (pred - cur) & 0xFF;
            m[length + i] = static_cast<uint8_t>(b);
            prevDelta = static_cast<int8_t>(static_cast<uint8_t>(b - prevByte));
            prevByte = b;
            const int dd = static_cast<int8_t>(cur) * 8;
            dif[0] += static_cast<unsigned>(std::abs(dd));
            for (unsigned j = 0; j < 3; ++j) {
                dif[1 + 2 * j] += static_cast<unsigned>(std::abs(dd - d[j]));
                dif[2 + 2 * j] += static_cast<unsigned>(std::abs(dd + d[j]));
            }
            if (count % 32 == 0) {
                unsigned best = 0;
                for (unsigned j = 1; j < 7; ++j)
                    if (dif[j] < dif[best])
                        best = j;
                std::memset(dif, 0, sizeof dif);
                // The weight of the delta whose sum was least moves one step,
                // down where taking it off did best, up where adding it did.
                if (best > 0) {
                    int& weight = k[(best - 1) / 2];
                    if (best % 2 == 1) {
                        if (weight >= -16)
                            --weight;
                    } else if (weight < 16) {
                        ++weight;
                    }
                }
            }
            ++count;
        }
    }
}

} // namespace

void FilterSet::reset()
{
    programs_.clear();
    pending_.clear();
    lastIndex_ = 0;
}

FilterStatus FilterSet::addRecord(uint8_t flags, const std::vector<uint8_t>& body, uint64_t pos, uint64_t windowSize)
{
    RecordBits r(body);
    size_t index = lastIndex_;
    if (flags & 0x80) {
        const uint32_t v = r.number();
        if (v == 0) {
            programs_.clear();
            pending_.clear();
            index = 0;
        } else {
            index = v - 1;
        }
    }
    if (!r.ok() || index > programs_.size())
        return FilterStatus::Corrupt;
    const bool fresh = index == programs_.size();
    lastIndex_ = index;
    if (!fresh)
        ++programs_[index].usage;

    uint64_t start = r.number();
    if (flags & 0x40)
        start += 258;
    uint32_t length = fresh ? 0 : programs_[index].lastLength;
    if (flags & 0x20)
        length = r.number();
    uint32_t regs[7] = {};
    bool r4Set = false;
    if (flags & 0x10) {
        const uint32_t mask = r.bits(7);
        for (unsigned i = 0; i < 7; ++i) {
            if (mask & (1u << i)) {
                regs[i] = r.number();
                if (i == 4)
                    r4Set = true;
            }
        }
    }
    FilterType type = FilterType::E8;
    if (fresh) {
        const uint32_t codeLength = r.number();
        if (!r.ok() || codeLength == 0 || codeLength >= 0x10000)
            return FilterStatus::Corrupt;
        std::vector<uint8_t> code(codeLength);
        for (uint8_t& b : code)
            b = static_cast<uint8_t>(r.bits(8));
        if (!r.ok())
            return FilterStatus::Corrupt;
        uint8_t x = 0;
        for (size_t i = 1; i < code.size(); ++i)
            x ^= code[i];
        if (x != code[0])
            return FilterStatus::Corrupt;
        const uint32_t crc = crc32Update(0, code.data(), code.size());
        bool known = false;
        for (const KnownProgram& k : kKnown) {
            if (k.length == codeLength && k.crc == crc) {
                type = k.type;
                known = true;
            }
        }
        if (!known)
            return FilterStatus::Unsupported;
        if (programs_.size() >= kMaxPrograms)
            return FilterStatus::Corrupt;
        programs_.push_back(Program{type, 0, 0});
    } else {
        type = programs_[index].type;
    }
    programs_[index].lastLength = length;
    if (flags & 0x08) {
        const uint32_t globalLength = r.number();
        if (!r.ok() || globalLength > kMaxGlobalData)
            return FilterStatus::Corrupt;
        for (uint32_t i = 0; i < globalLength; ++i)
            r.bits(8);
    }
    if (!r.ok())
        return FilterStatus::Corrupt;
    if (length == 0 || length > kMaxFilterBlock || length > windowSize)
        return FilterStatus::Corrupt;
    if (r4Set && regs[4] != length)
        return FilterStatus::Corrupt;

    PendingFilter f{type, pos + start, length, regs[0], regs[1]};
    if (!pending_.empty()) {
        const PendingFilter& last = pending_.back();
        const bool chained = f.start == last.start && f.length == last.length;
        if (!chained && f.start < last.start + last.length)
            return FilterStatus::Corrupt;
    }
    if (pending_.size() >= kMaxPending)
        return FilterStatus::Corrupt;
    pending_.push_back(f);
    return FilterStatus::Ok;
}

bool runFilter(const PendingFilter& f, uint8_t* vm, uint32_t fileOffset, uint32_t& outStart)
{
    const uint32_t n = f.length;
    switch (f.type) {
    case FilterType::E8:
    case FilterType::E8E9:
        if (n > kMaxFilterBlock)
            return false;
        x86(vm, n, fileOffset, f.type == FilterType::E8E9);
        outStart = 0;
        return true;
    case FilterType::Itanium:
        if (n < 21 || n > kMaxFilterBlock)
            return false;
        itanium(vm, n, fileOffset);
        outStart = 0;
        return true;
    case FilterType::Delta:
        if (f.channels < 1 || 2 * n > kMaxFilterBlock)
            return false;
        decode::undoDelta(vm, vm + n, n, f.channels);
        break;
    case FilterType::Rgb:
        if (n < 3 || 2 * n > kMaxFilterBlock || f.channels < 3 || f.channels > n || f.rgbOffset > 2)
            return false;
        rgb(vm, n, f.channels, f.rgbOffset);
        break;
    case FilterType::Audio:
        if (f.channels < 1 || 2 * n > kMaxFilterBlock)
            return false;
        audio(vm, n, f.channels);
        break;
    }
    outStart = n;
    return true;
}

} // namespace unrar::rar29
