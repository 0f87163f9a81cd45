#include "unrar/src/decode/Rar5Decoder.h"

#include <algorithm>

#include "unrar/include/unrar_api.h"
#include "unrar/src/decode/CodeLengths.h"
#include "unrar/src/decode/DeltaFilter.h"
#include "unrar/src/decode/LittleEndian.h"

namespace unrar::decode {
namespace {

constexpr size_t kMainSize = 306, kDistSize = 64, kLowDistSize = 16, kLenSize = 44;
constexpr size_t kLengthCount = kMainSize + kDistSize + kLowDistSize + kLenSize;
// Room the ring keeps beyond the bytes held for output: more than one
// command can add (a match of 4100 bytes).
constexpr uint64_t kHeadroom = 8192;
// Output is handed on at least this often.
constexpr uint64_t kFlushChunk = uint64_t(1) << 20;
constexpr size_t kReadChunk = size_t(1) << 20;
constexpr size_t kMaxFilters = 8192;
constexpr uint32_t kMaxFilterLength = 0x400000;
constexpr int kOutputStopped = ERAR_UNKNOWN; // the pipeline knows the real reason

uint64_t roundUpPow2(uint64_t v)
{
    uint64_t p = 1;
    while (p < v)
        p <<= 1;
    return p;
}

inline uint32_t lengthFromSlot(uint32_t slot, BitReader& br)
{
    if (slot < 8)
        return 2 + slot;
    const unsigned n = slot / 4 - 1;
    return 2 + ((4 + (slot & 3)) << n) + br.read(n);
}

} // namespace

int Rar5Decoder::decode(const Rar5Entry& entry, PackedSource& in, OutputPipeline& out)
{
    // Whatever happens, a solid successor needs this entry decoded whole.
    const bool wasReady = ready_;
    ready_ = false;
    if (entry.dictionarySize > kMaxDictionary && !entry.largeDictionary)
        return ERAR_LARGE_DICT;
    if (entry.dictionarySize == 0 || (entry.solid && !wasReady))
        return ERAR_BAD_DATA;
    const int r = run(entry, in, out);
    ready_ = r == ERAR_SUCCESS;
    return r;
}

int Rar5Decoder::prepareWindow(const Rar5Entry& entry)
{
    // The ring keeps the largest dictionary declared in the stream, but
    // never more than the stream can fill: an entry of known size looks
    // back no further than the stream's start, so the ring need only hold
    // everything produced so far (and grows, keeping every byte at its
    // stream position, when a later solid entry needs more).
    const uint64_t start = entry.solid ? window_.position() : 0;
    declaredWindow_ = entry.solid ? std::max(declaredWindow_, entry.dictionarySize) : entry.dictionarySize;
    uint64_t want = std::max<uint64_t>(declaredWindow_, kMinWindow);
    if (entry.sizeKnown && entry.unpackedSize < declaredWindow_)
        want = std::min(want, roundUpPow2(std::max<uint64_t>(start + entry.unpackedSize + 2 * kHeadroom, kMinWindow)));
    if (entry.solid) {
        if (want > window_.size() && !window_.grow(static_cast<size_t>(want)))
            return ERAR_NO_MEMORY;
        return ERAR_SUCCESS;
    }
    if (window_.size() != want && !window_.allocate(static_cast<size_t>(want)))
        return ERAR_NO_MEMORY;
    // A reused ring keeps old bytes, but no distance may reach before the
    // stream's start, so they are never read.
    window_.setPosition(0);
    tablesValid_ = false;
    std::fill(std::begin(rep_), std::end(rep_), 0);
    lastLen_ = 0;
    return ERAR_SUCCESS;
}

int Rar5Decoder::run(const Rar5Entry& entry, PackedSource& in, OutputPipeline& out)
{
    int r = prepareWindow(entry);
    if (r != ERAR_SUCCESS)
        return r;
    entryStart_ = emitted_ = window_.position();
    sizeKnown_ = entry.sizeKnown;
    if (sizeKnown_ && entry.unpackedSize > UINT64_MAX / 2)
        return ERAR_BAD_DATA;
    limit_ = entryStart_ + entry.unpackedSize;
    filters_.clear();
    lastFilterEnd_ = entryStart_;
    inPos_ = inEnd_ = 0;
    inEof_ = false;

    for (;;) {
        uint8_t flags = 0;
        size_t size = 0;
        r = readBlockHeader(in, flags, size);
        if (r != ERAR_SUCCESS)
            return r;
        if (!fill(in, size, r))
            return r ? r : ERAR_BAD_DATA;
        if (size > 0) {
            BitReader br(in_.data() + inPos_, size);
            const uint64_t budget = 8 * uint64_t(size - 1) + (flags & 7) + 1;
            if (flags & 0x80) {
                r = readTables(br, budget);
                if (r != ERAR_SUCCESS)
                    return r;
            } else if (!tablesValid_) {
                return ERAR_BAD_DATA;
            }
            r = decodeBlock(br, budget, out);
            if (r != ERAR_SUCCESS)
                return r;
        }
        inPos_ += size;
        if (flags & 0x40)
            break;
    }
    r = flush(out);
    if (r != ERAR_SUCCESS)
        return r;
    // A filter still pending reaches past the entry's data.
    if (!filters_.empty())
        return ERAR_BAD_DATA;
    if (sizeKnown_ && window_.position() != limit_)
        return ERAR_BAD_DATA;
    // Every packed byte belongs to a block, but for the padding allowed.
    size_t unused = inEnd_ - inPos_;
    uint8_t extra[16];
    for (;;) {
        const long long got = in.read(extra, sizeof extra);
        if (got < 0)
            return in.error() ? in.error() : ERAR_BAD_DATA;
        if (got == 0)
            break;
        unused += static_cast<size_t>(got);
        if (unused > entry.trailingPadding)
            return ERAR_BAD_DATA;
    }
    return unused <= entry.trailingPadding ? ERAR_SUCCESS : ERAR_BAD_DATA;
}

bool Rar5Decoder::fill(PackedSource& in, size_t n, int& error)
{
    error = ERAR_SUCCESS;
    if (inEnd_ - inPos_ >= n)
        return true;
    if (inPos_ + n > in_.size()) {
        if (inEnd_ > inPos_)
            std::memmove(in_.data(), in_.data() + inPos_, inEnd_ - inPos_);
        inEnd_ -= inPos_;
        inPos_ = 0;
        // Small entries need no large buffer: it doubles up to kReadChunk (or one block).
        if (in_.size() < n || in_.size() < kReadChunk)
            in_.resize(std::max(n, std::min(kReadChunk, std::max<size_t>(2 * in_.size(), 64 << 10))));
    }
    while (inEnd_ - inPos_ < n) {
        if (inEof_)
            return false;
        const long long got = in.read(in_.data() + inEnd_, in_.size() - inEnd_);
        if (got < 0) {
            error = in.error() ? in.error() : ERAR_BAD_DATA;
            return false;
        }
        if (got == 0) {
            inEof_ = true;
            return false;
        }
        inEnd_ += static_cast<size_t>(got);
    }
    return true;
}

int Rar5Decoder::readBlockHeader(PackedSource& in, uint8_t& flags, size_t& size)
{
    int r;
    if (!fill(in, 2, r))
        return r ? r : ERAR_BAD_DATA;
    flags = in_[inPos_];
    const uint8_t check = in_[inPos_ + 1];
    const size_t sizeBytes = ((flags >> 3) & 7) + 1;
    if (sizeBytes > 3)
        return ERAR_BAD_DATA;
    if (!fill(in, 2 + sizeBytes, r))
        return r ? r : ERAR_BAD_DATA;
    uint8_t x = 0x5A ^ flags;
    size = 0;
    for (size_t i = 0; i < sizeBytes; ++i) {
        const uint8_t b = in_[inPos_ + 2 + i];
        size |= size_t(b) << (8 * i);
        x ^= b;
    }
    if (x != check)
        return ERAR_BAD_DATA;
    inPos_ += 2 + sizeBytes;
    return ERAR_SUCCESS;
}

int Rar5Decoder::readTables(BitReader& br, uint64_t budget)
{
    tablesValid_ = false;
    uint8_t bitLengths[kLengthCodeSize];
    readLengthCodeLengths(br, bitLengths);
    if (br.position() > budget)
        return ERAR_BAD_DATA;
    HuffmanTable bitLengthCode;
    if (!bitLengthCode.build(bitLengths, kLengthCodeSize))
        return ERAR_BAD_DATA;

    uint8_t lengths[kLengthCount];
    if (!readCodeLengths(br, bitLengthCode, lengths, kLengthCount, nullptr, [&] { return br.position() <= budget; }))
        return ERAR_BAD_DATA;
    if (br.position() > budget)
        return ERAR_BAD_DATA;
    const uint8_t* p = lengths;
    if (!tables_.main.build(p, kMainSize) || !tables_.dist.build(p + kMainSize, kDistSize) ||
        !tables_.lowDist.build(p + kMainSize + kDistSize, kLowDistSize) ||
        !tables_.len.build(p + kMainSize + kDistSize + kLowDistSize, kLenSize))
        return ERAR_BAD_DATA;
    tablesValid_ = true;
    return ERAR_SUCCESS;
}

int Rar5Decoder::decodeBlock(BitReader& br, uint64_t budget, OutputPipeline& out)
{
    uint8_t* const win = window_.data();
    const size_t mask = window_.mask();
    const uint64_t wsize = window_.size();
    const uint64_t maxHeld = wsize - kHeadroom;
    const HuffmanTable& mainCode = tables_.main;
    uint64_t pos = window_.position();

    while (br.position() < budget) {
        window_.setPosition(pos);
        int r = flush(out);
        if (r != ERAR_SUCCESS)
            return r;
        const uint64_t held = pos - emitted_;
        // Only a filter waiting for its range holds bytes back; one that
        // the ring cannot keep whole is damage.
        if (held >= maxHeld)
            return ERAR_BAD_DATA;
        const uint64_t stop = pos + std::min(kFlushChunk, maxHeld - held);

        while (pos < stop && br.position() < budget) {
            const int s = mainCode.decode(br);
            if (s < 256) {
                if (s < 0)
                    return ERAR_BAD_DATA;
                win[pos++ & mask] = static_cast<uint8_t>(s);
                continue;
            }
            uint64_t distance;
            uint32_t length;
            if (s >= 262) {
                length = lengthFromSlot(static_cast<uint32_t>(s - 262), br);
                const int slot = tables_.dist.decode(br);
                if (slot < 0)
                    return ERAR_BAD_DATA;
                if (slot < 4) {
                    distance = static_cast<uint64_t>(slot) + 1;
                } else {
                    const unsigned n = static_cast<unsigned>(slot) / 2 - 1;
                    distance = 1 + (uint64_t(2 + (slot & 1)) << n);
                    if (n < 4) {
                        distance += br.read(n);
                    } else {
                        if (n > 4)
                            distance += uint64_t(br.read(n - 4)) << 4;
                        const int low = tables_.lowDist.decode(br);
                        if (low < 0)
                            return ERAR_BAD_DATA;
                        distance += static_cast<uint64_t>(low);
                    }
                }
                length += (distance > 0x100) + (distance > 0x2000) + (distance > 0x40000);
                rep_[3] = rep_[2];
                rep_[2] = rep_[1];
                rep_[1] = rep_[0];
                rep_[0] = distance;
                lastLen_ = length;
            } else if (s == 256) {
                window_.setPosition(pos);
                r = readFilter(br);
                if (r != ERAR_SUCCESS)
                    return r;
                continue;
            } else if (s == 257) {
                if (lastLen_ == 0)
                    continue;
                distance = rep_[0];
                length = lastLen_;
            } else {
                const int k = s - 258;
                distance = rep_[k];
                for (int j = k; j > 0; --j)
                    rep_[j] = rep_[j - 1];
                rep_[0] = distance;
                const int slot = tables_.len.decode(br);
                if (slot < 0)
                    return ERAR_BAD_DATA;
                length = lengthFromSlot(static_cast<uint32_t>(slot), br);
                lastLen_ = length;
            }
            // Nothing before the stream's start, nor further back than the ring.
            if (distance == 0 || distance > pos || distance > wsize)
                return ERAR_BAD_DATA;
            window_.setPosition(pos);
            window_.copyMatch(static_cast<size_t>(distance), length);
            pos += length;
        }
    }
    window_.setPosition(pos);
    if (br.position() > budget)
        return ERAR_BAD_DATA;
    return ERAR_SUCCESS;
}

int Rar5Decoder::readFilter(BitReader& br)
{
    auto number = [&br] {
        const unsigned bytes = br.read(2) + 1;
        uint32_t v = 0;
        for (unsigned i = 0; i < bytes; ++i)
            v |= br.read(8) << (8 * i);
        return v;
    };
    Filter f;
    f.start = window_.position() + number();
    f.length = number();
    f.type = static_cast<uint8_t>(br.read(3));
    f.channels = f.type == 0 ? static_cast<uint8_t>(br.read(5) + 1) : 0;
    if (f.type > 3 || f.length < 4 || f.length > kMaxFilterLength || f.length > declaredWindow_ / 2)
        return ERAR_BAD_DATA;
    // Ranges come in order and never overlap; each must end inside the entry.
    if (f.start < lastFilterEnd_ || filters_.size() >= kMaxFilters)
        return ERAR_BAD_DATA;
    if (sizeKnown_ && f.start + f.length > limit_)
        return ERAR_BAD_DATA;
    lastFilterEnd_ = f.start + f.length;
    filters_.push_back(f);
    return ERAR_SUCCESS;
}

int Rar5Decoder::emit(const uint8_t* data, size_t n, OutputPipeline& out)
{
    if (sizeKnown_ && emitted_ + n > limit_)
        return ERAR_BAD_DATA;
    emitted_ += n;
    return out.append(data, n) ? ERAR_SUCCESS : kOutputStopped;
}

int Rar5Decoder::flush(OutputPipeline& out)
{
    const uint64_t pos = window_.position();
    while (emitted_ < pos) {
        uint64_t rawEnd = pos;
        if (!filters_.empty()) {
            const Filter& f = filters_.front();
            if (emitted_ >= f.start) {
                if (pos < f.start + f.length)
                    break; // its range is not complete yet
                scratch_.resize(f.length);
                window_.copyOut(f.start, f.length, scratch_.data());
                const Filter current = f;
                filters_.pop_front();
                applyFilter(current, scratch_.data());
                const uint8_t* result = current.type == 0 ? filtered_.data() : scratch_.data();
                const int r = emit(result, current.length, out);
                if (r != ERAR_SUCCESS)
                    return r;
                continue;
            }
            rawEnd = std::min(pos, f.start);
        }
        // Unfiltered bytes straight from the ring.
        int r = ERAR_SUCCESS;
        window_.forEachRun(emitted_, rawEnd, [&](const uint8_t* data, size_t n) {
            r = emit(data, n, out);
            return r == ERAR_SUCCESS;
        });
        if (r != ERAR_SUCCESS)
            return r;
    }
    return ERAR_SUCCESS;
}

void Rar5Decoder::applyFilter(const Filter& f, uint8_t* data)
{
    const uint32_t length = f.length;
    const uint64_t base = f.start - entryStart_; // offset in the entry
    switch (f.type) {
    case 0: { // delta: the channels are stored one after the other
        filtered_.resize(length);
        undoDelta(data, filtered_.data(), length, f.channels);
        break;
    }
    case 1:
    case 2: { // x86 CALL (and JMP): absolute addresses back to relative
        const bool jumps = f.type == 2;
        for (uint32_t i = 0; i + 4 < length;) {
            const uint8_t op = data[i++];
            if (op != 0xE8 && !(jumps && op == 0xE9))
                continue;
            const int64_t at = static_cast<int64_t>((base + i) & 0xFFFFFF);
            const int64_t a = static_cast<int32_t>(le32(data + i));
            if (a < 0 && a >= -at)
                putLe32(data + i, static_cast<uint32_t>(a + 0x1000000));
            else if (a >= 0 && a < 0x1000000)
                putLe32(data + i, static_cast<uint32_t>(a - at));
            i += 4;
        }
        break;
    }
    case 3: // ARM BL: absolute targets back to relative
        for (uint32_t i = 0; i + 3 < length; i += 4) {
            if (data[i + 3] != 0xEB)
                continue;
            uint32_t offset = le32(data + i) & 0xFFFFFF;
            offset = (offset - static_cast<uint32_t>((base + i) / 4)) & 0xFFFFFF;
            putLe32(data + i, offset | 0xEB000000);
        }
        break;
    default: break;
    }
}

} // namespace unrar::decode
