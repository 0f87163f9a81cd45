#include "unrar/src/decode/rar29/Decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace unrar::rar29 {
namespace {

constexpr uint64_t kMask = Decoder::kWindowSize - 1;
// Room left in the window before each symbol: more than the longest match
// (260 in LZ blocks, 287 in PPMd blocks), so undelivered bytes are never overwritten.
constexpr uint64_t kMargin = 288;
// Bytes the range decoder may fetch past the end of the data: its look-ahead.
constexpr unsigned kRangeSlack = 8;

constexpr unsigned kMainSymbols = 299, kDistSymbols = 60, kLowSymbols = 17, kLenSymbols = 28;
constexpr unsigned kTableSize = kMainSymbols + kDistSymbols + kLowSymbols + kLenSymbols;

constexpr uint8_t kLenBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
                                  24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
constexpr uint8_t kLenBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
constexpr uint8_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
constexpr uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

struct DistanceSlots {
    uint32_t base[60];
    uint8_t bits[60];
    constexpr DistanceSlots() : base(), bits()
    {
        uint32_t b = 0;
        for (unsigned c = 0; c < 60; ++c) {
            bits[c] = static_cast<uint8_t>(c < 4 ? 0 : c < 36 ? c / 2 - 1 : c < 48 ? 16 : 18);
            base[c] = b;
            b += 1u << bits[c];
        }
    }
};
constexpr DistanceSlots kDist;

} // namespace

// A stream starts fresh: a first file marked as continuing finds an empty one.
Decoder::Decoder() { resetStream(); }
Decoder::~Decoder() = default;

void Decoder::resetStream()
{
    pos_ = flushed_ = 0;
    mode_ = Mode::Lz;
    needHeader_ = true;
    tablesReady_ = false;
    oldLengths_.fill(0);
    oldDist_.fill(0);
    lastDist_ = lastLen_ = 0;
    lowRep_ = lastLow_ = 0;
    ppmd_.discard();
    ppmdEscape_ = 2;
    filters_.reset();
    valid_ = true;
}

DecodeStatus Decoder::decodeFile(const FileRequest& request, PackedSource source, const OutputFunction& output)
{
    if (!window_) {
        window_.reset(new (std::nothrow) uint8_t[kWindowSize]);
        vm_.reset(new (std::nothrow) uint8_t[kVmMemory + 4]);
        if (!window_ || !vm_) {
            window_.reset();
            return DecodeStatus::NoMemory;
        }
    }
    if (!request.continues)
        resetStream();
    else if (!valid_)
        return DecodeStatus::Corrupt;
    BitInput in(std::move(source));
    in_ = &in;
    output_ = &output;
    fileStart_ = flushed_ = pos_;
    emitted_ = 0;
    emitLimit_ = request.sizeKnown ? request.size : UINT64_MAX;
    cancelled_ = false;
    failure_ = DecodeStatus::Corrupt;
    filters_.dropPending();
    DecodeStatus status = run(request);
    if (status != DecodeStatus::Ok)
        valid_ = false;
    in_ = nullptr;
    output_ = nullptr;
    return status;
}

DecodeStatus Decoder::run(const FileRequest& request)
{
    auto fail = [this]() { return cancelled_ ? DecodeStatus::Cancelled : failure_; };
    if ((!request.continues || needHeader_) && !readBlockHeader())
        return fail();
    if (mode_ == Mode::Lz && !tablesReady_)
        return DecodeStatus::Corrupt;
    const bool stopAtSize = request.sizeKnown && !request.untilEndMarker;
    for (;;) {
        if (in_->failed())
            return DecodeStatus::Corrupt;
        const bool exhausted = in_->overrun(mode_ == Mode::Ppmd ? kRangeSlack : 0);
        if (exhausted || (stopAtSize && pos_ - fileStart_ >= request.size))
            break;
        uint64_t limit = flushed_ + kWindowSize - kMargin;
        if (stopAtSize)
            limit = std::min(limit, fileStart_ + request.size);
        if (pos_ >= limit)
            return DecodeStatus::Corrupt; // a filter holds back more than the window
        const Step step = mode_ == Mode::Lz ? decodeLz(limit) : decodePpmd(limit);
        if (step == Step::Fail)
            return fail();
        if (!serviceOutput())
            return fail();
        if (step == Step::EndOfFile)
            break;
    }
    if (!serviceOutput())
        return fail();
    // A filter whose block is still incomplete would change bytes of this file.
    const uint64_t fileEnd = request.sizeKnown ? std::min(pos_, fileStart_ + request.size) : pos_;
    for (const PendingFilter& f : filters_.pending())
        if (f.start < fileEnd)
            return DecodeStatus::Corrupt;
    if (request.sizeKnown && emitted_ < request.size)
        return DecodeStatus::Corrupt;
    filters_.dropPending();
    flushed_ = pos_;
    return DecodeStatus::Ok;
}

