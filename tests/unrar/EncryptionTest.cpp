// Encrypted archives through the C interface: the RAR-made samples give
// the results and password requests the genuine library gives, and our own
// encrypted fixtures (volumes, encrypted headers, solid streams, long and
// non-ASCII passwords) read back what was written.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/RarWriter.h"
#include "tests/unrar/Samples.h"
#include "tests/unrar/UnrarHarness.h"

using namespace unrar_test;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;

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

} // namespace
