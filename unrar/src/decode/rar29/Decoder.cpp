#include "unrar/src/decode/rar29/Decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "unrar/src/decode/CodeLengths.h"

namespace unrar::rar29 {
namespace {

// Room left in the window before each symbol: more than the longest match
// (260 in LZ blocks, 287 in PPMd blocks), so undelivered bytes are never overwritten.
constexpr uint64_t kMargin = 288;
// Bytes the range decoder may fetch past the end of the data: its look-ahead.
constexpr unsigned kRangeSlack = 8;
// Packed bytes kept ahead of the reader: far more than one LZ symbol (under
// 16 bytes), one table entry or one PPMd step with its escapes (a few
// hundred at most) can take.
constexpr size_t kLookahead = 4096;
constexpr size_t kInputSize = size_t(64) << 10;

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
    window_.setPosition(0);
    flushed_ = 0;
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

DecodeStatus Decoder::decodeFile(const FileRequest& request, decode::PackedSource& source, decode::OutputPipeline& out)
{
    // No byte is read before it is written (distances never reach before
    // the stream's start), so the window need not be cleared.
    if (window_.empty() && !window_.allocate(kWindowSize, false))
        return DecodeStatus::NoMemory;
    if (!request.continues)
        resetStream();
    else if (!valid_)
        return DecodeStatus::Corrupt;
    startInput(source);
    out_ = &out;
    fileStart_ = flushed_ = window_.position();
    emitted_ = 0;
    emitLimit_ = request.sizeKnown ? request.size : UINT64_MAX;
    cancelled_ = false;
    failure_ = DecodeStatus::Corrupt;
    filters_.dropPending();
    DecodeStatus status = run(request);
    if (status != DecodeStatus::Ok)
        valid_ = false;
    source_ = nullptr;
    out_ = nullptr;
    return status;
}

void Decoder::startInput(decode::PackedSource& source)
{
    source_ = &source;
    if (!input_)
        input_.reset(new uint8_t[kInputSize]);
    inSize_ = 0;
    inEnd_ = inFailed_ = false;
    bits_.reset(input_.get(), 0);
    refillInput();
}

void Decoder::refillInput()
{
    // Whole bytes already read go; the bit offset within the next byte stays.
    const uint64_t bit = bits_.position();
    const size_t used = static_cast<size_t>(std::min<uint64_t>(bit >> 3, inSize_));
    const unsigned within = static_cast<unsigned>(bit - uint64_t(used) * 8);
    if (used)
        std::memmove(input_.get(), input_.get() + used, inSize_ - used);
    inSize_ -= used;
    while (inSize_ < kInputSize && !inEnd_) {
        const long long got = source_->read(input_.get() + inSize_, kInputSize - inSize_);
        if (got < 0)
            inFailed_ = true;
        if (got <= 0)
            inEnd_ = true;
        else
            inSize_ += static_cast<size_t>(got);
    }
    bits_.reset(input_.get(), inSize_);
    bits_.setPosition(within);
    refillAt_ = inEnd_ ? UINT64_MAX : uint64_t(inSize_ - kLookahead) * 8;
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
        if (inFailed_)
            return DecodeStatus::Corrupt;
        const bool exhausted = overrun(mode_ == Mode::Ppmd ? kRangeSlack : 0);
        const uint64_t pos = window_.position();
        if (exhausted || (stopAtSize && pos - fileStart_ >= request.size))
            break;
        uint64_t limit = flushed_ + kWindowSize - kMargin;
        if (stopAtSize)
            limit = std::min(limit, fileStart_ + request.size);
        if (pos >= limit)
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
    if (inFailed_)
        return DecodeStatus::Corrupt;
    // A filter whose block is still incomplete would change bytes of this file.
    const uint64_t pos = window_.position();
    const uint64_t fileEnd = request.sizeKnown ? std::min(pos, fileStart_ + request.size) : pos;
    for (const PendingFilter& f : filters_.pending())
        if (f.start < fileEnd)
            return DecodeStatus::Corrupt;
    if (request.sizeKnown && emitted_ < request.size)
        return DecodeStatus::Corrupt;
    filters_.dropPending();
    flushed_ = pos;
    return DecodeStatus::Ok;
}

bool Decoder::readBlockHeader()
{
    bits_.alignToByte();
    ensureInput();
    if (bits(1)) {
        const unsigned flags = 0x80 | bits(7);
        const unsigned memory = (flags & 0x20) ? bits(8) : 0;
        if (flags & 0x40)
            ppmdEscape_ = static_cast<int>(bits(8));
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
        rc_.init(bits_);
        mode_ = Mode::Ppmd;
        return !overrun(kRangeSlack);
    }
    mode_ = Mode::Lz;
    return readTables() && !overrun();
}

bool Decoder::readTables()
{
    tablesReady_ = false;
    lowRep_ = lastLow_ = 0;
    if (!bits(1))
        oldLengths_.fill(0);
    uint8_t pre[decode::kLengthCodeSize];
    decode::readLengthCodeLengths(bits_, pre);
    decode::HuffmanTable preCode;
    if (!preCode.build(pre, decode::kLengthCodeSize))
        return false;
    uint8_t lengths[kTableSize];
    auto more = [this] {
        ensureInput();
        return !overrun();
    };
    if (!decode::readCodeLengths(bits_, preCode, lengths, kTableSize, oldLengths_.data(), more))
        return false;
    std::memcpy(oldLengths_.data(), lengths, kTableSize);
    if (!mainCode_.build(lengths, kMainSymbols) || !distCode_.build(lengths + kMainSymbols, kDistSymbols) ||
        !lowCode_.build(lengths + kMainSymbols + kDistSymbols, kLowSymbols) ||
        !lenCode_.build(lengths + kMainSymbols + kDistSymbols + kLowSymbols, kLenSymbols))
        return false;
    tablesReady_ = true;
    return true;
}

Decoder::Step Decoder::decodeLz(uint64_t limit)
{
    uint8_t* const w = window_.data();
    const size_t mask = window_.mask();
    uint64_t pos = window_.position();
    // The window's position follows `pos` wherever a call may look at it.
    Step step = Step::More;
    while (pos < limit) {
        ensureInput();
        if (overrun())
            break;
        const int sym = mainCode_.decode(bits_);
        if (sym < 256) {
            if (sym < 0) {
                step = Step::Fail;
                break;
            }
            w[pos++ & mask] = static_cast<uint8_t>(sym);
            continue;
        }
        uint32_t length, distance;
        if (sym >= 271) {
            const unsigned slot = sym - 271;
            length = kLenBase[slot] + 3 + bits(kLenBits[slot]);
            const int c = distCode_.decode(bits_);
            if (c < 0) {
                step = Step::Fail;
                break;
            }
            distance = kDist.base[c] + 1;
            const unsigned extra = kDist.bits[c];
            if (c <= 9) {
                distance += bits(extra);
            } else {
                if (extra > 4)
                    distance += bits(extra - 4) << 4;
                if (lowRep_ > 0) {
                    --lowRep_;
                    distance += lastLow_;
                } else {
                    const int q = lowCode_.decode(bits_);
                    if (q < 0) {
                        step = Step::Fail;
                        break;
                    }
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
            pushDistance(distance);
        } else if (sym >= 263) {
            const unsigned k = sym - 263;
            distance = kShortBase[k] + 1 + bits(kShortBits[k]);
            length = 2;
            pushDistance(distance);
        } else if (sym >= 259) {
            const unsigned k = sym - 259;
            distance = oldDist_[k];
            for (unsigned i = k; i > 0; --i)
                oldDist_[i] = oldDist_[i - 1];
            oldDist_[0] = distance;
            const int t = lenCode_.decode(bits_);
            if (t < 0) {
                step = Step::Fail;
                break;
            }
            length = kLenBase[t] + 2 + bits(kLenBits[t]);
        } else if (sym == 258) {
            if (lastLen_ == 0)
                continue;
            distance = lastDist_;
            length = lastLen_;
        } else if (sym == 257) {
            window_.setPosition(pos);
            if (!readFilter(false)) {
                step = Step::Fail;
                break;
            }
            continue;
        } else {
            window_.setPosition(pos);
            if (bits(1)) {
                if (!readBlockHeader())
                    return Step::Fail;
                if (mode_ == Mode::Ppmd)
                    return Step::More;
                continue;
            }
            needHeader_ = bits(1) != 0;
            return Step::EndOfFile;
        }
        lastDist_ = distance;
        lastLen_ = length;
        window_.setPosition(pos);
        if (!copyMatch(distance, length)) {
            step = Step::Fail;
            break;
        }
        pos += length;
    }
    window_.setPosition(pos);
    return step;
}

bool Decoder::copyMatch(uint32_t distance, uint32_t length)
{
    const uint64_t pos = window_.position();
    // Nothing before the stream's start, nor further back than the window.
    if (distance == 0 || distance > pos || distance > kWindowSize)
        return false;
    window_.copyMatch(distance, length);
    return true;
}

Decoder::Step Decoder::decodePpmd(uint64_t limit)
{
    while (window_.position() < limit) {
        ensureInput();
        if (overrun(kRangeSlack))
            return Step::More;
        const int c = ppmd_.decode(rc_);
        if (c < 0)
            return Step::Fail;
        if (c != ppmdEscape_) {
            window_.put(static_cast<uint8_t>(c));
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
            window_.put(static_cast<uint8_t>(ppmdEscape_));
            break;
        }
    }
    return Step::More;
}

bool Decoder::readFilter(bool fromPpmd)
{
    bool ok = true;
    auto next = [&]() -> unsigned {
        ensureInput();
        if (!fromPpmd)
            return bits(8);
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
        if (!ok || overrun(kRangeSlack))
            return false;
    }
    if (!ok)
        return false;
    switch (filters_.addRecord(static_cast<uint8_t>(flags), body, window_.position(), kWindowSize)) {
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
    if (size && !out_->append(data, size)) {
        cancelled_ = true;
        return false;
    }
    return true;
}

bool Decoder::emitWindow(uint64_t from, uint64_t to)
{
    return window_.forEachRun(from, to, [this](const uint8_t* data, size_t n) { return emit(data, n); });
}

bool Decoder::serviceOutput()
{
    auto& pending = filters_.pending();
    const uint64_t pos = window_.position();
    for (;;) {
        if (pending.empty()) {
            if (!emitWindow(flushed_, pos))
                return false;
            flushed_ = pos;
            return true;
        }
        const PendingFilter f = pending.front();
        if (f.start < flushed_)
            return false;
        const uint64_t upTo = std::min(pos, f.start);
        if (!emitWindow(flushed_, upTo))
            return false;
        flushed_ = upTo;
        if (pos < f.start + f.length)
            return true;

        // The filter works on a copy in its own memory; the window keeps the
        // unfiltered bytes that later matches refer to. That memory is made
        // on the first filter and starts cleared: an RGB filter with a
        // distance of 3 takes the output byte about to be written as the
        // one above, which must not be whatever the heap held.
        if (!vm_) {
            vm_.reset(new (std::nothrow) uint8_t[kVmMemory + 4]());
            if (!vm_) {
                failure_ = DecodeStatus::NoMemory;
                return false;
            }
        }
        uint8_t* vm = vm_.get();
        window_.copyOut(f.start, f.length, vm);
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
