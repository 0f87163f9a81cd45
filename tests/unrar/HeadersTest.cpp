// Header fields as RARReadHeaderEx reports them, for both formats.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "tests/support/RarWriter.h"
#include "tests/unrar/Samples.h"
#include "tests/unrar/UnrarHarness.h"

using namespace unrar_test;
using tavrel::test::RarEntry;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;

namespace {

constexpr unsigned kDosTime = 0x58B1528F; // 2024-05-17 10:20:30
constexpr uint64_t kFiletime = (0x66472F6EULL + 11644473600ULL) * 10000000ULL;

struct Expected {
    std::string name;
    std::wstring wideName;
    unsigned flags;
    uint64_t packSize;
    uint64_t unpSize;
    unsigned hostOS;
    unsigned crc;
    unsigned unpVer;
    unsigned method;
    unsigned attr;
    unsigned dictSize;
    unsigned hashType;
};

struct HeaderCase {
    const char* name;
    RarFormat format;
    std::function<void(RarWriter&)> add; // the entry under test is the last one
    Expected expected;
};

// Times of a table of cases read in UTC, as the cases state them.
template <typename Case> class InUtc : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
#ifdef _WIN32
        _putenv_s("TZ", "UTC");
#else
        setenv("TZ", "UTC", 1);
#endif
        tzset();
    }
};

class UnrarHeader : public InUtc<HeaderCase> {};

TEST_P(UnrarHeader, FieldsMatchTheGenuineLibrary)
{
    const HeaderCase& c = GetParam();
    TempDir dir;
    RarWriter w(c.format);
    c.add(w);
    fs::path arc = w.write(dir.path(), "h").front();
    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_LIST));
    auto walk = s.walk(RAR_SKIP);
    ASSERT_EQ(walk.endCode, ERAR_END_ARCHIVE);
    ASSERT_FALSE(walk.headers.empty());
    const Header& h = walk.headers.back();
    const Expected& e = c.expected;
    EXPECT_EQ(h.arcName, arc.string());
    EXPECT_EQ(h.fileName, e.name);
    EXPECT_EQ(h.fileNameW, e.wideName);
    EXPECT_EQ(h.raw.Flags, e.flags);
    EXPECT_EQ(h.raw.PackSize | uint64_t(h.raw.PackSizeHigh) << 32, e.packSize);
    EXPECT_EQ(h.raw.UnpSize | uint64_t(h.raw.UnpSizeHigh) << 32, e.unpSize);
    EXPECT_EQ(h.raw.HostOS, e.hostOS);
    EXPECT_EQ(h.raw.FileCRC, e.crc);
    EXPECT_EQ(h.raw.FileTime, kDosTime);
    EXPECT_EQ(h.raw.UnpVer, e.unpVer);
    EXPECT_EQ(h.raw.Method, e.method);
    EXPECT_EQ(h.raw.FileAttr, e.attr);
    EXPECT_EQ(h.raw.DictSize, e.dictSize);
    EXPECT_EQ(h.raw.HashType, e.hashType);
    EXPECT_EQ(h.raw.MtimeLow | uint64_t(h.raw.MtimeHigh) << 32, kFiletime);
    EXPECT_EQ(h.raw.CmtSize, 0u);
    EXPECT_EQ(h.raw.CmtState, 0u);
}

const unsigned kHelloCrc = 0xAF083B2D;
auto hello = [](RarWriter& w) { w.file("a.txt", "hello world\n"); };

