// RAR 2.9 data written by the fixture writer: what the real samples do not
// show (solid streams, split entries, every kind of match, PPMd blocks with
// filters, the Itanium filter, chained filters, damage) decoded through the
// C interface.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "tests/support/Rar29FilterEncode.h"
#include "tests/support/Rar29Writer.h"
#include "tests/support/RarWriter.h"
#include "tests/unrar/UnrarHarness.h"

using namespace unrar_test;
using tavrel::test::audioFilterEncode;
using tavrel::test::Rar29Filter;
using tavrel::test::rar29FilterProgram;
using tavrel::test::Rar29Writer;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;
using tavrel::test::rgbFilterEncode;

namespace {

// The writer and, beside it, the bytes the stream must decode to (before
// filters), with the distance history the format keeps.
struct Stream {
    Rar29Writer w;
    std::string all; // the whole stream so far (solid files included)
    size_t fileStart = 0;
    uint32_t dist[4] = {};
    uint32_t lastDist = 0, lastLen = 0;

    Stream& lit(const std::string& s)
    {
        w.literal(s);
        all += s;
        return *this;
    }
    Stream& copy(uint32_t len, uint32_t d)
    {
        for (uint32_t i = 0; i < len; ++i)
            all.push_back(all[all.size() - d]);
        return *this;
    }
    void pushDist(uint32_t d)
    {
        for (int i = 3; i > 0; --i)
            dist[i] = dist[i - 1];
        dist[0] = d;
    }
    Stream& match(uint32_t len, uint32_t d, bool repeatLow = false)
    {
        w.match(len, d, repeatLow);
        pushDist(d);
        lastDist = d;
        lastLen = len;
        return copy(len, d);
    }
    Stream& shortMatch(uint32_t d)
    {
        w.shortMatch(d);
        pushDist(d);
        lastDist = d;
        lastLen = 2;
        return copy(2, d);
    }
    Stream& old(unsigned k, uint32_t len)
    {
        w.oldDistance(k, len);
        const uint32_t d = dist[k];
        for (unsigned i = k; i > 0; --i)
            dist[i] = dist[i - 1];
        dist[0] = d;
        lastDist = d;
        lastLen = len;
        return copy(len, d);
    }
    Stream& repeat()
    {
        w.repeatLast();
        return copy(lastLen, lastDist);
    }
    Stream& ppmd(const std::string& s)
    {
        w.ppmdText(s);
        all += s;
        return *this;
    }
    Stream& ppmdMatch(uint32_t len, uint32_t d)
    {
        w.ppmdMatch(len, d);
        return copy(len, d);
    }
    // The packed data and decoded bytes of the file written since the last call.
    std::pair<std::string, std::string> file()
    {
        std::pair<std::string, std::string> r{w.take(), all.substr(fileStart)};
        fileStart = all.size();
        return r;
    }
};

std::string text(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>("abcdefghij klmnop\n"[(x >> 16) % 18]);
    }
    return s;
}

struct Packed {
    std::string packed, expected;
};

// Extracts the single entry of a one-file archive and checks its bytes; testing must agree.
void expectDecodes(const Packed& p)
{
    TempDir dir;
    fs::path arc = RarWriter(RarFormat::Rar4).packedRar4("f.bin", p.packed, p.expected).write(dir.path(), "a").front();
    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    auto walk = s.walk(RAR_TEST);
    ASSERT_EQ(walk.processCodes, std::vector<int>{0});
    Session x;
    ASSERT_TRUE(x.openArchive(arc, RAR_OM_EXTRACT));
    walk = x.walk(RAR_EXTRACT, dir / "out");
    ASSERT_EQ(walk.processCodes, std::vector<int>{0});
    EXPECT_EQ(readFile(dir / "out/f.bin"), p.expected);
}

struct LzCase {
    const char* name;
    std::function<Packed()> make;
};

class Rar29Lz : public ::testing::TestWithParam<LzCase> {};

TEST_P(Rar29Lz, DecodesToTheScriptedBytes) { expectDecodes(GetParam().make()); }

