// Opening archives: results, archive flags, comments, encrypted headers.
#include <gtest/gtest.h>

#include "tests/support/RarWriter.h"
#include "tests/unrar/UnrarHarness.h"

using namespace unrar_test;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;
using tavrel::test::VolumeNaming;

namespace {

const std::string kComment = "Archive comment text";

TEST(UnrarOpen, ReportsInterfaceVersionNine) { EXPECT_EQ(RARGetDllVersion(), 9); }

struct BadFileCase {
    const char* name;
    std::function<fs::path(const TempDir&)> make;
    unsigned expected;
};

class UnrarOpenFailure : public ::testing::TestWithParam<BadFileCase> {};

TEST_P(UnrarOpenFailure, GivesNoHandleAndTheCode)
{
    TempDir dir;
    Session s;
    EXPECT_FALSE(s.openArchive(GetParam().make(dir), RAR_OM_EXTRACT));
    EXPECT_EQ(s.open.OpenResult, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, UnrarOpenFailure,
    ::testing::Values(BadFileCase{"Missing", [](const TempDir& d) { return d / "none.rar"; }, ERAR_EOPEN},
                      BadFileCase{"Empty",
                                  [](const TempDir& d) {
                                      writeFile(d / "e.rar", "");
                                      return d / "e.rar";
                                  },
                                  ERAR_BAD_ARCHIVE},
                      BadFileCase{"PlainText",
                                  [](const TempDir& d) {
                                      writeFile(d / "t.rar", "just some text\n");
                                      return d / "t.rar";
                                  },
                                  ERAR_BAD_ARCHIVE},
                      BadFileCase{"Folder",
                                  [](const TempDir& d) {
                                      fs::create_directory(d / "f.rar");
                                      return d / "f.rar";
                                  },
                                  ERAR_EREAD},
                      BadFileCase{"SignatureThenGarbage",
                                  [](const TempDir& d) {
                                      writeFile(d / "g.rar",
                                                std::string("Rar!\x1A\x07\x01\x00", 8) + std::string(40, '\xEE'));
                                      return d / "g.rar";
                                  },
                                  ERAR_EREAD},
                      BadFileCase{"TruncatedMainHeader",
                                  [](const TempDir& d) {
                                      writeFile(d / "h.rar", std::string("Rar!\x1A\x07\x00\xCF\x90\x73", 10));
                                      return d / "h.rar";
                                  },
                                  ERAR_EREAD},
                      BadFileCase{"NewerFormat",
                                  [](const TempDir& d) {
                                      writeFile(d / "n.rar",
                                                std::string("Rar!\x1A\x07\x02\x00", 8) + std::string(40, '\0'));
                                      return d / "n.rar";
                                  },
                                  ERAR_UNKNOWN_FORMAT}),
    [](const auto& info) { return std::string(info.param.name); });

struct FlagsCase {
    const char* name;
    std::function<fs::path(const TempDir&)> make;
    unsigned expected;
};

class UnrarArchiveFlags : public ::testing::TestWithParam<FlagsCase> {};

TEST_P(UnrarArchiveFlags, AreReportedOnOpen)
{
    TempDir dir;
    Session s;
    ASSERT_TRUE(s.openArchive(GetParam().make(dir), RAR_OM_LIST, false)) << s.open.OpenResult;
    EXPECT_EQ(s.open.Flags, GetParam().expected);
}

fs::path build(const TempDir& d, RarWriter w, int volume = 0)
{
    return w.write(d.path(), "a").at(static_cast<size_t>(volume));
}

RarWriter plain(RarFormat f) { return std::move(RarWriter(f).file("a.txt", "hello world\n")); }
RarWriter split(RarFormat f, VolumeNaming n = VolumeNaming::New)
{
    return std::move(RarWriter(f).file("big.bin", std::string(3000, 'x')).volumes(3, n));
}

INSTANTIATE_TEST_SUITE_P(
    Archives, UnrarArchiveFlags,
    ::testing::Values(
        FlagsCase{"Rar5Plain", [](const TempDir& d) { return build(d, plain(RarFormat::Rar5)); }, ROADF_NEWNUMBERING},
        FlagsCase{"Rar4Plain", [](const TempDir& d) { return build(d, plain(RarFormat::Rar4)); }, 0},
        FlagsCase{"Rar5FirstVolume", [](const TempDir& d) { return build(d, split(RarFormat::Rar5)); }, 0x111},
        FlagsCase{"Rar5LaterVolume", [](const TempDir& d) { return build(d, split(RarFormat::Rar5), 1); }, 0x011},
        FlagsCase{"Rar4FirstVolume", [](const TempDir& d) { return build(d, split(RarFormat::Rar4)); }, 0x111},
        FlagsCase{"Rar4LaterVolume", [](const TempDir& d) { return build(d, split(RarFormat::Rar4), 2); }, 0x011},
        FlagsCase{"Rar4OldNamingFirstVolume",
                  [](const TempDir& d) { return build(d, split(RarFormat::Rar4, VolumeNaming::Old)); }, 0x101},
        FlagsCase{"Rar5SolidLocked",
                  [](const TempDir& d) { return build(d, std::move(plain(RarFormat::Rar5).solid().locked())); },
                  ROADF_NEWNUMBERING | ROADF_SOLID | ROADF_LOCK},
        FlagsCase{"Rar4SolidLocked",
                  [](const TempDir& d) { return build(d, std::move(plain(RarFormat::Rar4).solid().locked())); },
                  ROADF_SOLID | ROADF_LOCK},
        FlagsCase{"Rar5Comment",
                  [](const TempDir& d) { return build(d, std::move(plain(RarFormat::Rar5).comment(kComment))); },
                  ROADF_NEWNUMBERING | ROADF_COMMENT},
        FlagsCase{"Rar4Comment",
                  [](const TempDir& d) { return build(d, std::move(plain(RarFormat::Rar4).comment(kComment))); },
                  ROADF_COMMENT},
        FlagsCase{"Rar5EncryptedHeaders",
                  [](const TempDir& d) { return build(d, std::move(plain(RarFormat::Rar5).encryptedHeaders())); },
                  ROADF_NEWNUMBERING | ROADF_ENCHEADERS},
        FlagsCase{"Rar4EncryptedHeaders",
                  [](const TempDir& d) { return build(d, std::move(plain(RarFormat::Rar4).encryptedHeaders())); },
                  ROADF_ENCHEADERS}),
    [](const auto& info) { return std::string(info.param.name); });

struct CommentCase {
    const char* name;
    RarFormat format;
    std::string text;
    unsigned bufSize;
    unsigned state;
    unsigned size;
    std::string expected;
};

class UnrarComment : public ::testing::TestWithParam<CommentCase> {};

TEST_P(UnrarComment, FillsTheBufferAndState)
{
    const CommentCase& c = GetParam();
    TempDir dir;
    RarWriter w = plain(c.format);
    if (!c.text.empty())
        w.comment(c.text);
    Session s;
    ASSERT_TRUE(s.openArchive(build(dir, w), RAR_OM_LIST, true, c.bufSize));
    EXPECT_EQ(s.open.CmtState, c.state);
    EXPECT_EQ(s.open.CmtSize, c.size);
    if (c.bufSize) {
        EXPECT_EQ(std::string(s.comment.data()), c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, UnrarComment,
    ::testing::Values(CommentCase{"Rar5Fits", RarFormat::Rar5, kComment, 64, 1, 21, kComment},
                      CommentCase{"Rar4Fits", RarFormat::Rar4, kComment, 64, 1, 21, kComment},
                      CommentCase{"ExactFit", RarFormat::Rar5, kComment, 21, 1, 21, kComment},
                      CommentCase{"Rar5TooSmall", RarFormat::Rar5, kComment, 8, ERAR_SMALL_BUF, 8, "Archive"},
                      CommentCase{"Rar4TooSmall", RarFormat::Rar4, kComment, 8, ERAR_SMALL_BUF, 8, "Archive"},
                      CommentCase{"NoBuffer", RarFormat::Rar5, kComment, 0, 0, 0, ""},
                      CommentCase{"NoComment", RarFormat::Rar4, "", 64, 0, 0, ""},
                      CommentCase{"Utf8Text", RarFormat::Rar5, "Версия 2", 64, 1, 15, "Версия 2"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UnrarComment, WideBufferGetsTheTextInWideCharacters)
{
    TempDir dir;
    Session s;
    std::vector<wchar_t> wide(64, L'#');
    s.open = {};
    std::string name = build(dir, std::move(plain(RarFormat::Rar5).comment("Версия"))).string();
    s.open.ArcName = name.data();
    s.open.CmtBufW = wide.data();
    s.open.CmtBufSize = 64;
    s.handle = RAROpenArchiveEx(&s.open);
    ASSERT_NE(s.handle, nullptr);
    EXPECT_EQ(s.open.CmtState, 1u);
    EXPECT_EQ(s.open.CmtSize, 7u);
    EXPECT_EQ(std::wstring(wide.data()), L"Версия");
}

TEST(UnrarOpen, FindsTheArchiveAfterAnExecutableStub)
{
    for (RarFormat f : {RarFormat::Rar4, RarFormat::Rar5}) {
        TempDir dir;
        // Past 64 KB, where also libarchive looks for it.
        std::string stub = "MZ" + std::string(0x10000 + 0x100 - 2, '\0');
        fs::path sfx = build(dir, std::move(plain(f).sfxStub(stub)));
        Session s;
        ASSERT_TRUE(s.openArchive(sfx, RAR_OM_EXTRACT)) << s.open.OpenResult;
        auto w = s.walk(RAR_TEST);
        EXPECT_EQ(names(w), std::vector<std::string>{"a.txt"});
        EXPECT_EQ(w.processCodes, std::vector<int>{0});
        EXPECT_EQ(w.endCode, ERAR_END_ARCHIVE);
        EXPECT_EQ(std::system(("bsdtar -tf " + sfx.string() + " >/dev/null 2>&1").c_str()), 0);
    }
}

struct PasswordAnswerCase {
    const char* name;
    int answer;           // to both password messages
    const char* password; // written into the 8-bit buffer when not null
    unsigned openResult;  // with the callback given at open
};

class UnrarEncryptedHeaders : public ::testing::TestWithParam<PasswordAnswerCase> {};

TEST_P(UnrarEncryptedHeaders, AskForThePasswordDuringOpen)
{
    const auto& c = GetParam();
    for (RarFormat f : {RarFormat::Rar4, RarFormat::Rar5}) {
        TempDir dir;
        Session s;
        s.onMessage = [&](unsigned msg, RAR_LPARAM p1, RAR_LPARAM) {
            if (msg == UCM_NEEDPASSWORD && c.password)
                std::strcpy(reinterpret_cast<char*>(p1), c.password);
            return c.answer;
        };
        EXPECT_FALSE(s.openArchive(build(dir, std::move(plain(f).encryptedHeaders())), RAR_OM_EXTRACT));
        EXPECT_EQ(s.open.OpenResult, c.openResult);
        std::vector<unsigned> asked = c.answer == -1 ? std::vector<unsigned>{UCM_NEEDPASSWORDW}
                                                     : std::vector<unsigned>{UCM_NEEDPASSWORDW, UCM_NEEDPASSWORD};
        EXPECT_EQ(s.messageKinds(), asked);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, UnrarEncryptedHeaders,
                         ::testing::Values(PasswordAnswerCase{"Cancelled", -1, nullptr, ERAR_MISSING_PASSWORD},
                                           PasswordAnswerCase{"LeftEmpty", 1, nullptr, ERAR_MISSING_PASSWORD},
                                           PasswordAnswerCase{"Given", 1, "secret", ERAR_UNKNOWN_FORMAT}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UnrarEncryptedHeaders, WithALateCallbackOpenAndAskAtTheFirstHeader)
{
    TempDir dir;
    Session s;
    s.onMessage = [](unsigned, RAR_LPARAM, RAR_LPARAM) { return -1; };
    ASSERT_TRUE(s.openArchive(build(dir, std::move(plain(RarFormat::Rar5).encryptedHeaders())), RAR_OM_LIST, false));
    EXPECT_EQ(s.open.Flags & ROADF_ENCHEADERS, unsigned(ROADF_ENCHEADERS));
    s.setCallback();
    Header h;
    EXPECT_EQ(s.readHeader(h), ERAR_MISSING_PASSWORD);
    EXPECT_EQ(s.messageKinds(), std::vector<unsigned>{UCM_NEEDPASSWORDW});
}

} // namespace
