// Damaged archives open when their main header can be read; the damage is
// reported by the header read that reaches it: ERAR_BAD_DATA for a broken
// header, ERAR_END_ARCHIVE where the file ends inside one.
#include <gtest/gtest.h>

#include "tests/support/RarWriter.h"
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

INSTANTIATE_TEST_SUITE_P(
    Archives, UnrarDamage,
    ::testing::Values(
        DamageCase{
            "Rar5MainHeaderCheck", RarFormat::Rar5, [](std::string& b) { b[kRar5Main] ^= 0x01; }, {}, ERAR_BAD_DATA},
        DamageCase{
            "Rar4MainHeaderCheck", RarFormat::Rar4, [](std::string& b) { b[kRar4Main] ^= 0x01; }, {}, ERAR_BAD_DATA},
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