bool Decoder::readBlockHeader()
{
    BitInput& in = *in_;
    in.align();
    if (in.bits(1)) {
        const unsigned flags = 0x80 | in.bits(7);
        const unsigned memory = (flags & 0x20) ? in.bits(8) : 0;
        if (flags & 0x40)
            ppmdEscape_ = static_cast<int>(in.bits(8));
        if (flags & 0x20) {
            unsigned order = (flags & 0x1F) + 1;
            if (order > 16)
                order = 16 + (order - 16) * 3;
            if (order == 1)
                return false;
            if (!ppmd_.start((memory + 1) << 20, order)) {
                failure_ = DecodeStatus::NoMemory;
                return false;
            }
        } else if (!ppmd_.ready()) {
            return false;
        }
        rc_.init(in);
        mode_ = Mode::Ppmd;
        return !in.overrun(kRangeSlack);
    }
    mode_ = Mode::Lz;
    return readTables() && !in.overrun();
}

bool Decoder::readTables()
{
    BitInput& in = *in_;
    tablesReady_ = false;
    lowRep_ = lastLow_ = 0;
    if (!in.bits(1))
        oldLengths_.fill(0);
    uint8_t pre[20] = {};
    for (unsigned i = 0; i < 20;) {
        const unsigned v = in.bits(4);
        if (v != 15) {
            pre[i++] = static_cast<uint8_t>(v);
            continue;
        }
        const unsigned zeros = in.bits(4);
        if (zeros == 0) {
            pre[i++] = 15;
        } else {
            for (unsigned n = zeros + 2; n > 0 && i < 20; --n)
                pre[i++] = 0;
        }
    }
    PrefixCode preCode;
    if (!preCode.build(pre, 20))
        return false;
    uint8_t lengths[kTableSize];
    for (unsigned i = 0; i < kTableSize;) {
        if (in.overrun())
            return false;
        const int s = preCode.decode(in);
        if (s < 0)
            return false;
        if (s < 16) {
            lengths[i] = static_cast<uint8_t>((oldLengths_[i] + s) & 15);
            ++i;
        } else if (s < 18) {
            const unsigned n = s == 16 ? 3 + in.bits(3) : 11 + in.bits(7);
            if (i == 0)
                return false;
            for (unsigned k = 0; k < n && i < kTableSize; ++k, ++i)
                lengths[i] = lengths[i - 1];
        } else {
            const unsigned n = s == 18 ? 3 + in.bits(3) : 11 + in.bits(7);
            for (unsigned k = 0; k < n && i < kTableSize; ++k)
                lengths[i++] = 0;
        }
    }
    std::memcpy(oldLengths_.data(), lengths, kTableSize);
    if (!mainCode_.build(lengths, kMainSymbols) || !distCode_.build(lengths + kMainSymbols, kDistSymbols) ||
        !lowCode_.build(lengths + kMainSymbols + kDistSymbols, kLowSymbols) ||
        !lenCode_.build(lengths + kMainSymbols + kDistSymbols + kLowSymbols, kLenSymbols))
        return false;
    tablesReady_ = true;
    return true;
}

bool Decoder::copyMatch(uint32_t distance, uint32_t length)
{
    if (distance == 0 || distance > pos_ || distance > kWindowSize)
        return false;
    uint8_t* w = window_.get();
    const uint64_t dst = pos_ & kMask, src = (pos_ - distance) & kMask;
    pos_ += length;
    if (dst + length <= kWindowSize && src + length <= kWindowSize) {
        if (distance >= length) {
            std::memmove(w + dst, w + src, length);
        } else {
            for (uint32_t i = 0; i < length; ++i)
                w[dst + i] = w[src + i];
        }
        return true;
    }
    for (uint32_t i = 0; i < length; ++i)
        w[(dst + i) & kMask] = w[(src + i) & kMask];
    return true;
}

