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
    static const char* words[] = {"archive ", "volume ",  "entry ", "window ",   "filter ", "table ", "the ", "of ",
                                  "and ",     "decoder ", "match ", "distance ", "\n",      "block ", "RAR ", "solid "};
    std::string s;
    uint32_t x = seed * 2654435761u + 1;
    while (s.size() < size) {
        x = x * 1103515245u + 12345u;
        if ((x >> 28) == 0 && s.size() > 5000) {
            const size_t from = (x >> 4) % (s.size() - 2000);
            s += s.substr(from, 40 + (x >> 8) % 1500); // a long repeat
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
        s[i] = static_cast<char>((i % 4 == 3 && (x >> 29) == 0) ? 0xEB
                                 : (x >> 27) == 1               ? 0xE8
                                 : (x >> 27) == 2               ? 0xE9
                                                                : (x >> 20) & 0x3F);
    }
    return s;
}

// What shows that each construct the encoder writes is read right: the
// fixtures below prove only that our encoder and decoder agree, so each
// construct is also either in a RARLAB-made sample (Rar5SamplesTest
// decodes them with matching checksums; counts from reading their blocks)
// or follows a rule of the format reference, rar5-compression.md:
// - Several blocks in an entry, each with tables: rar5_arm.rar (2 blocks).
// - First block of a solid continuation without tables:
//   rar5_multiple_files_solid.rar (entries 2-4 each start with one).
// - Block without tables inside an entry (TablelessBlocksInMidEntry only;
//   RAR never writes one): no sample; section 2.1, bit 7 (the tables in
//   force are reused).
// - Repeat distances and the repeat-last length: within a block, every
//   sample (rar5_arm.rar: 2009 and 483). Reused across blocks or solid
//   entries: no sample; section 4 and the table in 7.2 (they are stream
//   state, reset only by a new stream).
// - Matches into an earlier solid entry: rar5_multiple_files_solid.rar.
// - Filters: delta in rar5_compressed, rar5_win32, rar5_multiple_files_solid
//   and rar5_arm; ARM in rar5_arm.rar. E8 and E8E9: no RAR 5.0 sample;
//   section 6.5.
// - Filters and matches across the ring's end, distances beyond 128 KiB,
//   a dictionary that grows in a solid stream: no sample (every sample's
//   data is smaller than its dictionary); sections 5, 4.3 and 7.2.
// - Entries split across volumes: no sample; section 7.3.
struct Fixture {
    const char* name;
    std::function<RarWriter()> build;
    std::vector<std::pair<std::string, std::string>> files; // expected contents
};

