#pragma once
// A small greedy LZ encoder producing RAR 5.0 compressed data, for test
// fixtures and benchmarks: real matches (new distances, the four repeat
// distances, the repeat-last command), and delta/E8/E8E9/ARM filters. It
// writes blocks as RAR does: every block of an entry carries its tables,
// except the first block of a solid continuation, which keeps the tables
// of the entry before. Not tuned for ratio; it only has to make valid,
// realistic streams.
#include <cstdint>
#include <string>
#include <vector>

namespace tavrel::test {

struct Rar5Filter {
    enum Type : unsigned { Delta = 0, E8 = 1, E8E9 = 2, Arm = 3 };
    Type type = Delta;
    uint64_t start = 0;    // offset in the entry
    uint32_t length = 0;   // 4 .. 4 MiB
    unsigned channels = 1; // delta only, 1..32
};

class Rar5Encoder {
public:
    // Dictionary 128 KiB << exponent; distances stay below it.
    explicit Rar5Encoder(unsigned dictExponent = 0, size_t blockInput = 64 << 10);

    // Packs one entry. Called again, it continues the same stream (a solid
    // successor may refer to everything before it).
    std::string encode(const std::string& data, const std::vector<Rar5Filter>& filters = {});
    // Adds data that reached the decoder's window another way (an entry
    // packed by someone else in the same solid stream).
    void passOver(const std::string& data)
    {
        history_ += data;
        for (auto& t : tables_)
            t.clear(); // the decoder's tables are no longer ours
    }
    // Leaves the tables out of every other block inside an entry. RAR never
    // writes that (RARLAB's multi-threaded reader misreads it), but the
    // format allows it and a reader must accept it: for one reader test only.
    void omitTablesInMidEntry(bool on) { omitMidEntry_ = on; }

private:
    std::vector<uint8_t> tables_[4]; // code lengths in force after the last block written
    unsigned dictExponent_;
    size_t blockInput_;
    std::string history_; // everything the decoder's window has seen
    uint64_t rep_[4] = {};
    uint32_t lastLen_ = 0;
    bool omitMidEntry_ = false;
};

// The data as the decoder keeps it in its window before a filter restores
// it: what an encoder compresses in place of the original.
std::string applyForwardFilter(const std::string& data, const Rar5Filter& f);

} // namespace tavrel::test
