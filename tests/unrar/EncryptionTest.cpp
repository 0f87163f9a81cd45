// Encrypted archives through the C interface: the RAR-made samples give
// the results and password requests the genuine library gives, and our own
// encrypted fixtures (volumes, encrypted headers, solid streams, long and
// non-ASCII passwords) read back what was written.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>

#include "tests/support/Rar29Writer.h"
#include "tests/support/RarWriter.h"
#include "tests/unrar/Samples.h"
#include "tests/unrar/UnrarHarness.h"

using namespace unrar_test;
using tavrel::test::fillPattern;
using tavrel::test::Rar29Writer;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;
using tavrel::test::VolumeNaming;

namespace {

// Answers the wide request with nothing and the 8-bit one with the next
// password of `answers` (the last one repeats); null refuses.
void answerWith(Session& s, std::vector<const char*> answers)
{
    auto next = std::make_shared<size_t>(0);
    s.onMessage = [answers, next](unsigned msg, RAR_LPARAM p1, RAR_LPARAM p2) {
        if (msg != UCM_NEEDPASSWORD)
            return msg == UCM_NEEDPASSWORDW ? 0 : 1;
        const char* pw = answers[std::min(*next, answers.size() - 1)];
        ++*next;
        if (!pw)
            return -1;
        std::strncpy(reinterpret_cast<char*>(p1), pw, static_cast<size_t>(p2) - 1);
        return 1;
    };
}

// Tests every entry, answering the password requests with `password`.
Session::Walk testWith(Session& s, const fs::path& archive, const char* password)
{
    answerWith(s, {password});
    if (!s.openArchive(archive, RAR_OM_EXTRACT))
        return {};
    return s.walk(RAR_TEST);
}

size_t passwordRequests(const Session& s)
{
    size_t n = 0;
    for (unsigned k : s.messageKinds())
        n += k == UCM_NEEDPASSWORDW;
    return n;
}

struct SampleCase {
    const char* name;
    const char* file;
    std::vector<const char*> answers;
    unsigned openResult;    // with the callback in the open record
    std::vector<int> codes; // RAR_TEST of each entry
    int endCode;            // what stops the walk
    size_t requests;        // password requests in all
    unsigned flags;         // archive flags reported by the open
};

void PrintTo(const SampleCase& c, std::ostream* out) { *out << c.name; }

class UnrarEncryptedSamples : public ::testing::TestWithParam<SampleCase> {};

TEST_P(UnrarEncryptedSamples, GiveTheGenuineLibrarysResults)
{
    const SampleCase& c = GetParam();
    if (const std::string why = missingSample(c.file); !why.empty())
        GTEST_SKIP() << why;
    Session s;
    answerWith(s, c.answers);
    const bool opened = s.openArchive(samplePath(c.file), RAR_OM_EXTRACT);
    EXPECT_EQ(s.open.OpenResult, c.openResult);
    if (!opened) {
        EXPECT_TRUE(c.codes.empty());
        EXPECT_EQ(passwordRequests(s), c.requests);
        return;
    }
    EXPECT_EQ(s.open.Flags, c.flags);
    TempDir dir;
    auto w = s.walk(RAR_EXTRACT, dir / "out");
    EXPECT_EQ(w.processCodes, c.codes);
    EXPECT_EQ(w.endCode, c.endCode);
    EXPECT_EQ(passwordRequests(s), c.requests);
    // What was extracted is what the entries' checksums vouched for.
    uint64_t expected = 0;
    for (size_t i = 0; i < w.headers.size(); ++i)
        if (w.processCodes[i] == 0) {
            expected += w.headers[i].raw.UnpSize;
            EXPECT_EQ(fs::file_size(dir / "out" / w.headers[i].fileName), w.headers[i].raw.UnpSize);
        } else {
            EXPECT_FALSE(fs::exists(dir / "out" / w.headers[i].fileName)) << w.headers[i].fileName;
        }
    EXPECT_EQ(s.processedBytes, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, UnrarEncryptedSamples,
    ::testing::Values(
        // a.txt and c.txt in clear, b.txt under "password", d.txt under "password2".
        SampleCase{"Rar4FirstPassword", "rar4_encrypted.rar", {"password"}, 0, {0, 0, 0, ERAR_BAD_DATA}, 10, 1, 0},
        SampleCase{"Rar4SecondPassword", "rar4_encrypted.rar", {"password2"}, 0, {0, ERAR_BAD_DATA, 0, 0}, 10, 1, 0},
        SampleCase{"Rar4Refused", "rar4_encrypted.rar", {nullptr}, 0, {0, ERAR_MISSING_PASSWORD}, ERAR_BAD_DATA, 1, 0},
        // RAR 5.0 drops a password its check refutes and asks again.
        SampleCase{"Rar5FirstPassword",
                   "rar5_encrypted.rar",
                   {"password"},
                   0,
                   {0, 0, 0, ERAR_BAD_PASSWORD},
                   10,
                   1,
                   ROADF_NEWNUMBERING},
        SampleCase{"Rar5SecondPassword",
                   "rar5_encrypted.rar",
                   {"password2"},
                   0,
                   {0, ERAR_BAD_PASSWORD, 0, 0},
                   10,
                   2,
                   ROADF_NEWNUMBERING},
        SampleCase{"Rar5Refused",
                   "rar5_encrypted.rar",
                   {nullptr},
                   0,
                   {0, ERAR_MISSING_PASSWORD},
                   ERAR_END_ARCHIVE,
                   1,
                   ROADF_NEWNUMBERING},
        SampleCase{"Rar4HeadersRight", "rar_encryption_header.rar", {"12345678"}, 0, {0, 0}, 10, 1, ROADF_ENCHEADERS},
        SampleCase{
            "Rar4HeadersWrong", "rar_encryption_header.rar", {"nope"}, 0, {}, ERAR_BAD_DATA, 1, ROADF_ENCHEADERS},
        SampleCase{"Rar4HeadersRefused", "rar_encryption_header.rar", {nullptr}, ERAR_MISSING_PASSWORD, {}, 0, 1, 0},
        SampleCase{"Rar4HeadersEmpty", "rar_encryption_header.rar", {""}, ERAR_MISSING_PASSWORD, {}, 0, 1, 0},
        SampleCase{"Rar5HeadersRight",
                   "rar5_encrypted_filenames.rar",
                   {"password"},
                   0,
                   {0, 0, 0, 0},
                   10,
                   1,
                   ROADF_ENCHEADERS | ROADF_NEWNUMBERING},
        SampleCase{"Rar5HeadersWrong", "rar5_encrypted_filenames.rar", {"nope"}, ERAR_BAD_PASSWORD, {}, 0, 1, 0},
        SampleCase{
            "Rar5HeadersRefused", "rar5_encrypted_filenames.rar", {nullptr}, ERAR_MISSING_PASSWORD, {}, 0, 1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UnrarEncryptedSamples, ListingNeverAsksAndFlagsEveryEncryptedEntry)
{
    for (const char* file : {"rar4_encrypted.rar", "rar5_encrypted.rar"}) {
        if (const std::string why = missingSample(file); !why.empty())
            GTEST_SKIP() << why;
        SCOPED_TRACE(file);
        for (unsigned mode : {RAR_OM_LIST, RAR_OM_EXTRACT}) {
            Session s;
            answerWith(s, {"password"});
            ASSERT_TRUE(s.openArchive(samplePath(file), mode));
            auto w = s.walk(RAR_SKIP);
            ASSERT_EQ(w.headers.size(), 4u);
            for (size_t i = 0; i < 4; ++i)
                EXPECT_EQ(w.headers[i].raw.Flags & RHDF_ENCRYPTED, i % 2 ? unsigned(RHDF_ENCRYPTED) : 0u) << i;
            EXPECT_EQ(w.processCodes, std::vector<int>(4, 0));
            EXPECT_EQ(passwordRequests(s), 0u);
            // The checksum is reported as stored, a MAC where the entry keeps one.
            if (std::string(file) == "rar5_encrypted.rar") {
                EXPECT_EQ(w.headers[1].raw.FileCRC, 0x02A34518u);
            }
        }
    }
}

TEST(UnrarEncryptedSamples, AWidePasswordIsTakenWithoutTheNarrowRequest)
{
    if (const std::string why = missingSample("rar5_encrypted.rar"); !why.empty())
        GTEST_SKIP() << why;
    Session s;
    s.onMessage = [](unsigned msg, RAR_LPARAM p1, RAR_LPARAM) {
        if (msg == UCM_NEEDPASSWORDW)
            std::wcscpy(reinterpret_cast<wchar_t*>(p1), L"password");
        return 1;
    };
    ASSERT_TRUE(s.openArchive(samplePath("rar5_encrypted.rar"), RAR_OM_EXTRACT));
    auto w = s.walk(RAR_TEST);
    EXPECT_EQ(w.processCodes, (std::vector<int>{0, 0, 0, ERAR_BAD_PASSWORD}));
    EXPECT_EQ(s.messageKinds(), std::vector<unsigned>{UCM_NEEDPASSWORDW});
}

TEST(UnrarEncryptedSamples, HeadersWithALateCallbackOrAPasswordSetAfterTheOpen)
{
    for (const char* file : {"rar_encryption_header.rar", "rar5_encrypted_filenames.rar"}) {
        if (const std::string why = missingSample(file); !why.empty())
            GTEST_SKIP() << why;
        SCOPED_TRACE(file);
        const bool rar5 = std::string(file).find("rar5") != std::string::npos;
        const char* right = rar5 ? "password" : "12345678";
        {
            // A wrong answer at the first header read: RAR 5.0's check says
            // so; RAR 4.x's first header fails its CRC.
            Session s;
            ASSERT_TRUE(s.openArchive(samplePath(file), RAR_OM_LIST, false));
            EXPECT_EQ(s.open.Flags, unsigned(ROADF_ENCHEADERS));
            answerWith(s, {"wrong", right});
            s.setCallback();
            Header h;
            EXPECT_EQ(s.readHeader(h), rar5 ? ERAR_BAD_PASSWORD : ERAR_BAD_DATA);
            if (rar5) {
                // Asked again, and now right.
                EXPECT_EQ(s.readHeader(h), 0);
                EXPECT_EQ(passwordRequests(s), 2u);
            }
        }
        {
            Session s;
            ASSERT_TRUE(s.openArchive(samplePath(file), RAR_OM_EXTRACT, false));
            RARSetPassword(s.handle, const_cast<char*>(right));
            auto w = s.walk(RAR_TEST);
            EXPECT_EQ(w.endCode, ERAR_END_ARCHIVE);
            EXPECT_EQ(w.processCodes, std::vector<int>(w.headers.size(), 0));
            EXPECT_GE(w.headers.size(), 2u);
        }
        {
            // No callback and no password: the first read says what is missing.
            Session s;
            ASSERT_TRUE(s.openArchive(samplePath(file), RAR_OM_LIST, false));
            Header h;
            EXPECT_EQ(s.readHeader(h), ERAR_MISSING_PASSWORD);
        }
    }
}

// ---- Our own encrypted fixtures ----

std::string pattern(size_t size, uint64_t offset)
{
    std::string s(size, '\0');
    fillPattern(offset, std::span<char>(s.data(), s.size()));
    return s;
}

struct Fixture {
    std::vector<std::pair<std::string, std::string>> files; // as they must extract
    std::vector<fs::path> volumes;
};

// A small solid RAR 2.9 stream of two files, the second reaching back into the first.
Fixture rar4Solid(RarWriter& w)
{
    Rar29Writer z;
    const std::string first = "solid stream, first file; " + pattern(300, 1);
    z.lzBlock();
    z.literal(first);
    z.endOfFile(false);
    const std::string one = z.take();
    z.literal("second ");
    z.match(200, static_cast<uint32_t>(first.size() - 20 + 7));
    z.endOfFile(true);
    const std::string two = z.take();
    const std::string second = "second " + first.substr(20, 200);
    w.packedRar4("one.bin", one, first).encrypted();
    w.packedRar4("two.bin", two, second).encrypted();
    w.solid();
    return Fixture{{{"one.bin", first}, {"two.bin", second}}, {}};
}

struct FixtureCase {
    const char* name;
    RarFormat format;
    std::function<Fixture(RarWriter&)> fill; // adds entries and options
    std::string password;
    bool headers;  // encrypted headers
    int wrongCode; // the first encrypted entry (or header) with a wrong password
};

void PrintTo(const FixtureCase& c, std::ostream* out) { *out << c.name; }

Fixture mixedEntries(RarWriter& w)
{
    const std::string big = pattern(100000, 7);
    w.file("clear.txt", "in clear\n");
    w.file("secret.txt", "encrypted, 31 bytes long, odd.\n").encrypted();
    w.file("empty.txt", "").encrypted();
    w.file("block.bin", pattern(4096, 3)).encrypted();
    w.file("big.bin", big).encrypted();
    return Fixture{{{"clear.txt", "in clear\n"},
                    {"secret.txt", "encrypted, 31 bytes long, odd.\n"},
                    {"empty.txt", ""},
                    {"block.bin", pattern(4096, 3)},
                    {"big.bin", big}},
                   {}};
}

Fixture rar5Solid(RarWriter& w)
{
    const std::string a = pattern(30000, 11) + "tail of the first";
    const std::string b = "second: " + a.substr(1000, 20000);
    w.lzCompressed("a.bin", a).encrypted();
    w.lzCompressed("b.bin", b).encrypted();
    w.solid();
    return Fixture{{{"a.bin", a}, {"b.bin", b}}, {}};
}

class UnrarEncryptedFixtures : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(UnrarEncryptedFixtures, ExtractWithThePasswordAndFailWithAnother)
{
    const FixtureCase& c = GetParam();
    TempDir dir;
    RarWriter w(c.format);
    Fixture f = c.fill(w);
    w.password(c.password).encryptedHeaders(c.headers);
    const bool split = std::string(c.name).find("Volumes") != std::string::npos;
    if (split)
        w.volumes(3, c.format == RarFormat::Rar4 ? VolumeNaming::Old : VolumeNaming::New);
    f.volumes = w.write(dir.path(), "arc");
    {
        Session s;
        answerWith(s, {c.password.c_str()});
        ASSERT_TRUE(s.openArchive(f.volumes.front(), RAR_OM_EXTRACT)) << s.open.OpenResult;
        auto walk = s.walk(RAR_EXTRACT, dir / "out");
        EXPECT_EQ(walk.endCode, ERAR_END_ARCHIVE);
        ASSERT_EQ(walk.headers.size(), f.files.size());
        for (size_t i = 0; i < f.files.size(); ++i) {
            SCOPED_TRACE(f.files[i].first);
            EXPECT_EQ(walk.processCodes[i], 0);
            EXPECT_EQ(readFile(dir / "out" / f.files[i].first), f.files[i].second);
        }
        EXPECT_EQ(passwordRequests(s), 1u);
    }
    // A wrong password: RAR 4.x fails the CRCs (of the first header, when
    // encrypted); RAR 5.0 its check value. No file is left behind.
    Session s;
    answerWith(s, {"not the password"});
    const bool opened = s.openArchive(f.volumes.front(), RAR_OM_EXTRACT);
    if (c.headers && c.format == RarFormat::Rar5) {
        EXPECT_FALSE(opened);
        EXPECT_EQ(s.open.OpenResult, unsigned(ERAR_BAD_PASSWORD));
        return;
    }
    ASSERT_TRUE(opened);
    auto walk = s.walk(RAR_EXTRACT, dir / "wrong");
    if (c.headers) {
        EXPECT_TRUE(walk.headers.empty());
        EXPECT_EQ(walk.endCode, c.wrongCode);
    } else {
        bool sawEncrypted = false;
        for (size_t i = 0; i < walk.headers.size(); ++i) {
            if (!(walk.headers[i].raw.Flags & RHDF_ENCRYPTED))
                continue;
            // An empty entry has nothing a key could get wrong.
            if (walk.headers[i].raw.UnpSize == 0 && c.format == RarFormat::Rar4)
                continue;
            EXPECT_EQ(walk.processCodes[i], c.wrongCode) << walk.headers[i].fileName;
            sawEncrypted = true;
        }
        EXPECT_TRUE(sawEncrypted);
    }
    for (const auto& [name, data] : f.files)
        if (name != "clear.txt" && !(data.empty() && c.format == RarFormat::Rar4)) {
            EXPECT_FALSE(fs::exists(dir / "wrong" / name)) << name;
        }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, UnrarEncryptedFixtures,
    ::testing::Values(
        FixtureCase{"Rar4Entries", RarFormat::Rar4, mixedEntries, "secret", false, ERAR_BAD_DATA},
        FixtureCase{"Rar4Headers", RarFormat::Rar4, mixedEntries, "secret", true, ERAR_BAD_DATA},
        FixtureCase{"Rar4HeadersVolumes", RarFormat::Rar4, mixedEntries, "secret", true, ERAR_BAD_DATA},
        FixtureCase{"Rar4EntriesVolumes", RarFormat::Rar4, mixedEntries, "secret", false, ERAR_BAD_DATA},
        // 40 characters: the derivation hashes a buffer its SHA-1 rewrites.
        FixtureCase{"Rar4LongPassword", RarFormat::Rar4, mixedEntries, std::string(40, 'L'), true, ERAR_BAD_DATA},
        FixtureCase{"Rar4NonAscii", RarFormat::Rar4, mixedEntries, "p\xc3\xa4ss\xe2\x82\xac", false, ERAR_BAD_DATA},
        FixtureCase{"Rar4Solid", RarFormat::Rar4, rar4Solid, "secret", true, ERAR_BAD_DATA},
        FixtureCase{"Rar5Entries", RarFormat::Rar5, mixedEntries, "secret", false, ERAR_BAD_PASSWORD},
        FixtureCase{"Rar5Headers", RarFormat::Rar5, mixedEntries, "secret", true, ERAR_BAD_PASSWORD},
        FixtureCase{"Rar5HeadersVolumes", RarFormat::Rar5, mixedEntries, "secret", true, ERAR_BAD_PASSWORD},
        FixtureCase{"Rar5EntriesVolumes", RarFormat::Rar5, mixedEntries, "secret", false, ERAR_BAD_PASSWORD},
        FixtureCase{"Rar5NonAscii", RarFormat::Rar5, mixedEntries, "p\xc3\xa4ss\xe2\x82\xac", false, ERAR_BAD_PASSWORD},
        FixtureCase{"Rar5Solid", RarFormat::Rar5, rar5Solid, "secret", false, ERAR_BAD_PASSWORD},
        FixtureCase{"Rar5SolidHeaders", RarFormat::Rar5, rar5Solid, "secret", true, ERAR_BAD_PASSWORD}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UnrarEncryptedFixtures, ChecksumsStoredAsMacsOrPlain)
{
    for (bool macs : {true, false}) {
        TempDir dir;
        const fs::path arc = RarWriter(RarFormat::Rar5)
                                 .file("a.txt", "hello")
                                 .encrypted()
                                 .password("pw", macs)
                                 .write(dir.path(), "m")
                                 .front();
        Session s;
        auto w = testWith(s, arc, "pw");
        EXPECT_EQ(w.processCodes, std::vector<int>{0}) << macs;
        // The header reports the stored value: the MAC, or the plain CRC-32.
        EXPECT_EQ(w.headers[0].raw.FileCRC == 0x3610A686u, !macs);
    }
}

TEST(UnrarEncryptedFixtures, PasswordsAreCutTo127Characters)
{
    for (RarFormat format : {RarFormat::Rar4, RarFormat::Rar5}) {
        TempDir dir;
        const std::string prefix(127, 'k');
        const fs::path arc =
            RarWriter(format).file("a.txt", "long").encrypted().password(prefix).write(dir.path(), "l").front();
        Session s;
        const std::string longer = prefix + std::string(73, 'z');
        EXPECT_EQ(testWith(s, arc, longer.c_str()).processCodes, std::vector<int>{0});
    }
}

TEST(UnrarEncryptedFixtures, AnIterationCountBeyondTheCapIsAnUnknownMethod)
{
    TempDir dir;
    const fs::path arc = RarWriter(RarFormat::Rar5)
                             .file("a.txt", "costly")
                             .encrypted()
                             .password("pw", true, 25)
                             .file("b.txt", "clear")
                             .write(dir.path(), "k")
                             .front();
    Session s;
    auto w = testWith(s, arc, "pw");
    ASSERT_EQ(w.headers.size(), 2u);
    EXPECT_EQ(w.headers[0].raw.Flags & RHDF_ENCRYPTED, 0u);
    EXPECT_EQ(w.processCodes, (std::vector<int>{ERAR_BAD_DATA, 0}));
    EXPECT_EQ(passwordRequests(s), 0u);
}

TEST(UnrarEncryptedFixtures, ASkippedSolidEntryIsStillDecryptedForTheNext)
{
    for (RarFormat format : {RarFormat::Rar4, RarFormat::Rar5}) {
        TempDir dir;
        RarWriter w(format);
        Fixture f = format == RarFormat::Rar4 ? rar4Solid(w) : rar5Solid(w);
        const fs::path arc = w.password("secret").write(dir.path(), "s").front();
        Session s;
        answerWith(s, {"secret"});
        ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
        Header h;
        ASSERT_EQ(s.readHeader(h), 0);
        EXPECT_EQ(s.process(RAR_SKIP), 0);
        ASSERT_EQ(s.readHeader(h), 0);
        EXPECT_EQ(s.process(RAR_EXTRACT, dir / "out"), 0);
        EXPECT_EQ(readFile(dir / "out" / f.files[1].first), f.files[1].second);
    }
}

} // namespace