Packed finish(Stream& s)
{
    auto [p, e] = s.file();
    return Packed{p, e};
}

// The bytes a DELTA filter makes of its input, written from the format's description.
std::string deltaDecode(const std::string& in, unsigned channels)
{
    std::string out(in.size(), '\0');
    size_t src = 0;
    for (unsigned c = 0; c < channels; ++c) {
        uint8_t prev = 0;
        for (size_t i = c; i < in.size(); i += channels)
            out[i] = static_cast<char>(prev = static_cast<uint8_t>(prev - in[src++]));
    }
    return out;
}

const std::string kPrefix16 = "0123456789abcdef";
// x86 calls at file offset 16: a near target, a negative one, and a jump.
const std::string kCalls = std::string("\xE8\x10\x00\x00\x00\xE8\xF0\xFF\xFF\xFF\xE9\x10\x00\x00\x00z", 16);
const std::string kCallsE8 = std::string("\xE8\xFF\xFF\xFF\xFF\xE8\xF0\xFF\xFF\x00\xE9\x10\x00\x00\x00z", 16);
const std::string kCallsE8E9 = std::string("\xE8\xFF\xFF\xFF\xFF\xE8\xF0\xFF\xFF\x00\xE9\xF5\xFF\xFF\xFFz", 16);

Rar29Writer::FilterRecord newFilter(Rar29Filter f, uint32_t start, uint32_t length,
                                    std::vector<std::pair<unsigned, uint32_t>> registers = {})
{
    Rar29Writer::FilterRecord r;
    r.bytecode = rar29FilterProgram(f);
    r.start = start;
    r.length = length;
    r.registers = std::move(registers);
    return r;
}

