// The decoders' shared parts, below the C interface: bit order and the
// end of input, canonical codes (including refused and unassigned ones),
// ring copies across the wrap, and the output pipeline's order and checks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/Rar5Encoder.h"
#include "unrar/include/unrar_api.h"
#include "unrar/src/Crc32.h"
#include "unrar/src/decode/BitReader.h"
#include "unrar/src/decode/Huffman.h"
#include "unrar/src/decode/OutputPipeline.h"
#include "unrar/src/decode/Rar5Decoder.h"
#include "unrar/src/decode/Window.h"

using namespace unrar::decode;

TEST(DecodeBlocks, BitReaderReadsMsbFirstAndZeroPadsTheEnd)
{
    const uint8_t bytes[] = {0xA5, 0x3C, 0xFF};
    BitReader r(bytes, sizeof bytes);
    EXPECT_EQ(r.read(4), 0xAu);
    EXPECT_EQ(r.read(8), 0x53u);
    EXPECT_EQ(r.peek(16), 0xCFF0u); // past the end reads zeros
    EXPECT_FALSE(r.overrun());
    r.skip(12);
    EXPECT_EQ(r.position(), 24u);
    EXPECT_FALSE(r.overrun());
    EXPECT_EQ(r.read(32), 0u);
    EXPECT_TRUE(r.overrun());
}

TEST(DecodeBlocks, HuffmanDecodesCanonicalCodesShortAndLong)
{
    // Symbol lengths 1, 2, 3 and 12 twice (the long ones past the fast table), under-subscribed.
    std::vector<uint8_t> lengths = {1, 2, 3, 0, 12, 12};
    HuffmanTable t;
    ASSERT_TRUE(t.build(lengths.data(), lengths.size()));
    // Codes: 0 -> s0, 10 -> s1, 110 -> s2, 111000000000 -> s4, 111000000001 -> s5.
    // Stream: 0 10 110 111000000000 111000000001 then 1111... (unassigned)
    const uint8_t bits[] = {0x5B, 0x80, 0x38, 0x07, 0xFF, 0xFF};
    BitReader r(bits, sizeof bits);
    EXPECT_EQ(t.decode(r), 0);
    EXPECT_EQ(t.decode(r), 1);
    EXPECT_EQ(t.decode(r), 2);
    EXPECT_EQ(t.decode(r), 4);
    EXPECT_EQ(t.decode(r), 5);
    EXPECT_EQ(t.decode(r), HuffmanTable::kBadCode);
}

TEST(DecodeBlocks, HuffmanRefusesOverlongLengthsAndReadsNothingFromAnEmptyCode)
{
    const std::vector<uint8_t> overlong = {16, 1};
    HuffmanTable t;
    EXPECT_FALSE(t.build(overlong.data(), overlong.size()));
    const uint8_t zero[4] = {};
    BitReader r(zero, sizeof zero);
    EXPECT_EQ(t.decode(r), HuffmanTable::kBadCode);
    HuffmanTable empty;
    const uint8_t none[3] = {};
    ASSERT_TRUE(empty.build(none, 3));
    BitReader e(none, 3);
    EXPECT_EQ(empty.decode(e), HuffmanTable::kBadCode);
}

// Over-subscribed lengths are decoded as the genuine library decodes them:
// codes go out in (length, symbol) order while the code space lasts; the
// symbols past it are never read, and every read stays inside the table.
struct OverSubscribedCase {
    const char* label;
    std::vector<uint8_t> lengths;
    std::vector<uint8_t> bits;
    std::vector<int> symbols; // decoded in turn from `bits`
    size_t consumed;
};

class HuffmanOverSubscribed : public ::testing::TestWithParam<OverSubscribedCase> {};

TEST_P(HuffmanOverSubscribed, ReadsTheCodesThatFit)
{
    const OverSubscribedCase& c = GetParam();
    HuffmanTable t;
    ASSERT_TRUE(t.build(c.lengths.data(), c.lengths.size()));
    BitReader r(c.bits.data(), c.bits.size());
    for (int expected : c.symbols)
        EXPECT_EQ(t.decode(r), expected);
    EXPECT_EQ(r.position(), c.consumed);
}

