// Compressed RAR 5.0 entries through the library's own decoder; the writer
// makes real compressed data (literals only), so these check each entry is
// found and decoded, across volumes and in solid archives.
#include <gtest/gtest.h>

#include "tests/support/RarWriter.h"
#include "tests/unrar/UnrarHarness.h"

using namespace unrar_test;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;

namespace {

std::string text(size_t size, char seed)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>(seed + i % 23 + (i % 7 == 0));
    return s;
}

struct CompressedCase {
    const char* name;
    bool solid;
    int volumes;
};

class UnrarCompressed : public ::testing::TestWithParam<CompressedCase> {};

TEST_P(UnrarCompressed, EntriesDecodeAmongStoredOnes)
{
    const CompressedCase& c = GetParam();
    TempDir dir;
    RarWriter w(RarFormat::Rar5);
    w.compressed("one.txt", text(70000, 'a')).directory("docs").file("docs/stored.txt", "stored");
    w.compressed("docs/two.txt", text(5000, 'k')).compressed("three.txt", "short");
    if (c.solid)
        w.solid();
    w.volumes(c.volumes);
    fs::path arc = w.write(dir.path(), "packed").front();
    fs::path out = dir / "out";
    for (int op : {RAR_TEST, RAR_EXTRACT}) {
        Session s;
        ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
        auto walk = s.walk(op, out);
        EXPECT_EQ(names(walk),
                  (std::vector<std::string>{"one.txt", "docs", "docs/stored.txt", "docs/two.txt", "three.txt"}));
        EXPECT_EQ(walk.processCodes, std::vector<int>(5, 0));
        EXPECT_EQ(walk.endCode, ERAR_END_ARCHIVE);
        EXPECT_EQ(walk.headers[0].raw.Method, 0x33u);
        EXPECT_EQ(s.processedBytes, 70000u + 6 + 5000 + 5);
    }
    EXPECT_EQ(readFile(out / "one.txt"), text(70000, 'a'));
    EXPECT_EQ(readFile(out / "docs/two.txt"), text(5000, 'k'));
    EXPECT_EQ(readFile(out / "three.txt"), "short");
}

TEST_P(UnrarCompressed, SkippedEntriesDoNotShiftTheOnesAfter)
{
    const CompressedCase& c = GetParam();
    TempDir dir;
    RarWriter w(RarFormat::Rar5);
    w.compressed("a.txt", text(3000, 'a')).compressed("b.txt", text(4000, 'b')).compressed("c.txt", text(100, 'c'));
    if (c.solid)
        w.solid();
    w.volumes(c.volumes);
    fs::path arc = w.write(dir.path(), "skips").front();
    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    // In extract mode the continuation of a split file shows as a header too.
    auto nextFile = [&s](Header& h) {
        int r;
        while ((r = s.readHeader(h)) == 0 && (h.raw.Flags & RHDF_SPLITBEFORE)) {
        }
        return r;
    };
    Header h;
    ASSERT_EQ(nextFile(h), 0);
    ASSERT_EQ(h.fileName, "a.txt");
    ASSERT_EQ(s.process(RAR_SKIP), 0);
    ASSERT_EQ(nextFile(h), 0);
    ASSERT_EQ(h.fileName, "b.txt"); // passed over without processing
    ASSERT_EQ(nextFile(h), 0);
    ASSERT_EQ(h.fileName, "c.txt");
    EXPECT_EQ(s.process(RAR_EXTRACT, {}, dir / "c.out"), 0);
    EXPECT_EQ(readFile(dir / "c.out"), text(100, 'c'));
}

INSTANTIATE_TEST_SUITE_P(Archives, UnrarCompressed,
                         ::testing::Values(CompressedCase{"Plain", false, 1}, CompressedCase{"Solid", true, 1},
                                           CompressedCase{"ThreeVolumes", false, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UnrarCompressed, PackedCommentIsDecoded)
{
    TempDir dir;
    const std::string comment = "Версия 7.2: packed comment text";
    fs::path arc = RarWriter(RarFormat::Rar5).file("a.txt", "a").comment(comment, true).write(dir.path(), "c").front();
    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_LIST, true, 256));
    EXPECT_EQ(s.open.CmtState, 1u);
    EXPECT_EQ(std::string(s.comment.data()), comment);
}

TEST(UnrarCompressed, WrongCrcOfPackedDataFailsAndKeepsTheGoodFile)
{
    TempDir dir;
    fs::path arc =
        RarWriter(RarFormat::Rar5).compressed("a.txt", "packed text").wrongCrc().write(dir.path(), "w").front();
    fs::create_directories(dir / "out");
    writeFile(dir / "out/a.txt", "good");
    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    auto walk = s.walk(RAR_EXTRACT, dir / "out");
    EXPECT_EQ(walk.processCodes, std::vector<int>{ERAR_BAD_DATA});
    EXPECT_EQ(readFile(dir / "out/a.txt"), "good");
}

} // namespace
