#pragma once
// The RAR 5.0 decompressor: blocks with their own headers, four Huffman
// tables, LZ matches with four repeat distances, and the delta, x86 and
// ARM filters. Solid entries continue the window, tables and distance
// history of the entry before; filters never cross an entry.
#include <cstdint>
#include <deque>
#include <vector>

#include "unrar/src/decode/BitReader.h"
#include "unrar/src/decode/Huffman.h"
#include "unrar/src/decode/OutputPipeline.h"
#include "unrar/src/decode/PackedSource.h"
#include "unrar/src/decode/Window.h"

namespace unrar::decode {

struct Rar5Entry {
    uint64_t unpackedSize = 0;
    bool sizeKnown = true;
    uint64_t dictionarySize = 0;  // as declared, in bytes
    bool solid = false;           // continues the previous entry's state
    bool largeDictionary = false; // the application allowed one above kMaxDictionary
    size_t trailingPadding = 0;   // bytes that may follow the last block (encryption padding)
};

class Rar5Decoder {
public:
    // The largest dictionary accepted unasked (RAR 5.x writes at most
    // 1 GiB); anything above gives ERAR_LARGE_DICT unless the application
    // allowed it. The ring never grows past what the entry can fill, so a
    // large declared size alone costs nothing.
    static constexpr uint64_t kMaxDictionary = uint64_t(1) << 30;
    static constexpr size_t kMinWindow = size_t(64) << 10;

    // Decodes one entry from `in` into `out` (which the caller has begun).
    // Returns an ERAR_* code; after a failure the solid state is gone.
    int decode(const Rar5Entry& entry, PackedSource& in, OutputPipeline& out);
    // Forgets the solid state (an entry of the stream was skipped).
    void invalidate() { ready_ = false; }
    bool ready() const { return ready_; }

private:
    struct Filter {
        uint64_t start; // stream position
        uint32_t length;
        uint8_t type;
        uint8_t channels;
    };
    struct Tables {
        HuffmanTable main, dist, lowDist, len;
    };
    enum : int { kOk = 0 };

    int run(const Rar5Entry& entry, PackedSource& in, OutputPipeline& out);
    int prepareWindow(const Rar5Entry& entry);
    // Makes `n` packed bytes available at in_[inPos_]; false at the end of the data.
    bool fill(PackedSource& in, size_t n, int& error);
    int readBlockHeader(PackedSource& in, uint8_t& flags, size_t& size);
    int readTables(BitReader& br, uint64_t budget);
    int decodeBlock(BitReader& br, uint64_t budget, OutputPipeline& out);
    int readFilter(BitReader& br);
    int flush(OutputPipeline& out);
    int emit(const uint8_t* data, size_t n, OutputPipeline& out);
    void applyFilter(const Filter& f, uint8_t* data);

    Window window_;
    uint64_t declaredWindow_ = 0; // dictionary the stream declared (filter limits)
    Tables tables_;
    bool tablesValid_ = false;
    uint64_t rep_[4] = {};
    uint32_t lastLen_ = 0;
    bool ready_ = false; // the state after a complete entry, for a solid successor

    // Per entry.
    uint64_t entryStart_ = 0; // stream position of the entry's first byte
    uint64_t emitted_ = 0;    // stream position up to which output was handed on
    uint64_t limit_ = 0;      // entry end as a stream position (when the size is known)
    bool sizeKnown_ = true;
    uint64_t lastFilterEnd_ = 0;
    std::deque<Filter> filters_;
    std::vector<uint8_t> scratch_, filtered_;

    std::vector<uint8_t> in_;
    size_t inPos_ = 0, inEnd_ = 0;
    bool inEof_ = false;
};

} // namespace unrar::decode
