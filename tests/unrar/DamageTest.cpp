// Damaged archives open when their main header can be read; the damage is
// reported by the header read that reaches it: ERAR_BAD_DATA for a broken
// header, ERAR_END_ARCHIVE where the file ends inside one.
#include <gtest/gtest.h>
#include <zlib.h>

#include "tests/support/RarWriter.h"
#include "tests/unrar/Samples.h"
#include "tests/unrar/UnrarHarness.h"

using namespace unrar_test;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;

namespace {

const std::string kFirstData = "hello world\n";

// Offset of the second entry's header: right after the first entry's data.
size_t secondHeader(const std::string& bytes) { return bytes.find(kFirstData) + kFirstData.size(); }

struct DamageCase {
    const char* label;
    RarFormat format;
    std::function<void(std::string&)> damage;
    std::vector<std::string> names;
    int endCode;
};

class UnrarDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(UnrarDamage, OpensAndTheWalkReportsTheDamageWhereItIs)
{
    const DamageCase& c = GetParam();
    TempDir dir;
    fs::path arc = RarWriter(c.format).file("a.txt", kFirstData).file("b.txt", "second").write(dir.path(), "d").front();
    std::string bytes = readFile(arc);
    c.damage(bytes);
    writeFile(arc, bytes);
    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_LIST)) << s.open.OpenResult;
    EXPECT_EQ(s.open.OpenResult, 0u);
    auto walk = s.walk(RAR_SKIP);
    EXPECT_EQ(names(walk), c.names);
    EXPECT_EQ(walk.endCode, c.endCode);
}

const size_t kRar5Main = 8, kRar4Main = 7; // just past the signature

// A RAR 5.0 header that passes its check: CRC-32, size, then `body`.
std::string rar5Header(const std::string& body)
{
    std::string h = std::string(1, static_cast<char>(body.size())) + body;
    const uLong crc = ::crc32(0, reinterpret_cast<const Bytef*>(h.data()), static_cast<uInt>(h.size()));
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>(crc >> (8 * i));
    return out + h;
}

// Puts `header` in place of the RAR 5.0 main header.
void replaceRar5Main(std::string& b, const std::string& header)
{
    b.replace(kRar5Main, 5 + static_cast<unsigned char>(b[kRar5Main + 4]), header);
}

INSTANTIATE_TEST_SUITE_P(
    Archives, UnrarDamage,
    ::testing::Values(
        DamageCase{
            "Rar5MainHeaderCheck", RarFormat::Rar5, [](std::string& b) { b[kRar5Main] ^= 0x01; }, {}, ERAR_BAD_DATA},
        DamageCase{
            "Rar4MainHeaderCheck", RarFormat::Rar4, [](std::string& b) { b[kRar4Main] ^= 0x01; }, {}, ERAR_BAD_DATA},
        // A main header that the file holds whole opens whatever it holds, as with the
        // genuine library: an empty one (size 0, its check right, as in two RARLAB-tested
        // damaged archives), one of another type, one whose fields end too soon.
        DamageCase{"Rar5MainHeaderEmpty",
                   RarFormat::Rar5,
                   [](std::string& b) { replaceRar5Main(b, rar5Header("")); },
                   {},
                   ERAR_BAD_DATA},
        DamageCase{"Rar5MainHeaderOfAnotherType",
                   RarFormat::Rar5,
                   [](std::string& b) { replaceRar5Main(b, rar5Header(std::string("\x05\x00", 2))); },
                   {},
                   ERAR_BAD_DATA},
        DamageCase{"Rar5MainHeaderFieldsCut",
                   RarFormat::Rar5,
                   [](std::string& b) { replaceRar5Main(b, rar5Header(std::string("\x01\x00", 2))); },
                   {},
                   ERAR_BAD_DATA},
        DamageCase{"Rar4MainHeaderOfAnotherType",
                   RarFormat::Rar4,
                   [](std::string& b) { b[kRar4Main + 2] = 0x7B; },
                   {},
                   ERAR_BAD_DATA},
        DamageCase{"Rar5LaterHeaderCheck",
                   RarFormat::Rar5,
                   [](std::string& b) { b[b.find("b.txt")] = 'c'; },
                   {"a.txt"},
                   ERAR_BAD_DATA},
        DamageCase{"Rar4LaterHeaderCheck",
                   RarFormat::Rar4,
                   [](std::string& b) { b[b.find("b.txt")] = 'c'; },
                   {"a.txt"},
                   ERAR_BAD_DATA},
        DamageCase{"Rar5LaterHeaderSize",
                   RarFormat::Rar5,
                   [](std::string& b) { b[secondHeader(b) + 4] = 0; },
                   {"a.txt"},
                   ERAR_BAD_DATA},
        DamageCase{"Rar4LaterHeaderSize",
                   RarFormat::Rar4,
                   [](std::string& b) {
                       b[secondHeader(b) + 5] = 3;
                       b[secondHeader(b) + 6] = 0;
                   },
                   {"a.txt"},
                   ERAR_BAD_DATA},
        DamageCase{"Rar5EndsInsideALaterHeader",
                   RarFormat::Rar5,
                   [](std::string& b) { b.resize(b.find("b.txt")); },
                   {"a.txt"},
                   ERAR_END_ARCHIVE},
        DamageCase{"Rar4EndsInsideALaterHeader",
                   RarFormat::Rar4,
                   [](std::string& b) { b.resize(b.find("b.txt")); },
                   {"a.txt"},
                   ERAR_END_ARCHIVE},
        DamageCase{"Rar5EndsInsideTheHeaderSize",
                   RarFormat::Rar5,
                   [](std::string& b) { b.resize(secondHeader(b) + 3); },
                   {"a.txt"},
                   ERAR_END_ARCHIVE},
        DamageCase{"Rar4EndsInsideTheCommonHeader",
                   RarFormat::Rar4,
                   [](std::string& b) { b.resize(secondHeader(b) + 5); },
                   {"a.txt"},
                   ERAR_END_ARCHIVE}),
    [](const auto& info) { return std::string(info.param.label); });

