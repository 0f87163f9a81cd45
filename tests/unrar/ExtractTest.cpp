// Testing and extracting entries: destinations, replacing, damage, data
// callbacks, cancelling and encrypted entries.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include "tests/support/RarWriter.h"
#include "tests/unrar/UnrarHarness.h"
#include "unrar/src/Blake2sp.h"

using namespace unrar_test;
using tavrel::test::fillPattern;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;

namespace {

class UnrarExtract : public ::testing::TestWithParam<RarFormat> {
protected:
    fs::path sample()
    {
        return RarWriter(GetParam())
            .directory("docs")
            .file("a.txt", "hello world\n")
            .file("docs/sub/b.txt", "bee")
            .file("empty", "")
            .file("tool.sh", "#!/bin/sh\n")
            .unixHost(0100750)
            .write(dir.path(), "s")
            .front();
    }
    TempDir dir;
};

TEST_P(UnrarExtract, WritesEveryEntryBelowTheDestination)
{
    Session s;
    ASSERT_TRUE(s.openArchive(sample(), RAR_OM_EXTRACT));
    fs::path out = dir / "out";
    auto w = s.walk(RAR_EXTRACT, out);
    EXPECT_EQ(w.endCode, ERAR_END_ARCHIVE);
    EXPECT_EQ(w.processCodes, std::vector<int>(5, 0));
    EXPECT_TRUE(fs::is_directory(out / "docs"));
    EXPECT_EQ(readFile(out / "a.txt"), "hello world\n");
    EXPECT_EQ(readFile(out / "docs/sub/b.txt"), "bee");
    EXPECT_TRUE(fs::exists(out / "empty"));
    EXPECT_EQ(fs::file_size(out / "empty"), 0u);
#ifndef _WIN32 // Unix modes have no Windows counterpart
    struct stat st;
    ASSERT_EQ(::stat((out / "tool.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    ASSERT_EQ(::stat((out / "a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 0x66472F6E);
#endif
    EXPECT_EQ(s.processedBytes, 12u + 3 + 10);
    // Only the entries land there: no temporary file is left behind.
    size_t count = 0;
    for (auto it = fs::recursive_directory_iterator(out); it != fs::recursive_directory_iterator(); ++it)
        ++count;
    EXPECT_EQ(count, 6u);
}

TEST_P(UnrarExtract, TestReadsEveryEntryAndWritesNothing)
{
    fs::path arc = sample();
    fs::current_path(dir.path());
    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    auto w = s.walk(RAR_TEST);
    EXPECT_EQ(w.processCodes, std::vector<int>(5, 0));
    EXPECT_EQ(s.processedBytes, 25u);
    EXPECT_FALSE(fs::exists(dir / "a.txt"));
}

TEST_P(UnrarExtract, ListModeOnlySkips)
{
    Session s;
    ASSERT_TRUE(s.openArchive(sample(), RAR_OM_LIST));
    auto w = s.walk(RAR_EXTRACT, dir / "out");
    EXPECT_EQ(w.processCodes, std::vector<int>(5, 0));
    EXPECT_EQ(s.processedBytes, 0u);
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST_P(UnrarExtract, HeadersReadWithoutProcessingStillMoveOn)
{
    Session s;
    ASSERT_TRUE(s.openArchive(sample(), RAR_OM_EXTRACT));
    Header h;
    std::vector<std::string> seen;
    while (s.readHeader(h) == 0)
        seen.push_back(h.fileName);
    EXPECT_EQ(seen, (std::vector<std::string>{"docs", "a.txt", "docs/sub/b.txt", "empty", "tool.sh"}));
}

TEST_P(UnrarExtract, ExactFileNameReplacesAnExistingFile)
{
    fs::path arc = sample();
    fs::path target = dir / "elsewhere/renamed.txt";
    fs::create_directories(target.parent_path());
    writeFile(target, "old content that is longer");
    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    Header h;
    ASSERT_EQ(s.readHeader(h), 0);
    ASSERT_EQ(s.process(RAR_SKIP), 0);
    ASSERT_EQ(s.readHeader(h), 0);
    EXPECT_EQ(s.process(RAR_EXTRACT, {}, target), 0);
    EXPECT_EQ(readFile(target), "hello world\n");
    ASSERT_EQ(s.readHeader(h), 0);
    EXPECT_EQ(h.fileName, "docs/sub/b.txt");
}

TEST_P(UnrarExtract, WrongCrcFailsAndKeepsTheGoodFile)
{
    fs::path arc =
        RarWriter(GetParam()).file("a.txt", "new data").wrongCrc().file("b.txt", "b").write(dir.path(), "c").front();
    fs::path out = dir / "out";
    fs::create_directories(out);
    writeFile(out / "a.txt", "good");
    for (int op : {RAR_TEST, RAR_EXTRACT}) {
        Session s;
        ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
        auto w = s.walk(op, out);
        EXPECT_EQ(w.processCodes, (std::vector<int>{ERAR_BAD_DATA, 0}));
    }
    EXPECT_EQ(readFile(out / "a.txt"), "good");
    EXPECT_EQ(readFile(out / "b.txt"), "b");
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 2);
}

// ROADOF_KEEPBROKEN: the file stays for the application to inspect, and
// the failure is still reported.
TEST_P(UnrarExtract, BrokenFileIsKeptOnlyWhenTheApplicationAsks)
{
    fs::path arc =
        RarWriter(GetParam()).file("a.txt", "new data").wrongCrc().file("b.txt", "b").write(dir.path(), "c").front();
    for (unsigned flags : {0u, unsigned(ROADOF_KEEPBROKEN)}) {
        const fs::path out = dir / ("out" + std::to_string(flags));
        Session s;
        s.opFlags = flags;
        ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
        auto w = s.walk(RAR_EXTRACT, out);
        EXPECT_EQ(w.processCodes, (std::vector<int>{ERAR_BAD_DATA, 0}));
        EXPECT_EQ(fs::exists(out / "a.txt"), flags != 0);
        if (flags) {
            EXPECT_EQ(readFile(out / "a.txt"), "new data");
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), flags ? 2 : 1);
    }
}

// A stored entry protected by BLAKE2sp alone is checked like a compressed one.
TEST(UnrarStoredEntry, IsCheckedAgainstItsBlake2spDigest)
{
    const std::string data = "stored, with a BLAKE2sp digest and no CRC-32\n";
    unrar::Blake2sp hash;
    hash.update(data.data(), data.size());
    const auto digest = hash.finish();
    const std::string right(digest.begin(), digest.end());
    std::string wrong = right;
    wrong[31] = static_cast<char>(wrong[31] ^ 1);
    TempDir dir;
    for (const std::string& stored : {right, wrong}) {
        const bool good = stored == right;
        const fs::path arc =
            RarWriter(RarFormat::Rar5).file("a.txt", data).blake2(stored).write(dir.path(), "b").front();
        const fs::path out = dir / (good ? "good" : "bad");
        for (int op : {RAR_TEST, RAR_EXTRACT}) {
            Session s;
            ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
            EXPECT_EQ(s.walk(op, out).processCodes, std::vector<int>{good ? 0 : ERAR_BAD_DATA}) << good;
        }
        EXPECT_EQ(fs::exists(out / "a.txt"), good);
    }
}

TEST_P(UnrarExtract, CancelInTheDataCallbackStopsTheEntry)
{
    fs::path arc = sample();
    Session s;
    s.onMessage = [](unsigned msg, RAR_LPARAM, RAR_LPARAM) { return msg == UCM_PROCESSDATA ? -1 : 1; };
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    Header h;
    ASSERT_EQ(s.readHeader(h), 0);
    ASSERT_EQ(s.process(RAR_EXTRACT, dir / "out"), 0); // a folder sends no data
    ASSERT_EQ(s.readHeader(h), 0);
    EXPECT_EQ(s.process(RAR_EXTRACT, dir / "out"), ERAR_UNKNOWN);
    EXPECT_FALSE(fs::exists(dir / "out/a.txt"));
}

TEST_P(UnrarExtract, FileThatCannotBeCreatedIsECreate)
{
    fs::path arc = sample();
    writeFile(dir / "plain", "a file, not a folder");
    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    Header h;
    ASSERT_EQ(s.readHeader(h), 0);
    ASSERT_EQ(s.process(RAR_SKIP), 0);
    ASSERT_EQ(s.readHeader(h), 0);
    EXPECT_EQ(s.process(RAR_EXTRACT, {}, dir / "plain/inside.txt"), ERAR_ECREATE);
    ASSERT_EQ(s.readHeader(h), 0); // and the walk goes on
    EXPECT_EQ(h.fileName, "docs/sub/b.txt");
}

TEST_P(UnrarExtract, DamagedPackedDataFailsWithoutTouchingTheFile)
{
    // Not a valid compressed stream: the decoder must refuse it cleanly.
    fs::path arc = RarWriter(GetParam())
                       .file("packed.bin", std::string(5000, '\x5A'))
                       .packedWith(3)
                       .claimSize(20000)
                       .file("after.txt", "after")
                       .write(dir.path(), "packed")
                       .front();
    fs::path out = dir / "out";
    fs::create_directories(out);
    writeFile(out / "packed.bin", "good");
    for (int op : {RAR_TEST, RAR_EXTRACT}) {
        Session s;
        ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
        auto w = s.walk(op, out);
        ASSERT_EQ(names(w), (std::vector<std::string>{"packed.bin", "after.txt"}));
        EXPECT_EQ(w.headers[0].raw.Method, 0x33u);
        EXPECT_EQ(w.processCodes, (std::vector<int>{ERAR_BAD_DATA, 0}));
    }
    EXPECT_EQ(readFile(out / "packed.bin"), "good");
    EXPECT_EQ(readFile(out / "after.txt"), "after");
}

TEST_P(UnrarExtract, LargeEntryStreamsInBoundedBlocks)
{
    const uint64_t size = 40 * 1024 * 1024 + 123;
    fs::path arc = RarWriter(GetParam()).generated("big.bin", size, fillPattern).write(dir.path(), "g").front();
    Session s;
    size_t largest = 0;
    s.onMessage = [&](unsigned msg, RAR_LPARAM, RAR_LPARAM p2) {
        if (msg == UCM_PROCESSDATA)
            largest = std::max(largest, static_cast<size_t>(p2));
        return 1;
    };
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    auto w = s.walk(RAR_EXTRACT, dir / "out");
    EXPECT_EQ(w.processCodes, std::vector<int>{0});
    EXPECT_EQ(s.processedBytes, size);
    EXPECT_LE(largest, 4u << 20);
    EXPECT_EQ(fs::file_size(dir / "out/big.bin"), size);
    std::vector<char> expected(1 << 20);
    std::string got = readFile(dir / "out/big.bin");
    fillPattern(size - expected.size(), expected);
    EXPECT_EQ(got.compare(size - expected.size(), expected.size(), expected.data(), expected.size()), 0);
}

struct PasswordCase {
    const char* name;
    int answer;
    const char* password;
    int firstCode;
};

class UnrarEncryptedEntry : public ::testing::TestWithParam<std::tuple<RarFormat, PasswordCase>> {};

TEST_P(UnrarEncryptedEntry, AsksOnceAndFailsTheEntry)
{
    auto [format, c] = GetParam();
    TempDir dir;
    fs::path arc = RarWriter(format)
                       .file("a.txt", "secret data")
                       .encrypted()
                       .file("b.txt", "other secret")
                       .encrypted()
                       .write(dir.path(), "p")
                       .front();
    Session s;
    s.onMessage = [&](unsigned msg, RAR_LPARAM p1, RAR_LPARAM) {
        if (msg == UCM_NEEDPASSWORD && c.password)
            std::strcpy(reinterpret_cast<char*>(p1), c.password);
        return c.answer;
    };
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    Header h;
    ASSERT_EQ(s.readHeader(h), 0);
    EXPECT_EQ(s.process(RAR_TEST), c.firstCode);
    int next = s.readHeader(h);
    if (c.firstCode == ERAR_MISSING_PASSWORD) {
        // A refused password finishes the handle, as with the genuine library.
        EXPECT_EQ(next, format == RarFormat::Rar4 ? ERAR_BAD_DATA : ERAR_END_ARCHIVE);
    } else {
        ASSERT_EQ(next, 0);
        EXPECT_EQ(s.process(RAR_TEST), c.firstCode);
    }
    size_t asks = 0;
    for (unsigned k : s.messageKinds())
        asks += k == UCM_NEEDPASSWORDW;
    EXPECT_EQ(asks, 1u);
    EXPECT_EQ(s.processedBytes, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, UnrarEncryptedEntry,
    ::testing::Combine(::testing::Values(RarFormat::Rar4, RarFormat::Rar5),
                       ::testing::Values(PasswordCase{"Refused", -1, nullptr, ERAR_MISSING_PASSWORD},
                                         PasswordCase{"Empty", 1, nullptr, ERAR_MISSING_PASSWORD},
                                         // The data is not whole AES blocks: damage, found before any output.
                                         PasswordCase{"Given", 1, "pw", ERAR_BAD_DATA})),
    [](const auto& info) {
        return std::string(std::get<0>(info.param) == RarFormat::Rar4 ? "Rar4" : "Rar5") + std::get<1>(info.param).name;
    });

INSTANTIATE_TEST_SUITE_P(Formats, UnrarExtract, ::testing::Values(RarFormat::Rar4, RarFormat::Rar5),
                         [](const auto& info) { return info.param == RarFormat::Rar4 ? "Rar4" : "Rar5"; });

} // namespace