Packed x86Case(Rar29Filter f)
{
    Stream s;
    s.w.lzBlock();
    s.lit(kPrefix16);
    s.w.filter(newFilter(f, 0, 16));
    s.lit(kCalls);
    s.w.endOfFile();
    auto [p, e] = s.file();
    return Packed{p, kPrefix16 + (f == Rar29Filter::E8 ? kCallsE8 : kCallsE8E9)};
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Rar29Lz,
    ::testing::Values(LzCase{"EveryMatchKind",
                             [] {
                                 Stream s;
                                 s.w.lzBlock();
                                 s.lit(text(300, 1)).match(3, 1).match(10, 7).shortMatch(1).shortMatch(200).repeat();
                                 s.match(258, 290).old(2, 2).old(3, 40).old(0, 257).repeat().lit("tail");
                                 s.w.endOfFile();
                                 return finish(s);
                             }},
                      LzCase{"LongDistancesAndLengthBonus",
                             [] {
                                 Stream s;
                                 s.w.lzBlock();
                                 s.lit(text(5000, 2));
                                 while (s.all.size() < 0x48000)
                                     s.match(258, 4999);
                                 s.match(259, 0x2000)
                                     .match(5, 0x3FFFF)
                                     .match(260, 0x40000)
                                     .match(6, 0x40000)
                                     .match(200, 0x41234)
                                     .lit("x");
                                 s.w.endOfFile();
                                 return finish(s);
                             }},
                      LzCase{"LowDistanceRepeatEndsAtNewTables",
                             [] {
                                 Stream s;
                                 s.w.lzBlock();
                                 s.lit(text(3000, 3));
                                 // Low bits 4 sent, then the repeat code: 15 more distances may reuse them silently.
                                 s.match(4, 261).match(5, 277, true).match(6, 293);
                                 s.w.blockEnd();
                                 s.w.lzBlock(true);
                                 // New tables end the repeat: these low bits are sent again.
                                 s.match(7, 314).match(8, 330).lit("end");
                                 s.w.endOfFile();
                                 return finish(s);
                             }},
                      LzCase{"TablesKeptAndRenewedInOneFile",
                             [] {
                                 Stream s;
                                 s.w.lzBlock();
                                 s.lit(text(400, 4)).match(50, 100);
                                 s.w.blockEnd();
                                 s.w.lzBlock(true);
                                 s.lit(text(100, 5)).match(20, 333);
                                 s.w.blockEnd();
                                 s.w.lzBlock(false);
                                 s.lit("abc").old(1, 5).repeat();
                                 s.w.endOfFile();
                                 return finish(s);
                             }},
                      LzCase{"PpmdTextWithEscapeBytes",
                             [] {
                                 Stream s;
                                 s.w.ppmdBlock({true, 6, 1, -1});
                                 s.ppmd(text(20000, 6) + "\x02\x02 escape \x02" + text(100, 7));
                                 s.w.ppmdEnd(true);
                                 return finish(s);
                             }},
                      LzCase{"PpmdModelRestartsWhenMemoryRunsOut",
                             [] {
                                 Stream s;
                                 s.w.ppmdBlock({true, 64, 1, 9});
                                 std::string noisy(300000, '\0');
                                 uint32_t x = 7;
                                 for (char& c : noisy)
                                     c = static_cast<char>((x = x * 1664525u + 1013904223u) >> 24);
                                 s.ppmd(noisy);
                                 s.w.ppmdEnd(true);
                                 return finish(s);
                             }},
                      LzCase{"PpmdAndLzBlocksAlternate",
                             [] {
                                 Stream s;
                                 s.w.ppmdBlock({true, 8, 2, -1});
                                 s.ppmd(text(5000, 8)).ppmdMatch(40, 100).ppmdMatch(287, 4000);
                                 s.w.ppmdEnd(false);
                                 s.w.lzBlock();
                                 s.lit("lz between").match(30, 2000);
                                 s.w.blockEnd();
                                 // The model goes on where it stopped, with a new escape byte.
                                 s.w.ppmdBlock({false, 0, 0, 7});
                                 s.ppmd(text(3000, 9) + "\x07 seven");
                                 s.w.ppmdEnd(false);
                                 s.w.lzBlock(true);
                                 s.lit("last").old(0, 12);
                                 s.w.endOfFile();
                                 return finish(s);
                             }},
                      LzCase{"E8Filter", [] { return x86Case(Rar29Filter::E8); }},
                      LzCase{"E8E9Filter", [] { return x86Case(Rar29Filter::E8E9); }},
                      LzCase{"FilterInsidePpmdBlock",
                             [] {
                                 Stream s;
                                 s.w.ppmdBlock({true, 4, 1, -1});
                                 s.ppmd(kPrefix16);
                                 s.w.ppmdFilter(newFilter(Rar29Filter::E8E9, 0, 16));
                                 s.ppmd(kCalls + "after");
                                 s.w.ppmdEnd(true);
                                 auto [p, e] = s.file();
                                 return Packed{p, kPrefix16 + kCallsE8E9 + "after"};
                             }},
                      LzCase{"ItaniumFilter",
                             [] {
                                 // Two bundles at file offset 32 (bundle numbers 2 and 3): template 0x10
                                 // patches slot 2, template 0x16 slot 0; opcode 5 marks the branches.
                                 std::string block(48, '\0'), want;
                                 block[0] = 0x10;
                                 block[12] = 0x50, block[13] = 0x34, block[14] = 0x12,
                                 block[15] = 0x50; // target 0x12345
                                 block[16] = 0x16;
                                 block[18] = 0x78, block[19] = static_cast<char>(0xF3), block[20] = 0x2A,
                                 block[21] = 0x14; // 0xABCDE
                                 want = block;
                                 want[12] = 0x30; // 0x12345 - 2
                                 want[18] = 0x6C; // 0xABCDE - 3
                                 const std::string prefix(32, 'p');
                                 Stream s;
                                 s.w.lzBlock();
                                 s.lit(prefix);
                                 s.w.filter(newFilter(Rar29Filter::Itanium, 0, 48));
                                 s.lit(block).lit("q");
                                 s.w.endOfFile();
                                 auto [p, e] = s.file();
                                 return Packed{p, prefix + want + "q"};
                             }},
                      LzCase{"ChainedFiltersOnOneBlock",
                             [] {
                                 const std::string block = text(60, 10);
                                 Stream s;
                                 s.w.lzBlock();
                                 s.lit("head");
                                 s.w.filter(newFilter(Rar29Filter::Delta, 0, 60, {{0, 3}}));
                                 Rar29Writer::FilterRecord again;
                                 again.program = 0;
                                 again.start = 0;
                                 again.length = 60;
                                 again.registers = {{0, 1}};
                                 s.w.filter(again);
                                 s.lit(block).lit("tail");
                                 s.w.endOfFile();
                                 auto [p, e] = s.file();
                                 return Packed{p, "head" + deltaDecode(deltaDecode(block, 3), 1) + "tail"};
                             }},
                      LzCase{"DeltaFilterWithRememberedLength",
                             [] {
                                 const std::string a = text(40, 11), b = text(40, 12);
                                 Stream s;
                                 s.w.lzBlock();
                                 s.w.filter(newFilter(Rar29Filter::Delta, 0, 40, {{0, 4}}));
                                 s.lit(a);
                                 Rar29Writer::FilterRecord again;
                                 again.program = 0;
                                 again.start = 10;
                                 again.registers = {{0, 2}};
                                 s.w.filter(again);
                                 s.lit(text(10, 13)).lit(b);
                                 s.w.endOfFile();
                                 auto [p, e] = s.file();
                                 return Packed{p, deltaDecode(a, 4) + text(10, 13) + deltaDecode(b, 2)};
                             }}),
    [](const auto& info) { return std::string(info.param.name); });