std::vector<Fixture> fixtures()
{
    const std::string text = prose(300000, 1), text2 = prose(70000, 2), bin = code(600000, 3);
    std::vector<Fixture> f;
    f.push_back({"Matches",
                 [=] { return std::move(RarWriter(RarFormat::Rar5).lzCompressed("a.txt", text)); },
                 {{"a.txt", text}}});
    f.push_back({"TablelessBlocksInMidEntry",
                 [=] {
                     // What RAR never writes but the format allows: every other block reuses the tables.
                     tavrel::test::RarEntry e;
                     e.name = "mid.txt";
                     e.packed = e.lz = e.tablelessMidEntry = true;
                     e.unpackedData = text;
                     e.method = 3;
                     return std::move(RarWriter(RarFormat::Rar5).entry(e));
                 },
                 {{"mid.txt", text}}});
    f.push_back({"FiltersAcrossTheRingEnd",
                 [=] {
                     // 128 KiB dictionary: the ring is 128 KiB, and these ranges straddle its end.
                     std::vector<Rar5Filter> filters = {{Rar5Filter::Delta, 1000, 5000, 3},
                                                        {Rar5Filter::E8, 262000, 9000, 1},
                                                        {Rar5Filter::E8E9, 300000, 65536, 1},
                                                        {Rar5Filter::Arm, 524200, 60000, 1}};
                     return std::move(RarWriter(RarFormat::Rar5).lzCompressed("code.bin", bin, filters));
                 },
                 {{"code.bin", bin}}});
    f.push_back({"LargerDictionaryLongDistances",
                 [=] {
                     std::string distant = text + bin + text.substr(1000, 200000);
                     return std::move(RarWriter(RarFormat::Rar5).lzCompressed("far.bin", distant, {}, 3));
                 },
                 {{"far.bin", text + bin + text.substr(1000, 200000)}}});
    f.push_back(
        {"SolidEntriesReferToEarlierOnes",
         [=] {
             RarWriter w(RarFormat::Rar5);
             w.lzCompressed("1.txt", text2).file("stored.txt", "stored").compressed("lit.txt", text2.substr(0, 9000));
             w.lzCompressed("2.txt", text2.substr(100) + "tail")
                 .lzCompressed("3.bin", bin.substr(0, 50000), {{Rar5Filter::E8, 10, 40000, 1}});
             return std::move(w.solid());
         },
         {{"1.txt", text2},
          {"stored.txt", "stored"},
          {"lit.txt", text2.substr(0, 9000)},
          {"2.txt", text2.substr(100) + "tail"},
          {"3.bin", bin.substr(0, 50000)}}});
    f.push_back({"SolidDictionaryGrowsBetweenEntries",
                 [=] {
                     // The second entry declares a larger dictionary and repeats the first
                     // from further back than the first one's ring reached.
                     RarWriter w(RarFormat::Rar5);
                     w.lzCompressed("small-dict.bin", bin.substr(0, 100000), {}, 0);
                     w.lzCompressed("large-dict.bin", text.substr(0, 300000) + bin.substr(0, 100000), {}, 3);
                     return std::move(w.solid());
                 },
                 {{"small-dict.bin", bin.substr(0, 100000)},
                  {"large-dict.bin", text.substr(0, 300000) + bin.substr(0, 100000)}}});
    f.push_back({"SplitAcrossVolumes",
                 [=] {
                     RarWriter w(RarFormat::Rar5);
                     w.lzCompressed("a.txt", text)
                         .lzCompressed("b.bin", bin.substr(0, 100000),
                                       {{Rar5Filter::Arm, 0, 60000, 1}, {Rar5Filter::Delta, 60000, 40000, 4}});
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
    for (const auto& [name, data] : fx.files)
        expected += data.size();
    for (int op : {RAR_TEST, RAR_EXTRACT}) {
        Session s;
        ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
        auto walk = s.walk(op, dir / "out");
        EXPECT_EQ(walk.endCode, ERAR_END_ARCHIVE);
        EXPECT_EQ(walk.processCodes, std::vector<int>(walk.headers.size(), 0));
        EXPECT_EQ(s.processedBytes, expected);
    }
    for (const auto& [name, data] : fx.files)
        EXPECT_TRUE(readFile(dir / "out" / name) == data) << name;
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
        if (h.raw.Flags & RHDF_SPLITBEFORE)
            continue;
        if (h.fileName == fx.files.back().first) {
            code = s.process(RAR_EXTRACT, {}, dir / "last");
            lastName = h.fileName;
        } // the others are passed over without a RARProcessFile
    }
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(readFile(dir / "last") == fx.files.back().second);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, UnrarRar5Decoder, ::testing::ValuesIn(fixtures()),
                         [](const auto& info) { return std::string(info.param.name); });

// Whether each block of a packed entry carries tables.
std::vector<bool> blocksWithTables(const std::string& packed)
{
    std::vector<bool> tables;
    for (size_t p = 0; p + 2 < packed.size();) {
        const auto flags = static_cast<uint8_t>(packed[p]);
        const size_t sizeBytes = ((flags >> 3) & 7) + 1;
        size_t size = 0;
        for (size_t i = 0; i < sizeBytes; ++i)
            size |= size_t(static_cast<uint8_t>(packed[p + 2 + i])) << (8 * i);
        tables.push_back(flags & 0x80);
        p += 2 + sizeBytes + size;
    }
    return tables;
}

// The encoder writes blocks as RAR does (rar5-compression.md, 2.1): tables
// in every block of an entry, left out at most in the first block of a
// solid continuation. RARLAB's multi-threaded reader misreads anything else.
TEST(UnrarRar5Encoder, WritesTablesWhereRarDoes)
{
    const std::string text = prose(300000, 1);
    tavrel::test::Rar5Encoder stream;
    const std::vector<bool> first = blocksWithTables(stream.encode(text));
    const std::vector<bool> next = blocksWithTables(stream.encode(text.substr(1000)));
    ASSERT_GT(first.size(), 2u);
    ASSERT_GT(next.size(), 2u);
    EXPECT_EQ(first, std::vector<bool>(first.size(), true));
    EXPECT_FALSE(next.front());
    EXPECT_EQ(std::vector<bool>(next.begin() + 1, next.end()), std::vector<bool>(next.size() - 1, true));

    tavrel::test::Rar5Encoder deliberate;
    deliberate.omitTablesInMidEntry(true);
    const std::vector<bool> mid = blocksWithTables(deliberate.encode(text));
    ASSERT_GT(mid.size(), 2u);
    EXPECT_TRUE(mid[0]);
    EXPECT_FALSE(mid[1]);
}

} // namespace

namespace {

struct Refusal {
    const char* name;
    std::function<void(RarWriter&)> adjust;
    int code;
};

class UnrarRar5Refusal : public ::testing::TestWithParam<Refusal> {};

// Entries the decoder must refuse: the code is the genuine library's, and
// a file already at the destination stays as it was.
TEST_P(UnrarRar5Refusal, FailsWithTheLibrarysCodeAndKeepsTheOldFile)
{
    const Refusal& c = GetParam();
    TempDir dir;
    RarWriter w(RarFormat::Rar5);
    w.lzCompressed("a.txt", prose(20000, 5));
    c.adjust(w);
    const fs::path arc = w.write(dir.path(), "bad").front();
    fs::create_directories(dir / "out");
    writeFile(dir / "out/a.txt", "good");
    for (int op : {RAR_TEST, RAR_EXTRACT}) {
        Session s;
        ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
        auto walk = s.walk(op, dir / "out");
        EXPECT_EQ(walk.processCodes, std::vector<int>{c.code});
    }
    EXPECT_EQ(readFile(dir / "out/a.txt"), "good");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator{}), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnrarRar5Refusal,
    ::testing::Values(Refusal{"ClaimsMoreThanItHolds", [](RarWriter& w) { w.claimSize(20001); }, ERAR_BAD_DATA},
                      Refusal{"ClaimsLessThanItHolds", [](RarWriter& w) { w.claimSize(19999); }, ERAR_BAD_DATA},
                      Refusal{"WrongCrc", [](RarWriter& w) { w.wrongCrc(); }, ERAR_BAD_DATA},
                      Refusal{"DictionaryAboveOneGiB",
                              [](RarWriter& w) {
                                  tavrel::test::RarEntry e;
                                  e.name = "a.txt";
                                  e.packed = e.lz = true;
                                  e.unpackedData = "x";
                                  e.dictExponent = 14; // 2 GiB
                                  e.method = 3;
                                  w = RarWriter(RarFormat::Rar5);
                                  w.entry(e);
                              },
                              ERAR_LARGE_DICT},
                      Refusal{"Rar7Algorithm",
                              [](RarWriter& w) {
                                  tavrel::test::RarEntry e;
                                  e.name = "a.txt";
                                  e.packed = e.lz = true;
                                  e.unpackedData = "x";
                                  e.algorithm = 1;
                                  e.method = 3;
                                  w = RarWriter(RarFormat::Rar5);
                                  w.entry(e);
                              },
                              ERAR_UNKNOWN_FORMAT}),
    [](const auto& info) { return std::string(info.param.name); });

// Above the library's own limit the application is asked (UCM_LARGEDICT:
// needed and allowed size in KiB); only an answer of 1 lets the entry be
// decoded. The ring is sized by the entry, so the allowed 2 GiB costs
// nothing here.
TEST(UnrarRar5Decoder, ADictionaryAboveOneGiBIsDecodedOnlyWhenTheApplicationAllows)
{
    TempDir dir;
    const std::string data = prose(20000, 4);
    tavrel::test::RarEntry e;
    e.name = "a.txt";
    e.packed = e.lz = true;
    e.unpackedData = data;
    e.dictExponent = 14; // 2 GiB
    e.method = 3;
    const fs::path arc = RarWriter(RarFormat::Rar5).entry(e).write(dir.path(), "large").front();
    for (int answer : {1, 0, -1}) {
        const fs::path out = dir / ("out" + std::to_string(answer + 1));
        std::vector<std::pair<RAR_LPARAM, RAR_LPARAM>> asked;
        Session s;
        s.onMessage = [&](unsigned msg, RAR_LPARAM p1, RAR_LPARAM p2) {
            if (msg != UCM_LARGEDICT)
                return 1;
            asked.emplace_back(p1, p2);
            return answer;
        };
        ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
        EXPECT_EQ(s.walk(RAR_EXTRACT, out).processCodes, std::vector<int>{answer == 1 ? 0 : ERAR_LARGE_DICT});
        EXPECT_EQ(asked, (std::vector<std::pair<RAR_LPARAM, RAR_LPARAM>>{{2 << 20, 1 << 20}}));
        EXPECT_EQ(fs::exists(out / "a.txt"), answer == 1);
        if (answer == 1) {
            EXPECT_EQ(readFile(out / "a.txt"), data);
        }
    }
}

// Damage anywhere in the packed data: the entry fails with ERAR_BAD_DATA
// or, where the damage is in ignored padding, gives the original data;
// never other data reported as good, never a crash.
TEST(UnrarRar5Decoder, DamagedPackedDataNeverPassesAsGood)
{
    TempDir dir;
    const std::string data = prose(40000, 9) + code(30000, 9);
    const fs::path arc = RarWriter(RarFormat::Rar5)
                             .lzCompressed("a.bin", data, {{Rar5Filter::E8E9, 40000, 30000, 1}})
                             .write(dir.path(), "good")
                             .front();
    const std::string image = readFile(arc);
    // The packed data is what follows the file header up to the end block (about 16 bytes).
    const size_t dataStart = image.find("a.bin") + 5, dataEnd = image.size() - 16;
    ASSERT_LT(dataStart, dataEnd);
    int failures = 0;
    for (size_t at = dataStart; at < dataEnd; at += std::max<size_t>(1, (dataEnd - dataStart) / 97)) {
        for (uint8_t flip : {0x01, 0x80, 0xFF}) {
            std::string bad = image;
            bad[at] = static_cast<char>(bad[at] ^ flip);
            const fs::path p = dir / "bad.rar";
            writeFile(p, bad);
            Session s;
            ASSERT_TRUE(s.openArchive(p, RAR_OM_EXTRACT));
            Header h;
            ASSERT_EQ(s.readHeader(h), 0);
            fs::remove(dir / "a.out");
            const int r = s.process(RAR_EXTRACT, {}, dir / "a.out");
            SCOPED_TRACE(testing::Message() << "byte " << at << " ^ " << int(flip));
            if (r == 0)
                EXPECT_TRUE(readFile(dir / "a.out") == data);
            else
                EXPECT_EQ(r, ERAR_BAD_DATA);
            failures += r != 0;
        }
    }
    EXPECT_GT(failures, 200);
}

TEST(UnrarRar5Decoder, CancelInProcessDataStopsTheEntry)
{
    TempDir dir;
    const fs::path arc =
        RarWriter(RarFormat::Rar5).lzCompressed("a.txt", prose(3 << 20, 4)).write(dir.path(), "c").front();
    Session s;
    s.onMessage = [](unsigned msg, RAR_LPARAM, RAR_LPARAM) { return msg == UCM_PROCESSDATA ? -1 : 1; };
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    auto walk = s.walk(RAR_EXTRACT, dir / "out");
    EXPECT_EQ(walk.processCodes, std::vector<int>{ERAR_UNKNOWN});
    EXPECT_FALSE(fs::exists(dir / "out/a.txt"));
    EXPECT_EQ(s.messageKinds(true), std::vector<unsigned>{UCM_PROCESSDATA});
}

} // namespace