Decoder::Step Decoder::decodeLz(uint64_t limit)
{
    BitInput& in = *in_;
    uint8_t* w = window_.get();
    while (pos_ < limit) {
        if (in.overrun())
            return Step::More;
        const int sym = mainCode_.decode(in);
        if (sym < 256) {
            if (sym < 0)
                return Step::Fail;
            w[pos_++ & kMask] = static_cast<uint8_t>(sym);
            continue;
        }
        uint32_t length, distance;
        if (sym >= 271) {
            const unsigned slot = sym - 271;
            length = kLenBase[slot] + 3 + in.bits(kLenBits[slot]);
            const int c = distCode_.decode(in);
            if (c < 0)
                return Step::Fail;
            distance = kDist.base[c] + 1;
            const unsigned bits = kDist.bits[c];
            if (c <= 9) {
                distance += in.bits(bits);
            } else {
                if (bits > 4)
                    distance += in.bits(bits - 4) << 4;
                if (lowRep_ > 0) {
                    --lowRep_;
                    distance += lastLow_;
                } else {
                    const int q = lowCode_.decode(in);
                    if (q < 0)
                        return Step::Fail;
                    if (q < 16) {
                        distance += static_cast<uint32_t>(q);
                        lastLow_ = static_cast<unsigned>(q);
                    } else {
                        lowRep_ = 15;
                        distance += lastLow_;
                    }
                }
            }
            length += (distance >= 0x2000) + (distance >= 0x40000);
            oldDist_[3] = oldDist_[2];
            oldDist_[2] = oldDist_[1];
            oldDist_[1] = oldDist_[0];
            oldDist_[0] = distance;
        } else if (sym >= 263) {
            const unsigned k = sym - 263;
            distance = kShortBase[k] + 1 + in.bits(kShortBits[k]);
            length = 2;
            oldDist_[3] = oldDist_[2];
            oldDist_[2] = oldDist_[1];
            oldDist_[1] = oldDist_[0];
            oldDist_[0] = distance;
        } else if (sym >= 259) {
            const unsigned k = sym - 259;
            distance = oldDist_[k];
            for (unsigned i = k; i > 0; --i)
                oldDist_[i] = oldDist_[i - 1];
            oldDist_[0] = distance;
            const int t = lenCode_.decode(in);
            if (t < 0)
                return Step::Fail;
            length = kLenBase[t] + 2 + in.bits(kLenBits[t]);
        } else if (sym == 258) {
            if (lastLen_ == 0)
                continue;
            distance = lastDist_;
            length = lastLen_;
        } else if (sym == 257) {
            if (!readFilter(false))
                return Step::Fail;
            continue;
        } else {
            if (in.bits(1)) {
                if (!readBlockHeader())
                    return Step::Fail;
                if (mode_ == Mode::Ppmd)
                    return Step::More;
                continue;
            }
            needHeader_ = in.bits(1) != 0;
            return Step::EndOfFile;
        }
        lastDist_ = distance;
        lastLen_ = length;
        if (!copyMatch(distance, length))
            return Step::Fail;
    }
    return Step::More;
}

Decoder::Step Decoder::decodePpmd(uint64_t limit)
{
    uint8_t* w = window_.get();
    while (pos_ < limit) {
        if (in_->overrun(kRangeSlack))
            return Step::More;
        const int c = ppmd_.decode(rc_);
        if (c < 0)
            return Step::Fail;
        if (c != ppmdEscape_) {
            w[pos_++ & kMask] = static_cast<uint8_t>(c);
            continue;
        }
        const int k = ppmd_.decode(rc_);
        if (k < 0)
            return Step::Fail;
        switch (k) {
        case 0:
            if (!readBlockHeader())
                return Step::Fail;
            if (mode_ == Mode::Lz)
                return Step::More;
            break;
        case 2: needHeader_ = true; return Step::EndOfFile;
        case 3:
            if (!readFilter(true))
                return Step::Fail;
            break;
        case 4: {
            uint32_t distance = 0;
            for (int i = 0; i < 3; ++i) {
                const int d = ppmd_.decode(rc_);
                if (d < 0)
                    return Step::Fail;
                distance = distance << 8 | static_cast<uint32_t>(d);
            }
            const int l = ppmd_.decode(rc_);
            if (l < 0)
                return Step::Fail;
            if (!copyMatch(distance + 2, static_cast<uint32_t>(l) + 32))
                return Step::Fail;
            break;
        }
        case 5: {
            const int l = ppmd_.decode(rc_);
            if (l < 0)
                return Step::Fail;
            if (!copyMatch(1, static_cast<uint32_t>(l) + 4))
                return Step::Fail;
            break;
        }
        default: // 1, and codes with no meaning: the escape byte itself
            w[pos_++ & kMask] = static_cast<uint8_t>(ppmdEscape_);
            break;
        }
    }
    return Step::More;
}