// The RGB and audio filters: bytes encoded by the forward transforms of
// tests/support, packed as literals under a filter record, must decode back
// to the original (and match its CRC) for every shape of block.
struct MediaCase {
    const char* name;
    Rar29Filter filter;
    uint32_t size;
    uint32_t r0;   // RGB: bytes per line + 3; audio: channels
    uint32_t r1;   // RGB: position of the first red byte
    size_t prefix; // bytes before the block
    int noise = 0; // random bytes instead of a picture or a tone: 1 loud, 2 a quiet third first
};

// A picture (gradients with some grain, so that every predictor is chosen)
// or interleaved 16-bit tones; or plain noise.
std::string mediaBytes(const MediaCase& c)
{
    std::string s(c.size, '\0');
    uint32_t x = c.size * 2654435761u + c.r0;
    for (uint32_t i = 0; i < c.size; ++i) {
        x = x * 1103515245u + 12345u;
        const int grain = static_cast<int>((x >> 16) % 9) - 4;
        int v;
        if (c.noise) {
            v = static_cast<int>(x >> 16);
        } else if (c.filter == Rar29Filter::Rgb) {
            const uint32_t line = c.r0 - 3, row = i / line, column = i % line;
            v = static_cast<int>(column * 5 + row * 3 + (column % 3) * 60) + grain;
        } else {
            const uint32_t channel = i % c.r0, frame = i / c.r0, sample = frame / 2;
            const int tone = static_cast<int>(9000 * std::sin(0.03 * sample * (channel + 1))) + grain * 40;
            v = frame % 2 == 0 ? tone & 0xFF : (tone >> 8) & 0xFF;
        }
        s[i] = static_cast<char>(v);
    }
    return s;
}

class Rar29MediaFilters : public ::testing::TestWithParam<MediaCase> {};

