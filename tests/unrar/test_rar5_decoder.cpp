// Our RAR 5.0 decoder through the C interface, on archives the fixture
// writer packs with real matches, repeat distances and filters: plain,
// solid (matches reaching into earlier entries), split across volumes,
// filters across the ring's end, and damaged or unsupported data.
#include <gtest/gtest.h>

#include <functional>

#include "tests/support/RarWriter.h"
#include "tests/unrar/UnrarHarness.h"

using namespace unrar_test;
using tavrel::test::Rar5Filter;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;

namespace {

// Text-like data with repeats near and far, so that every kind of match occurs.
std::string prose(size_t size, unsigned seed)
{
    static const char* words[] = {"archive ", "volume ", "entry ", "window ", "filter ", "table ", "the ", "of ",
                                  "and ", "decoder ", "match ", "distance ", "\n", "block ", "RAR ", "solid "};
    std::string s;
    uint32_t x = seed * 2654435761u + 1;
    while (s.size() < size) {
        x = x * 1103515245u + 12345u;
        if ((x >> 28) == 0 && s.size() > 5000) {
            const size_t from = (x >> 4) % (s.size() - 2000);
            s += s.substr(from, 40 + (x >> 8) % 1500);  // a long repeat
        } else {
            s += words[(x >> 16) % 16];
        }
    }
    s.resize(size);
    return s;
}

// Machine-code-like bytes: calls and jumps with relative targets, ARM BLs.
std::string code(size_t size, unsigned seed)
{
    std::string s(size, '\0');
    uint32_t x = seed + 7;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>((i % 4 == 3 && (x >> 29) == 0) ? 0xEB : (x >> 27) == 1 ? 0xE8 : (x >> 27) == 2 ? 0xE9 : (x >> 20) & 0x3F);
    }
    return s;
}

struct Fixture {
    const char* name;
    std::function<RarWriter()> build;
    std::vector<std::pair<std::string, std::string>> files;  // expected contents
};

std::vector<Fixture> fixtures()
{
    const std::string text = prose(300000, 1), text2 = prose(70000, 2), bin = code(600000, 3);
    std::vector<Fixture> f;
    f.push_back({"Matches", [=] { return std::move(RarWriter(RarFormat::Rar5).lzCompressed("a.txt", text)); },
                 {{"a.txt", text}}});
    f.push_back({"FiltersAcrossTheRingEnd",
                 [=] {
                     // 128 KiB dictionary: the ring is 256 KiB or so, and these ranges straddle its end.
                     std::vector<Rar5Filter> filters = {{Rar5Filter::Delta, 1000, 5000, 3},
                                                        {Rar5Filter::E8, 262000, 9000, 1},
                                                        {Rar5Filter::E8E9, 300000, 65536, 1},
                                                        {Rar5Filter::Arm, 524200, 60000, 1}};
                     return std::move(RarWriter(RarFormat::Rar5).lzCompressed("code.bin", bin, filters));
                 },
                 {{"code.bin", bin}}});
    f.push_back({"LargerDictionaryLongDistances",
                 [=] {
                     std::string far = text + bin + text.substr(1000, 200000);
                     return std::move(RarWriter(RarFormat::Rar5).lzCompressed("far.bin", far, {}, 3));
                 },
                 {{"far.bin", text + bin + text.substr(1000, 200000)}}});
    f.push_back({"SolidEntriesReferToEarlierOnes",
                 [=] {
                     RarWriter w(RarFormat::Rar5);
                     w.lzCompressed("1.txt", text2).file("stored.txt", "stored").compressed("lit.txt", text2.substr(0, 9000));
                     w.lzCompressed("2.txt", text2.substr(100) + "tail").lzCompressed("3.bin", bin.substr(0, 50000),
                                                                                      {{Rar5Filter::E8, 10, 40000, 1}});
                     return std::move(w.solid());
                 },
                 {{"1.txt", text2}, {"stored.txt", "stored"}, {"lit.txt", text2.substr(0, 9000)},
                  {"2.txt", text2.substr(100) + "tail"}, {"3.bin", bin.substr(0, 50000)}}});
    f.push_back({"SplitAcrossVolumes",
                 [=] {
                     RarWriter w(RarFormat::Rar5);
                     w.lzCompressed("a.txt", text).lzCompressed("b.bin", bin.substr(0, 100000), {{Rar5Filter::Arm, 0, 60000, 1}, {Rar5Filter::Delta, 60000, 40000, 4}});
                     return std::move(w.volumes(4));
                 },
                 {{"a.txt", text}, {"b.bin", bin.substr(0, 100000)}}});
    f.push_back({"SolidAndSplit",
                 [=] {
                     RarWriter w(RarFormat::Rar5);
                     w.lzCompressed("a.txt", text2).lzCompressed("b.txt", text2 + text2.substr(0, 3000));
                     return std::move(w.solid().volumes(3));
                 },
                 {{"a.txt", text2}, {"b.txt", text2 + text2.substr(0, 3000)}}});
    return f;
}

class UnrarRar5Decoder : public ::testing::TestWithParam<Fixture> {};

TEST_P(UnrarRar5Decoder, TestAndExtractGiveTheOriginalData)
{
    const Fixture& fx = GetParam();
    TempDir dir;
    const fs::path arc = fx.build().write(dir.path(), "fx").front();
    uint64_t expected = 0;
    for (const auto& [name, data] : fx.files) expected += data.size();
    for (int op : {RAR_TEST, RAR_EXTRACT}) {
        Session s;
        ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
        auto walk = s.walk(op, dir / "out");
        EXPECT_EQ(walk.endCode, ERAR_END_ARCHIVE);
        EXPECT_EQ(walk.processCodes, std::vector<int>(walk.headers.size(), 0));
        EXPECT_EQ(s.processedBytes, expected);
    }
    for (const auto& [name, data] : fx.files) EXPECT_TRUE(readFile(dir / "out" / name) == data) << name;
}

TEST_P(UnrarRar5Decoder, SkippingEveryEntryButTheLastStillDecodesIt)
{
    const Fixture& fx = GetParam();
    TempDir dir;
    const fs::path arc = fx.build().write(dir.path(), "fx").front();
    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    Header h;
    std::string lastName;
    int code = 0;
    while (s.readHeader(h) == 0) {
        if (h.raw.Flags & RHDF_SPLITBEFORE) continue;
        if (h.fileName == fx.files.back().first) {
            code = s.process(RAR_EXTRACT, {}, dir / "last");
            lastName = h.fileName;
        }  // the others are passed over without a RARProcessFile
    }
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(readFile(dir / "last") == fx.files.back().second);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, UnrarRar5Decoder, ::testing::ValuesIn(fixtures()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
