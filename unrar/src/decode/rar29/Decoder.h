#pragma once
// The RAR 2.9 decoder (RAR 3.x and 4.x archives): LZ blocks with Huffman
// tables, PPMd blocks, and standard filters, over a 4 MiB window. One object
// decodes one stream: a single file, or the files of a solid archive in order.
// It is built from the RAR 5.0 decoder's parts (bit reader, Huffman tables,
// window) and hands its output to the same pipeline.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "unrar/src/decode/BitReader.h"
#include "unrar/src/decode/Huffman.h"
#include "unrar/src/decode/OutputPipeline.h"
#include "unrar/src/decode/PackedSource.h"
#include "unrar/src/decode/Window.h"
#include "unrar/src/decode/rar29/Filters.h"
#include "unrar/src/decode/rar29/PpmdModel.h"

namespace unrar::rar29 {

enum class DecodeStatus {
    Ok,
    Corrupt,     // the data cannot be right (or ends too early)
    Unsupported, // a filter program that is not one of the standard ones
    NoMemory,    // the PPMd model's memory could not be had
    Cancelled,   // the output pipeline stopped (cancel or write error; it knows which)
};

struct FileRequest {
    bool continues = false;      // the file continues the stream of the previous one (solid)
    bool untilEndMarker = false; // decode to the file's end marker even past its size (solid archives)
    bool sizeKnown = true;
    uint64_t size = 0;
};

class Decoder {
public:
    static constexpr uint32_t kWindowSize = 4u << 20;

    Decoder();
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Decodes one file from `source` into `out` (which the caller has
    // begun). A file that continues the stream needs the previous one to
    // have decoded without error; after an error the stream is lost.
    DecodeStatus decodeFile(const FileRequest& request, decode::PackedSource& source, decode::OutputPipeline& out);
    bool canContinue() const { return valid_; }
    // A file of the stream could not be decoded (it could not be decrypted).
    void invalidate() { valid_ = false; }

private:
    enum class Mode { Lz, Ppmd };
    enum class Step { More, EndOfFile, Fail };

    void resetStream();
    DecodeStatus run(const FileRequest& request);
    bool readBlockHeader();
    bool readTables();
    Step decodeLz(uint64_t limit);
    Step decodePpmd(uint64_t limit);
    bool readFilter(bool fromPpmd);
    bool copyMatch(uint32_t distance, uint32_t length); // checked against the stream's start
    // A new distance goes in front of the last four; the oldest drops out.
    void pushDistance(uint32_t distance)
    {
        oldDist_[3] = oldDist_[2];
        oldDist_[2] = oldDist_[1];
        oldDist_[1] = oldDist_[0];
        oldDist_[0] = distance;
    }
    bool serviceOutput();
    bool emit(const uint8_t* data, size_t size);
    bool emitWindow(uint64_t from, uint64_t to);

    // Packed input: a buffer refilled from the source whenever fewer than
    // kLookahead bytes are left ahead of the reader, so that no symbol,
    // table entry or PPMd step can run past bytes still to come.
    void startInput(decode::PackedSource& source);
    void ensureInput()
    {
        if (bits_.position() >= refillAt_)
            refillInput();
    }
    void refillInput();
    // Bits really consumed past the end of the data (`slackBytes` whole
    // bytes allowed: the range decoder's look-ahead).
    bool overrun(unsigned slackBytes = 0) const
    {
        return inEnd_ && bits_.position() > (uint64_t(inSize_) + slackBytes) * 8;
    }
    // read() for counts that may be 0.
    uint32_t bits(unsigned n) { return n ? bits_.read(n) : 0; }

    decode::Window window_;
    std::unique_ptr<uint8_t[]> vm_;
    uint64_t flushed_ = 0;
    Mode mode_ = Mode::Lz;
    bool needHeader_ = true;
    bool tablesReady_ = false;
    bool valid_ = false;

    decode::HuffmanTable mainCode_, distCode_, lowCode_, lenCode_;
    std::array<uint8_t, 404> oldLengths_{};
    std::array<uint32_t, 4> oldDist_{};
    uint32_t lastDist_ = 0, lastLen_ = 0;
    unsigned lowRep_ = 0, lastLow_ = 0;

    PpmdModel ppmd_;
    RangeDecoder rc_;
    int ppmdEscape_ = 2;

    FilterSet filters_;
    DecodeStatus failure_ = DecodeStatus::Corrupt;

    // Per file.
    decode::PackedSource* source_ = nullptr;
    std::unique_ptr<uint8_t[]> input_;
    size_t inSize_ = 0;     // bytes valid in input_
    bool inEnd_ = false;    // the source has no more
    bool inFailed_ = false; // the source could not be read
    uint64_t refillAt_ = 0; // bit position that calls for a refill
    decode::BitReader bits_;
    decode::OutputPipeline* out_ = nullptr;
    uint64_t fileStart_ = 0;
    uint64_t emitted_ = 0;
    uint64_t emitLimit_ = 0;
    bool cancelled_ = false;
};

} // namespace unrar::rar29
