#pragma once
// Filters of RAR 2.9 data: the records that announce them, the programs they
// name (recognised as one of the standard transforms, never executed), and
// the transforms themselves, applied to a block of output in a working memory
// the size of the original virtual machine's.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace unrar::rar29 {

enum class FilterType : uint8_t { E8, E8E9, Itanium, Delta, Rgb, Audio };

// Size of the machine's memory; a block is copied to its start.
constexpr uint32_t kVmMemory = 0x40000;
// Largest filtered block: the machine's work area.
constexpr uint32_t kMaxFilterBlock = 0x3C000;

struct PendingFilter {
    FilterType type;
    uint64_t start = 0; // stream position of the block
    uint32_t length = 0;
    uint32_t channels = 0;  // R0: channels, or the RGB line width
    uint32_t rgbOffset = 0; // R1: the RGB position of red
};

enum class FilterStatus { Ok, Corrupt, Unsupported };

class FilterSet {
public:
    // Forgets programs and pending filters: the start of a stream.
    void reset();
    // Pending filters belong to one file; programs live on through a solid stream.
    void dropPending() { pending_.clear(); }

    // One record: `flags` is its first byte, `body` the rest. `pos` is the
    // stream position at which it was read.
    FilterStatus addRecord(uint8_t flags, const std::vector<uint8_t>& body, uint64_t pos, uint64_t windowSize);

    std::deque<PendingFilter>& pending() { return pending_; }

private:
    struct Program {
        FilterType type;
        uint32_t lastLength = 0;
        uint32_t usage = 0;
    };
    std::vector<Program> programs_;
    std::deque<PendingFilter> pending_;
    size_t lastIndex_ = 0;
};

// Applies `f` to the block at vm[0, f.length); vm holds kVmMemory + 4 bytes.
// On success `outStart` is where the result lies (its length is f.length).
// False when the filter's parameters do not fit the block.
bool runFilter(const PendingFilter& f, uint8_t* vm, uint32_t fileOffset, uint32_t& outStart);

} // namespace unrar::rar29