TEST_P(Rar29MediaFilters, GiveBackTheOriginalBytes)
{
    const MediaCase& c = GetParam();
    const std::string original = mediaBytes(c);
    const bool rgb = c.filter == Rar29Filter::Rgb;
    const std::string encoded = rgb ? rgbFilterEncode(original, c.r0, c.r1) : audioFilterEncode(original, c.r0);
    ASSERT_EQ(encoded.size(), original.size());
    const std::string prefix = text(c.prefix, 50);
    Stream s;
    s.w.lzBlock();
    s.lit(prefix);
    std::vector<std::pair<unsigned, uint32_t>> registers{{0, c.r0}};
    if (rgb)
        registers.push_back({1, c.r1});
    s.w.filter(newFilter(c.filter, 0, c.size, registers));
    s.lit(encoded).lit("end");
    s.w.endOfFile();
    expectDecodes(Packed{s.file().first, prefix + original + "end"});
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, Rar29MediaFilters,
    ::testing::Values(MediaCase{"RgbOnePixelWide", Rar29Filter::Rgb, 30, 6, 0, 0},
                      MediaCase{"RgbOddSizeGreenFirst", Rar29Filter::Rgb, 5 * 3 * 7 + 2, 18, 1, 0},
                      MediaCase{"RgbBlueFirst", Rar29Filter::Rgb, 17 * 3 * 40, 54, 2, 5},
                      MediaCase{"RgbOneLineAndABit", Rar29Filter::Rgb, 13, 12, 0, 0},
                      MediaCase{"RgbNoise", Rar29Filter::Rgb, 30001, 30, 0, 0, true},
                      MediaCase{"RgbLargestBlockAfterData", Rar29Filter::Rgb, 0x1E000, 640 * 3 + 3, 0, 1000},
                      MediaCase{"AudioOneByte", Rar29Filter::Audio, 1, 1, 0, 0},
                      MediaCase{"AudioTwoAdaptations", Rar29Filter::Audio, 33, 1, 0, 0},
                      MediaCase{"AudioStereoOddSize", Rar29Filter::Audio, 1001, 2, 0, 3},
                      MediaCase{"AudioFourChannels", Rar29Filter::Audio, 40000, 4, 0, 0},
                      // Noise drives the weights: these two take each of them to both bounds.
                      MediaCase{"AudioNoise40000", Rar29Filter::Audio, 40000, 1, 0, 0, true},
                      MediaCase{"AudioNoise46000", Rar29Filter::Audio, 46000, 1, 0, 0, true},
                      MediaCase{"AudioSevenChannelsLargestBlock", Rar29Filter::Audio, 0x1E000, 7, 0, 777}),
    [](const auto& info) { return std::string(info.param.name); });

// A solid stream: tables, distances, the window, the PPMd model and filter
// programs carry over from file to file; a stored file sits outside it.
struct SolidArchive {
    std::vector<std::string> names;
    std::vector<std::string> contents;
    fs::path path;
};

SolidArchive makeSolid(const fs::path& folder)
{
    SolidArchive a;
    Stream s;
    RarWriter w(RarFormat::Rar4);
    // `filtered` rewrites the decoded bytes as the file's filters do.
    auto add = [&](const std::string& name, std::function<std::string(const std::string&)> filtered = {}) {
        auto [packed, decoded] = s.file();
        if (filtered)
            decoded = filtered(decoded);
        w.packedRar4(name, packed, decoded);
        a.names.push_back(name);
        a.contents.push_back(decoded);
    };
    s.w.lzBlock();
    s.lit(text(2000, 20)).match(100, 1500);
    s.w.filter(newFilter(Rar29Filter::Delta, 0, 20, {{0, 2}}));
    s.lit(text(20, 21));
    s.w.endOfFile(false); // the next file goes on with these tables
    add("one.txt", [](const std::string& d) { return d.substr(0, 2100) + deltaDecode(text(20, 21), 2); });

    s.lit("second file ").match(258, 1900); // reaches into the first file
    Rar29Writer::FilterRecord again;        // the program of the first file, by number
    again.program = 0;
    again.start = 0;
    again.length = 10;
    again.registers = {{0, 1}};
    s.w.filter(again);
    s.lit("0123456789");
    s.w.endOfFile(true);
    add("two.txt", [](const std::string& d) { return d.substr(0, 270) + deltaDecode("0123456789", 1); });

    w.file("stored.txt", "not in the stream");
    a.names.push_back("stored.txt");
    a.contents.push_back("not in the stream");

    s.w.ppmdBlock({true, 8, 1, -1});
    s.ppmd(text(3000, 22));
    s.w.ppmdEnd(true);
    add("three.txt");

    s.w.ppmdBlock({false, 0, 0, -1}); // the model of the file before, a fresh range decoder
    s.ppmd(text(500, 23)).ppmdMatch(40, 3000);
    s.w.ppmdEnd(true);
    add("four.txt");

    s.w.lzBlock(true);
    s.lit("five").old(0, 10); // the last LZ distance, from the second file
    s.w.endOfFile(true);
    add("five.txt");

    a.path = w.solid().write(folder, "solid").front();
    return a;
}

