#pragma once
// The RAR 2.9 decoder (RAR 3.x and 4.x archives): LZ blocks with prefix-coded
// tables, PPMd blocks, and standard filters, over a 4 MiB window. One object
// decodes one stream: a single file, or the files of a solid archive in order.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "unrar/src/decode/rar29/BitInput.h"
#include "unrar/src/decode/rar29/Filters.h"
#include "unrar/src/decode/rar29/PpmdModel.h"
#include "unrar/src/decode/rar29/PrefixCode.h"

namespace unrar::rar29 {

enum class DecodeStatus {
    Ok,
    Corrupt,     // the data cannot be right (or ends too early)
    Unsupported, // a filter program that is not one of the standard ones
    NoMemory,    // the PPMd model's memory could not be had
    Cancelled,   // the output function asked to stop
};

// Receives decoded bytes in order; returns false to stop decoding.
using OutputFunction = std::function<bool(const uint8_t* data, size_t size)>;

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

    // Decodes one file. A file that continues the stream needs the previous
    // one to have decoded without error; after an error the stream is lost.
    DecodeStatus decodeFile(const FileRequest& request, PackedSource source, const OutputFunction& output);
    bool canContinue() const { return valid_; }

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
    bool copyMatch(uint32_t distance, uint32_t length);
    bool serviceOutput();
    bool emit(const uint8_t* data, size_t size);
    bool emitWindow(uint64_t from, uint64_t to);

    std::unique_ptr<uint8_t[]> window_;
    std::unique_ptr<uint8_t[]> vm_;
    uint64_t pos_ = 0;
    uint64_t flushed_ = 0;
    Mode mode_ = Mode::Lz;
    bool needHeader_ = true;
    bool tablesReady_ = false;
    bool valid_ = false;

    PrefixCode mainCode_, distCode_, lowCode_, lenCode_;
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
    BitInput* in_ = nullptr;
    const OutputFunction* output_ = nullptr;
    uint64_t fileStart_ = 0;
    uint64_t emitted_ = 0;
    uint64_t emitLimit_ = 0;
    bool cancelled_ = false;
};

} // namespace unrar::rar29
