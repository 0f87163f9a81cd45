#pragma once
// A small greedy LZ encoder producing RAR 5.0 compressed data, for test
// fixtures and benchmarks: real matches (new distances, the four repeat
// distances, the repeat-last command), Huffman tables rebuilt per block or
// kept from the block before, and delta/E8/E8E9/ARM filters. Not tuned for
// ratio; it only has to make valid, realistic streams.
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
    void passOver(const std::string& data) { history_ += data; }

private:
    unsigned dictExponent_;
    size_t blockInput_;
    std::string history_; // everything the decoder's window has seen
    uint64_t rep_[4] = {};
    uint32_t lastLen_ = 0;
};

// The data as the decoder keeps it in its window before a filter restores
// it: what an encoder compresses in place of the original.
std::string applyForwardFilter(const std::string& data, const Rar5Filter& f);

} // namespace tavrel::test