INSTANTIATE_TEST_SUITE_P(
    Entries, UnrarHeader,
    ::testing::Values(
        HeaderCase{"Rar5File",
                   RarFormat::Rar5,
                   hello,
                   {"a.txt", L"a.txt", 0, 12, 12, 2, kHelloCrc, 50, 0x30, 0x20, 128, RAR_HASH_CRC32}},
        HeaderCase{"Rar4File",
                   RarFormat::Rar4,
                   hello,
                   {"a.txt", L"a.txt", 0, 12, 12, 2, kHelloCrc, 20, 0x30, 0x20, 64, RAR_HASH_CRC32}},
        HeaderCase{"Rar5Folder",
                   RarFormat::Rar5,
                   [](RarWriter& w) { w.directory("docs"); },
                   {"docs", L"docs", RHDF_DIRECTORY, 0, 0, 2, 0, 50, 0x30, 0x10, 0, RAR_HASH_NONE}},
        HeaderCase{"Rar4Folder",
                   RarFormat::Rar4,
                   [](RarWriter& w) { w.directory("docs"); },
                   {"docs", L"docs", RHDF_DIRECTORY, 0, 0, 2, 0, 20, 0x30, 0x10, 0, RAR_HASH_CRC32}},
        HeaderCase{
            "Rar5NestedUnicodeUnix",
            RarFormat::Rar5,
            [](RarWriter& w) { w.file("docs/Папка.txt", "x").unixHost(0100755); },
            {"docs/Папка.txt", L"docs/Папка.txt", 0, 1, 1, 3, 0x8CDC1683, 50, 0x30, 0100755, 128, RAR_HASH_CRC32}},
        HeaderCase{
            "Rar4NestedUnicodeUnix",
            RarFormat::Rar4,
            [](RarWriter& w) { w.file("docs/Папка.txt", "x").unixHost(0100755); },
            {"docs/Папка.txt", L"docs/Папка.txt", 0, 1, 1, 3, 0x8CDC1683, 20, 0x30, 0100755, 64, RAR_HASH_CRC32}},
        HeaderCase{"Rar5SolidSecondFile",
                   RarFormat::Rar5,
                   [](RarWriter& w) { w.solid().file("1", "").file("a.txt", "hello world\n"); },
                   {"a.txt", L"a.txt", RHDF_SOLID, 12, 12, 2, kHelloCrc, 50, 0x30, 0x20, 128, RAR_HASH_CRC32}},
        HeaderCase{"Rar4SolidSecondFile",
                   RarFormat::Rar4,
                   [](RarWriter& w) { w.solid().file("1", "").file("a.txt", "hello world\n"); },
                   {"a.txt", L"a.txt", RHDF_SOLID, 12, 12, 2, kHelloCrc, 20, 0x30, 0x20, 64, RAR_HASH_CRC32}},
        HeaderCase{"Rar5Encrypted",
                   RarFormat::Rar5,
                   [](RarWriter& w) { w.file("a.txt", "hello world\n").encrypted(); },
                   {"a.txt", L"a.txt", RHDF_ENCRYPTED, 12, 12, 2, kHelloCrc, 50, 0x30, 0x20, 128, RAR_HASH_CRC32}},
        HeaderCase{"Rar4Encrypted",
                   RarFormat::Rar4,
                   [](RarWriter& w) { w.file("a.txt", "hello world\n").encrypted(); },
                   {"a.txt", L"a.txt", RHDF_ENCRYPTED, 12, 12, 2, kHelloCrc, 29, 0x30, 0x20, 64, RAR_HASH_CRC32}},
        HeaderCase{"Rar5SizeAbove4GB",
                   RarFormat::Rar5,
                   [](RarWriter& w) { w.file("a.txt", "hello world\n").claimSize(0x123456789ULL); },
                   {"a.txt", L"a.txt", 0, 12, 0x123456789ULL, 2, kHelloCrc, 50, 0x30, 0x20, 128, RAR_HASH_CRC32}},
        HeaderCase{"Rar4SizeAbove4GB",
                   RarFormat::Rar4,
                   [](RarWriter& w) { w.file("a.txt", "hello world\n").claimSize(0x123456789ULL); },
                   {"a.txt", L"a.txt", 0, 12, 0x123456789ULL, 2, kHelloCrc, 20, 0x30, 0x20, 64, RAR_HASH_CRC32}}),
    [](const auto& info) { return std::string(info.param.name); });

// Fields the genuine library derives from RAR 5.0 records or passes on
// from late but valid MS-DOS times.
struct DerivedCase {
    const char* label;
    RarFormat format;
    std::function<void(RarWriter&)> add;
    std::string name;
    unsigned crc;
    unsigned hashType;
    unsigned fileTime;
    uint64_t mtime;
};

class UnrarDerivedField : public InUtc<DerivedCase> {};

TEST_P(UnrarDerivedField, MatchesTheGenuineLibrary)
{
    const DerivedCase& c = GetParam();
    TempDir dir;
    RarWriter w(c.format);
    c.add(w);
    Session s;
    ASSERT_TRUE(s.openArchive(w.write(dir.path(), "d").front(), RAR_OM_LIST));
    Header h;
    ASSERT_EQ(s.readHeader(h), 0);
    EXPECT_EQ(h.fileName, c.name);
    EXPECT_EQ(h.raw.FileCRC, c.crc);
    EXPECT_EQ(h.raw.HashType, c.hashType);
    EXPECT_EQ(h.raw.FileTime, c.fileTime);
    EXPECT_EQ(h.raw.MtimeLow | uint64_t(h.raw.MtimeHigh) << 32, c.mtime);
}

// 2107-11-30 12:00:00, the last year an MS-DOS time can hold.
constexpr unsigned kLateDos = 127u << 25 | 11u << 21 | 30u << 16 | 12u << 11;
constexpr uint64_t kLateFiletime = (4352097600ULL + 11644473600ULL) * 10000000ULL;
const std::string kDigest = [] {
    std::string d(32, '\0');
    for (int i = 0; i < 32; ++i)
        d[static_cast<size_t>(i)] = static_cast<char>(0xA0 + i);
    return d;
}();