TEST(Rar29Solid, EveryFileTestsAndExtracts)
{
    TempDir dir;
    SolidArchive a = makeSolid(dir.path());
    for (int op : {RAR_TEST, RAR_EXTRACT}) {
        Session s;
        ASSERT_TRUE(s.openArchive(a.path, RAR_OM_EXTRACT));
        auto walk = s.walk(op, dir / "out");
        EXPECT_EQ(names(walk), a.names);
        EXPECT_EQ(walk.processCodes, std::vector<int>(a.names.size(), 0));
        EXPECT_EQ(s.open.Flags & ROADF_SOLID, unsigned(ROADF_SOLID));
    }
    for (size_t i = 0; i < a.names.size(); ++i)
        EXPECT_EQ(readFile(dir / "out" / a.names[i]), a.contents[i]) << a.names[i];
}

TEST(Rar29Solid, FilesPassedOverAreStillDecoded)
{
    TempDir dir;
    SolidArchive a = makeSolid(dir.path());
    writeFile(dir / "plain", "a file, not a folder");
    // Each way of passing over a file: no call at all, RAR_SKIP, and a failed extraction.
    for (int how : {0, 1, 2}) {
        Session s;
        ASSERT_TRUE(s.openArchive(a.path, RAR_OM_EXTRACT));
        Header h;
        for (size_t i = 0; i < a.names.size(); ++i) {
            ASSERT_EQ(s.readHeader(h), 0);
            if (i == 1 || i == 3 || i == 4) {
                const fs::path out = dir / ("out" + std::to_string(how)) / a.names[i];
                ASSERT_EQ(s.process(RAR_EXTRACT, {}, out), 0) << a.names[i];
                EXPECT_EQ(readFile(out), a.contents[i]) << a.names[i];
            } else if (how == 1) {
                ASSERT_EQ(s.process(RAR_SKIP), 0);
            } else if (how == 2) {
                // The target's folder is a file: the extraction fails before any decoding.
                EXPECT_NE(s.process(RAR_EXTRACT, {}, dir / "plain/x"), 0);
            }
        }
    }
}

TEST(Rar29Entries, SplitAcrossVolumesDecodes)
{
    TempDir dir;
    Stream s;
    s.w.lzBlock();
    s.lit(text(30000, 30)).match(259, 29000).match(200, 100);
    s.w.blockEnd();
    s.w.ppmdBlock({true, 6, 1, -1});
    s.ppmd(text(20000, 31));
    s.w.ppmdEnd(true);
    auto [packed, decoded] = s.file();
    auto volumes = RarWriter(RarFormat::Rar4)
                       .packedRar4("big.txt", packed, decoded)
                       .file("after.txt", "after")
                       .volumes(3)
                       .write(dir.path(), "split");
    ASSERT_EQ(volumes.size(), 3u);
    Session x;
    ASSERT_TRUE(x.openArchive(volumes.front(), RAR_OM_EXTRACT));
    auto walk = x.walk(RAR_EXTRACT, dir / "out");
    EXPECT_EQ(names(walk), (std::vector<std::string>{"big.txt", "after.txt"}));
    EXPECT_EQ(walk.processCodes, (std::vector<int>{0, 0}));
    EXPECT_EQ(readFile(dir / "out/big.txt"), decoded);
}