// RAR 5.0 archives damaged by fuzzing, as the genuine library reads them
// (the samples' README): the first two have an empty main header whose
// check is right, so they open and the first header read fails.
struct DamagedSample {
    const char* file;
    std::vector<std::string> names;
    std::vector<int> testCodes;
    int endCode;
};

class UnrarDamagedSamples : public ::testing::TestWithParam<DamagedSample> {};

TEST_P(UnrarDamagedSamples, OpenAndReportTheDamageWhereTheGenuineLibraryDoes)
{
    const DamagedSample& c = GetParam();
    if (const std::string why = missingSample(c.file); !why.empty())
        GTEST_SKIP() << why;
    Session s;
    ASSERT_TRUE(s.openArchive(samplePath(c.file), RAR_OM_EXTRACT)) << s.open.OpenResult;
    EXPECT_EQ(s.open.OpenResult, 0u);
    auto walk = s.walk(RAR_TEST);
    EXPECT_EQ(names(walk), c.names);
    EXPECT_EQ(walk.processCodes, c.testCodes);
    EXPECT_EQ(walk.endCode, c.endCode);
}

// rar5_bad_tables.rar: its first table is over-subscribed (twenty 1-bit
// codes), which is read as the genuine library reads it; the tables it
// then gives assign no code at all, and the entry's symbols are read from
// them. The genuine library decodes such bits into some symbol and, the
// entry having no checksum, reports success; we report the damage (see
// unrar/README.md).
INSTANTIATE_TEST_SUITE_P(
    Samples, UnrarDamagedSamples,
    ::testing::Values(DamagedSample{"rar5_block_size_is_too_small.rar", {}, {}, ERAR_BAD_DATA},
                      DamagedSample{"rar5_truncated_huff.rar", {}, {}, ERAR_BAD_DATA},
                      DamagedSample{"rar5_bad_tables.rar", {"bad_tables.txt"}, {ERAR_BAD_DATA}, ERAR_END_ARCHIVE}),
    [](const auto& info) {
        std::string n = info.param.file;
        return n.substr(0, n.find('.'));
    });

// RAR limits an owner name; a longer one in an otherwise sound record is
// skipped like any record that is not needed.
TEST(UnrarDamage, OverlongOwnerNameIsSkipped)
{
    TempDir dir;
    fs::path arc = RarWriter(RarFormat::Rar5)
                       .file("a.txt", kFirstData)
                       .ownerName(std::string(70000, 'u'))
                       .file("b.txt", "second")
                       .write(dir.path(), "o")
                       .front();
    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    auto walk = s.walk(RAR_TEST);
    EXPECT_EQ(names(walk), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(walk.processCodes, (std::vector<int>{0, 0}));
    EXPECT_EQ(walk.endCode, ERAR_END_ARCHIVE);
}

} // namespace