bool Decoder::readFilter(bool fromPpmd)
{
    bool ok = true;
    auto next = [&]() -> unsigned {
        if (!fromPpmd)
            return in_->bits(8);
        const int c = ppmd_.decode(rc_);
        if (c < 0)
            ok = false;
        return static_cast<unsigned>(c) & 0xFF;
    };
    const unsigned flags = next();
    unsigned length = (flags & 7) + 1;
    if (length == 7) {
        length = next() + 7;
    } else if (length == 8) {
        length = next() << 8;
        length |= next();
        if (length == 0)
            return false;
    }
    std::vector<uint8_t> body(length);
    for (uint8_t& b : body) {
        b = static_cast<uint8_t>(next());
        if (!ok || in_->overrun(kRangeSlack))
            return false;
    }
    if (!ok)
        return false;
    switch (filters_.addRecord(static_cast<uint8_t>(flags), body, pos_, kWindowSize)) {
    case FilterStatus::Ok: return true;
    case FilterStatus::Unsupported: failure_ = DecodeStatus::Unsupported; return false;
    case FilterStatus::Corrupt: return false;
    }
    return false;
}

bool Decoder::emit(const uint8_t* data, size_t size)
{
    if (emitted_ >= emitLimit_)
        return true;
    size = static_cast<size_t>(std::min<uint64_t>(size, emitLimit_ - emitted_));
    emitted_ += size;
    if (size && !(*output_)(data, size)) {
        cancelled_ = true;
        return false;
    }
    return true;
}

bool Decoder::emitWindow(uint64_t from, uint64_t to)
{
    while (from < to) {
        const uint64_t at = from & kMask;
        const uint64_t n = std::min(to - from, kWindowSize - at);
        if (!emit(window_.get() + at, static_cast<size_t>(n)))
            return false;
        from += n;
    }
    return true;
}

bool Decoder::serviceOutput()
{
    auto& pending = filters_.pending();
    for (;;) {
        if (pending.empty()) {
            if (!emitWindow(flushed_, pos_))
                return false;
            flushed_ = pos_;
            return true;
        }
        const PendingFilter f = pending.front();
        if (f.start < flushed_)
            return false;
        const uint64_t upTo = std::min(pos_, f.start);
        if (!emitWindow(flushed_, upTo))
            return false;
        flushed_ = upTo;
        if (pos_ < f.start + f.length)
            return true;

        uint8_t* vm = vm_.get();
        const uint64_t at = f.start & kMask;
        const uint64_t first = std::min<uint64_t>(f.length, kWindowSize - at);
        std::memcpy(vm, window_.get() + at, first);
        std::memcpy(vm + first, window_.get(), f.length - first);
        std::memset(vm + kVmMemory, 0, 4);
        uint32_t out = 0;
        const uint32_t fileOffset = static_cast<uint32_t>(f.start - fileStart_);
        if (!runFilter(f, vm, fileOffset, out))
            return false;
        pending.pop_front();
        // Chained filters work on the output of the one before, at the same place.
        while (!pending.empty() && pending.front().start == f.start && pending.front().length == f.length) {
            const PendingFilter g = pending.front();
            if (out)
                std::memmove(vm, vm + out, f.length);
            if (!runFilter(g, vm, fileOffset, out))
                return false;
            pending.pop_front();
        }
        if (!emit(vm + out, f.length))
            return false;
        flushed_ = f.start + f.length;
    }
}

} // namespace unrar::rar29