TEST(Rar29Entries, OlderMethodsFailWithUnknownFormat)
{
    TempDir dir;
    Stream s;
    s.w.lzBlock();
    s.lit("fine");
    s.w.endOfFile();
    auto [packed, decoded] = s.file();
    fs::path arc = RarWriter(RarFormat::Rar4)
                       .packedRar4("v20.bin", packed, decoded, 20)
                       .packedRar4("v15.bin", packed, decoded, 15)
                       .packedRar4("v29.bin", packed, decoded)
                       .write(dir.path(), "old")
                       .front();
    Session x;
    ASSERT_TRUE(x.openArchive(arc, RAR_OM_EXTRACT));
    auto walk = x.walk(RAR_TEST);
    EXPECT_EQ(walk.processCodes, (std::vector<int>{ERAR_UNKNOWN_FORMAT, ERAR_UNKNOWN_FORMAT, 0}));
    EXPECT_EQ(walk.headers[0].raw.UnpVer, 20u);
}

struct DamageCase {
    const char* name;
    std::function<std::string()> packed;
};

class Rar29Damage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(Rar29Damage, FailsAndKeepsTheGoodFile)
{
    TempDir dir;
    fs::path arc = RarWriter(RarFormat::Rar4)
                       .packedRar4("f.bin", GetParam().packed(), text(5000, 40))
                       .write(dir.path(), "d")
                       .front();
    fs::create_directories(dir / "out");
    writeFile(dir / "out/f.bin", "good");
    Session x;
    ASSERT_TRUE(x.openArchive(arc, RAR_OM_EXTRACT));
    auto walk = x.walk(RAR_EXTRACT, dir / "out");
    EXPECT_EQ(walk.processCodes, std::vector<int>{ERAR_BAD_DATA});
    EXPECT_EQ(readFile(dir / "out/f.bin"), "good");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator{}), 1);
}

std::string goodStream()
{
    Stream s;
    s.w.lzBlock();
    s.lit(text(5000, 40));
    s.w.endOfFile();
    return s.file().first;
}

INSTANTIATE_TEST_SUITE_P(Streams, Rar29Damage,
                         ::testing::Values(DamageCase{"Truncated", [] { return goodStream().substr(0, 3000); }},
                                           DamageCase{"Empty", [] { return std::string(); }},
                                           DamageCase{"FlippedBits",
                                                      [] {
                                                          std::string p = goodStream();
                                                          for (size_t i = 300; i < p.size(); i += 97)
                                                              p[i] = static_cast<char>(p[i] ^ 0x5A);
                                                          return p;
                                                      }},
                                           DamageCase{"UnknownFilterProgram",
                                                      [] {
                                                          Stream s;
                                                          s.w.lzBlock();
                                                          s.w.filter(newFilter(Rar29Filter::Unknown, 0, 100));
                                                          s.lit(text(5000, 40));
                                                          s.w.endOfFile();
                                                          return s.file().first;
                                                      }},
                                           DamageCase{"RgbLineLongerThanTheBlock",
                                                      [] {
                                                          Stream s;
                                                          s.w.lzBlock();
                                                          s.w.filter(newFilter(Rar29Filter::Rgb, 0, 99, {{0, 102}}));
                                                          s.lit(text(5000, 40));
                                                          s.w.endOfFile();
                                                          return s.file().first;
                                                      }},
                                           DamageCase{
                                               "AudioBlockBeyondTheMachine",
                                               [] {
                                                   Stream s;
                                                   s.w.lzBlock();
                                                   s.w.filter(newFilter(Rar29Filter::Audio, 0, 0x1E001, {{0, 2}}));
                                                   s.lit(text(0x1F000, 40));
                                                   s.w.endOfFile();
                                                   return s.file().first;
                                               }},
                                           DamageCase{"MatchBeforeTheStart",
                                                      [] {
                                                          Stream s;
                                                          s.w.lzBlock();
                                                          s.lit("ab");
                                                          s.w.match(10, 100);
                                                          s.w.endOfFile();
                                                          return s.file().first;
                                                      }}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