INSTANTIATE_TEST_SUITE_P(
    Records, UnrarDerivedField,
    ::testing::Values(DerivedCase{"Blake2Only", RarFormat::Rar5,
                                  [](RarWriter& w) { w.file("a.txt", "hello world\n").blake2(kDigest); }, "a.txt",
                                  0xA3A2A1A0u, RAR_HASH_BLAKE2, kDosTime, kFiletime},
                      DerivedCase{"FileVersion", RarFormat::Rar5,
                                  [](RarWriter& w) { w.file("bin/2to3", "x").fileVersion(1); }, "bin/2to3;1",
                                  0x8CDC1683u, RAR_HASH_CRC32, kDosTime, kFiletime},
                      DerivedCase{"Rar5LateTime", RarFormat::Rar5,
                                  [](RarWriter& w) { w.file("a", "x").mtimeFiletime(kLateFiletime); }, "a", 0x8CDC1683u,
                                  RAR_HASH_CRC32, kLateDos, kLateFiletime},
                      DerivedCase{"Rar4LateTime", RarFormat::Rar4,
                                  [](RarWriter& w) {
                                      RarEntry e;
                                      e.name = "a";
                                      e.data = "x";
                                      e.dosTime = kLateDos;
                                      w.entry(e);
                                  },
                                  "a", 0x8CDC1683u, RAR_HASH_CRC32, kLateDos, kLateFiletime}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(UnrarDerivedField, Blake2SampleReportsTheDigestStartAsItsCrc)
{
    if (const std::string why = missingSample("rar5_blake2.rar"); !why.empty())
        GTEST_SKIP() << why;
    const fs::path sample = samplePath("rar5_blake2.rar");
    Session s;
    ASSERT_TRUE(s.openArchive(sample, RAR_OM_LIST));
    Header h;
    ASSERT_EQ(s.readHeader(h), 0);
    EXPECT_EQ(h.fileName, "cebula.txt");
    EXPECT_EQ(h.raw.HashType, unsigned(RAR_HASH_BLAKE2));
    const auto* d = reinterpret_cast<const unsigned char*>(h.raw.Hash);
    EXPECT_EQ(h.raw.FileCRC, unsigned(d[0] | d[1] << 8 | d[2] << 16 | unsigned(d[3]) << 24));
    EXPECT_NE(h.raw.FileCRC, 0u);
}

TEST(UnrarHeader, LinkTargetGoesIntoTheCallersBuffer)
{
    TempDir dir;
    fs::path arc = RarWriter(RarFormat::Rar5).symlink("link", "target/file").write(dir.path(), "l").front();
    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_LIST));
    std::vector<wchar_t> target(64, L'#');
    RARHeaderDataEx h{};
    h.RedirName = target.data();
    h.RedirNameSize = 64;
    ASSERT_EQ(RARReadHeaderEx(s.handle, &h), 0);
    EXPECT_EQ(h.RedirType, unsigned(FSREDIR_UNIXSYMLINK));
    EXPECT_EQ(std::wstring(target.data()), L"target/file");
    EXPECT_EQ(h.HostOS, 3u);
}

TEST(UnrarHeader, LegacyRecordGetsTheSameFields)
{
    TempDir dir;
    fs::path arc = RarWriter(RarFormat::Rar4).file("docs/a.txt", "hello world\n").write(dir.path(), "l").front();
    std::string name = arc.string();
    RAROpenArchiveData open{};
    open.ArcName = name.data();
    open.OpenMode = RAR_OM_EXTRACT;
    RAR_HANDLE h = RAROpenArchive(&open);
    ASSERT_NE(h, nullptr);
    RARHeaderData d{};
    ASSERT_EQ(RARReadHeader(h, &d), 0);
    EXPECT_STREQ(d.FileName, "docs/a.txt");
    EXPECT_STREQ(d.ArcName, name.c_str());
    EXPECT_EQ(d.UnpSize, 12u);
    EXPECT_EQ(d.FileCRC, 0xAF083B2Du);
    EXPECT_EQ(RARProcessFile(h, RAR_TEST, nullptr, nullptr), 0);
    EXPECT_EQ(RARReadHeader(h, &d), ERAR_END_ARCHIVE);
    EXPECT_EQ(RARCloseArchive(h), 0);
}

TEST(UnrarHeader, BrokenHeaderCrcIsBadData)
{
    for (RarFormat f : {RarFormat::Rar4, RarFormat::Rar5}) {
        TempDir dir;
        fs::path arc = RarWriter(f).file("a.txt", "hello world\n").write(dir.path(), "b").front();
        std::string bytes = readFile(arc);
        size_t nameAt = bytes.find("a.txt");
        bytes[nameAt] = 'b'; // header CRC no longer matches
        writeFile(arc, bytes);
        Session s;
        ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
        Header h;
        EXPECT_EQ(s.readHeader(h), ERAR_BAD_DATA);
    }
}

} // namespace
