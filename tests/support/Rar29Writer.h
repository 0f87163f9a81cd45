#pragma once
// Writes RAR 2.9 packed streams for test fixtures: LZ blocks with fixed
// tables, literals, matches of every kind, filter records and end markers,
// and PPMd blocks from a literal text. Not a compressor: the test says which
// symbol goes where, so each fixture shows exactly the feature it is about.
#include "tests/support/BitWriter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavrel::test {

// The standard filter programs are recognised by length and CRC-32 alone;
// these make bytecode of the right length, checksum and CRC.
enum class Rar29Filter { E8, E8E9, Itanium, Delta, Rgb, Audio, Unknown };
std::string rar29FilterProgram(Rar29Filter filter);

class Rar29Writer {
public:
    // An LZ block header with new tables (or deltas against the last ones).
    Rar29Writer& lzBlock(bool keepOldTables = false);
    Rar29Writer& literal(const std::string& bytes);
    // Lengths 3..260 (with the bonus for long distances), distances 1..0x400000.
    // `repeatLow` sends the low-distance repeat code (the low 4 bits of this
    // and the next 15 long distances must then be equal).
    Rar29Writer& match(uint32_t length, uint32_t distance, bool repeatLow = false);
    Rar29Writer& shortMatch(uint32_t distance);                // length 2, distance 1..256
    Rar29Writer& repeatLast();                                 // the previous match again
    Rar29Writer& oldDistance(unsigned index, uint32_t length); // index 0..3, length 2..257

    struct FilterRecord {
        int program = -1;     // index of an existing program; -1 for a new one
        std::string bytecode; // for a new program
        uint32_t start = 0;   // bytes after the current position
        uint32_t length = 0;  // 0 = the program's remembered length
        std::vector<std::pair<unsigned, uint32_t>> registers;
    };
    Rar29Writer& filter(const FilterRecord& record);

    // Ends the LZ block inside the file: a block header (LZ or PPMd) follows.
    Rar29Writer& blockEnd();
    // End of the file's data; `nextHasHeader` says whether the next file of
    // a solid archive starts with a block header (RAR writes true).
    Rar29Writer& endOfFile(bool nextHasHeader = true);

    // A PPMd block: a new model (order, MiB) or the current one continued.
    // The block's text is coded as literals, with the escape byte doubled.
    struct PpmdBlock {
        bool newModel = true;
        unsigned order = 6;
        unsigned memoryMiB = 1;
        int escape = -1; // -1: keep the current escape byte
    };
    Rar29Writer& ppmdBlock(const PpmdBlock& block);
    Rar29Writer& ppmdText(const std::string& text);
    Rar29Writer& ppmdMatch(uint32_t length, uint32_t distance); // length 32..287
    Rar29Writer& ppmdFilter(const FilterRecord& record);
    // Ends the PPMd block: with another block header following, or the file.
    Rar29Writer& ppmdEnd(bool endOfFile);

    // The packed bytes so far, padded to a whole byte; the writer may go on
    // with the next file of a solid stream.
    std::string take();

    Rar29Writer();
    ~Rar29Writer();
    Rar29Writer(const Rar29Writer&) = delete;
    Rar29Writer& operator=(const Rar29Writer&) = delete;

private:
    struct Ppmd;
    void bits(uint32_t value, unsigned count) { out_.put(value, count); }
    // Zero bits up to the next byte boundary.
    void alignToByte();
    void symbol(unsigned table, unsigned sym);
    void distance(uint32_t distance, bool repeatLow);
    std::string recordBytes(const FilterRecord& record);
    void ppmdSymbol(unsigned sym);

    BitWriter out_;
    uint8_t oldLengths_[404] = {};
    unsigned lowRep_ = 0, lastLow_ = 0;
    size_t programs_ = 0;
    std::unique_ptr<Ppmd> ppmd_;
    int escape_ = 2;
};

} // namespace tavrel::test