std::vector<uint8_t> longCodesPastTheSpace()
{
    // 1, 2, 3, 4 bits leave room for 256 codes of 12 bits; 300 are given.
    std::vector<uint8_t> lengths = {1, 2, 3, 4};
    lengths.resize(304, 12);
    return lengths;
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, HuffmanOverSubscribed,
    ::testing::Values(
        // Twenty 1-bit lengths, as a damaged archive's first table has them: only 0 and 1 are read.
        OverSubscribedCase{"TwentyOneBitCodes", std::vector<uint8_t>(20, 1), {0x5F}, {0, 1, 0, 1, 1, 1, 1, 1}, 8},
        OverSubscribedCase{"FiveTwoBitCodes", {2, 2, 2, 2, 2}, {0x1B}, {0, 1, 2, 3}, 8},
        // Past the fast table: the last 12-bit code that fits is symbol 259.
        OverSubscribedCase{"LongCodes", longCodesPastTheSpace(), {0x7F, 0xFF, 0x80, 0x00}, {0, 259, 4}, 1 + 12 + 12}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(DecodeBlocks, WindowCopiesOverlappingAndAcrossTheWrap)
{
    Window w;
    ASSERT_TRUE(w.allocate(16));
    std::string expect;
    for (char c : std::string("abc")) {
        w.put(static_cast<uint8_t>(c));
        expect += c;
    }
    w.copyMatch(3, 10); // overlapping pattern repeat
    for (int i = 0; i < 10; ++i)
        expect += expect[expect.size() - 3];
    w.copyMatch(9, 9); // source and destination wrap around the end
    for (int i = 0; i < 9; ++i)
        expect += expect[expect.size() - 9];
    ASSERT_EQ(w.position(), expect.size());
    std::string got(12, '\0');
    w.copyOut(w.position() - 12, 12, reinterpret_cast<uint8_t*>(got.data()));
    EXPECT_EQ(got, expect.substr(expect.size() - 12));
    ASSERT_TRUE(w.grow(64));
    got.resize(16);
    w.copyOut(w.position() - 16, 16, reinterpret_cast<uint8_t*>(got.data()));
    EXPECT_EQ(got, expect.substr(expect.size() - 16));
}

TEST(DecodeBlocks, PipelineDeliversInOrderWithChecksumsAndStopsOnCancel)
{
    OutputPipeline p(4096, 3);
    std::string data(100000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 + i / 300);
    std::string written;
    size_t notified = 0;
    p.begin(
        [&](const uint8_t*, size_t n) {
            notified += n;
            return true;
        },
        [&](const uint8_t* d, size_t n) {
            written.append(reinterpret_cast<const char*>(d), n);
            return 0;
        },
        true);
    for (size_t off = 0; off < data.size(); off += 777)
        ASSERT_TRUE(
            p.append(reinterpret_cast<const uint8_t*>(data.data()) + off, std::min<size_t>(777, data.size() - off)));
    EXPECT_EQ(p.finish(), 0);
    EXPECT_EQ(written, data);
    EXPECT_EQ(notified, data.size());
    EXPECT_EQ(p.total(), data.size());
    EXPECT_EQ(p.crc32(), unrar::crc32Update(0, data.data(), data.size()));

    // A second entry on the same pipeline: the application cancels.
    p.begin([](const uint8_t*, size_t) { return false; }, nullptr, false);
    EXPECT_FALSE(p.append(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
    EXPECT_EQ(p.finish(), ERAR_UNKNOWN);
    // And a write failure.
    p.begin(
        nullptr, [](const uint8_t*, size_t) { return int(ERAR_EWRITE); }, false);
    p.append(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    EXPECT_EQ(p.finish(), ERAR_EWRITE);
}

// Packed streams the fuzzer found troublesome, fed straight to the RAR 5.0
// decoder (as the fuzz target does: a 128 KiB << n dictionary and the
// unpacked size from the first bytes). Each must fail cleanly.
TEST(DecodeBlocks, Rar5DecoderRefusesFuzzFindings)
{
    const std::vector<std::vector<uint8_t>> findings = {
        // An empty input buffer was compacted with memmove from a null pointer.
        {0x07, 0x00, 0x10, 0x00, 0x41, 0x0D, 0x16, 0x70, 0x00, 0x20, 0x02, 0x00, 0x6A, 0x5F, 0xC7,
         0xF7, 0xB9, 0xE0, 0xC5, 0xEA, 0x7F, 0x30, 0xEB, 0xC3, 0xBF, 0x8F, 0xE5, 0xFE, 0x00},
    };
    for (const auto& f : findings) {
        Rar5Decoder decoder;
        Rar5Entry entry;
        entry.dictionarySize = uint64_t(128 << 10) << (f[0] & 3);
        entry.unpackedSize = f[1] | f[2] << 8 | f[3] << 16;
        MemorySource in(f.data() + 4, f.size() - 4);
        OutputPipeline out(1 << 16, 2);
        out.begin(nullptr, nullptr, false);
        EXPECT_EQ(decoder.decode(entry, in, out), ERAR_BAD_DATA);
        out.abandon();
    }
}

// An entry whose unpacked size is flagged unknown decodes until the last
// block; data beyond what a known size allows fails.
TEST(DecodeBlocks, Rar5DecoderHonoursTheLastBlockWhenTheSizeIsUnknown)
{
    std::string data;
    for (int i = 0; data.size() < 300000; ++i)
        data += "record " + std::to_string(i % 977) + ";";
    const std::string packed =
        tavrel::test::Rar5Encoder().encode(data, {{tavrel::test::Rar5Filter::Delta, 5, 4000, 2}});
    for (const auto& [known, size, code] :
         {std::tuple{false, uint64_t(0), int(ERAR_SUCCESS)}, std::tuple{true, uint64_t(data.size()), int(ERAR_SUCCESS)},
          std::tuple{true, uint64_t(data.size() - 1), int(ERAR_BAD_DATA)}}) {
        Rar5Decoder decoder;
        Rar5Entry entry;
        entry.dictionarySize = 128 << 10;
        entry.sizeKnown = known;
        entry.unpackedSize = size;
        MemorySource in(packed.data(), packed.size());
        OutputPipeline out(1 << 16, 3);
        std::string got;
        out.begin(
            nullptr,
            [&got](const uint8_t* d, size_t n) {
                got.append(reinterpret_cast<const char*>(d), n);
                return 0;
            },
            false);
        const int r = decoder.decode(entry, in, out);
        EXPECT_EQ(r, code);
        if (r == ERAR_SUCCESS) {
            EXPECT_EQ(out.finish(), 0);
            EXPECT_TRUE(got == data);
        } else {
            out.abandon();
        }
    }
}
