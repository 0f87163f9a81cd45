// Accounting of listed headers into the archive information, and the
// component's answers to the library's callback messages.
#include "ComponentFixture.h"

#include "platform/TextCodec.h"

#include <cstdint>
#include <filesystem>

namespace {

using Log = scripted::Log;
namespace fs = std::filesystem;
using When = scripted::Request::When;

scripted::Entry with(scripted::Entry e, unsigned flags, unsigned attr = 0x20)
{
    e.flags = flags;
    e.attr = attr;
    return e;
}

scripted::Entry part(unsigned flags, unsigned packSize)
{
    scripted::Entry e = fileEntry("big.bin");
    e.flags = flags;
    e.packSize = packSize;
    e.unpSize = 1000;
    return e;
}

class Accounting : public ComponentFixture {
protected:
    const TRARArchiveInformation& info() const { return rar.ArchiveInformation(); }
    std::vector<TRARFileItem> items;
    void SetUp() override
    {
        rar.OnListFile = [this](TRAR&, const TRARFileItem& item) { items.push_back(item); };
    }
};

TEST_F(Accounting, ArchiveFlagsCommentAndTotals)
{
    scripted::Entry a = fileEntry("a.txt", "hello");
    a.unpVer = 29;
    a.hostOS = 3;
    scripted::Entry b = fileEntry("dir/b.txt", "longer text");
    b.unpVer = 20;
    b.cmtSize = 4;
    b.flags = RHDF_ENCRYPTED;
    library.play({.archiveFlags = 0x04 | 0x20 | 0x40 | 0x80,
                  .cmtState = 1,
                  .comment = "Archive comment text",
                  .entries = {a, b, folderEntry("dir")}});
    EXPECT_TRUE(rar.OpenFile(platform::ansiToUtf16(archive)));

    EXPECT_EQ(info().FileName(), archive);
    EXPECT_EQ(info().ArchiverMajorVersion(), 2u); // 29 then 20: never goes down
    EXPECT_EQ(info().ArchiverMinorVersion(), 9u);
    EXPECT_EQ(info().TotalFiles(), 2); // the folder is not a file
    EXPECT_EQ(info().CompressedSize(), 16);
    EXPECT_EQ(info().UnCompressedSize(), 16);
    EXPECT_EQ(info().HostOS(), u"Windows"); // of the last entry
    EXPECT_TRUE(info().Encryption());
    EXPECT_TRUE(info().FileComment());
    EXPECT_TRUE(info().ArchiveComment());
    EXPECT_EQ(info().Comment(), "Archive comment text");
    EXPECT_TRUE(info().Locked());
    EXPECT_TRUE(info().Signed());
    EXPECT_TRUE(info().Recovery());
    EXPECT_TRUE(info().HeaderEncrypted());
    EXPECT_FALSE(info().Solid());
    EXPECT_FALSE(info().MultiVolume());
    EXPECT_FALSE(info().SFX());
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].HostOS, u"Unix");
    EXPECT_EQ(items[1].FileNameW, u"dir/b.txt");
    EXPECT_TRUE(items[1].Encrypted);
    EXPECT_EQ(items[1].ArchiverVersion, 20u);
    EXPECT_EQ(items[1].CompressionStrength, 0x30u);
    EXPECT_DOUBLE_EQ(items[1].Time, 45429 + (10 * 3600 + 20 * 60 + 30) / 86400.0);
    EXPECT_TRUE(items[1].Comment.empty());

    // A second OpenFile starts from nothing.
    library.play({.entries = {fileEntry("c.txt")}});
    EXPECT_TRUE(rar.OpenFile(platform::ansiToUtf16(archive)));
    EXPECT_EQ(info().TotalFiles(), 1);
    EXPECT_FALSE(info().ArchiveComment());
    EXPECT_FALSE(info().Locked());
}

TEST_F(Accounting, CrcTextHostNamesAndSolid)
{
    struct Row {
        unsigned crc;
        unsigned hostOS;
        const char16_t* crcText;
        const char16_t* host;
    } rows[] = {{0xABCD, 0, u"ABCD", u"DOS"}, {0x8000000F, 1, u"8000000F", u"IBM OS/2"}, {0, 7, u"0", u"unknown"}};
    scripted::Script script;
    for (const Row& r : rows) {
        scripted::Entry e = fileEntry("f");
        e.crc = r.crc;
        e.hostOS = r.hostOS;
        script.entries.push_back(e);
    }
    script.entries.back().flags = RHDF_SOLID;
    library.play(script);
    rar.OpenFile(platform::ansiToUtf16(archive));
    ASSERT_EQ(items.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(items[i].CRC32, rows[i].crcText);
        EXPECT_EQ(items[i].HostOS, rows[i].host);
    }
    EXPECT_TRUE(info().Solid());
}

// Folder entries: RHDF_DIRECTORY as current libraries report it, or the
// folder attribute 16 alone. Solid or large-dictionary files are not folders.
TEST_F(Accounting, FolderEntriesAndDictionarySize)
{
    struct Row {
        const char* name;
        scripted::Entry entry;
        int totalFiles;
        std::int64_t dictionary;
    } rows[] = {
        {"DirectoryFlag", with(fileEntry("d"), RHDF_DIRECTORY, 0x41ED), 0, 0},
        {"FolderAttribute", with(fileEntry("d"), 0, 16), 0, 0},
        {"SolidFile", with(fileEntry("f"), RHDF_SOLID | 0x40, 0x20), 1, 4096 * 1024},
        {"DictSizeInKilobytes",
         [] {
             auto e = fileEntry("f");
             e.dictSizeKb = 128;
             return e;
         }(),
         1, 128 * 1024},
        {"OlderLibraryFlagBits",
         [] {
             auto e = with(fileEntry("f"), 0x80 | 0x40);
             e.dictSizeKb = 0;
             return e;
         }(),
         1, std::int64_t{65536} << 6},
        {"OlderLibraryCodeSevenKeepsSize",
         [] {
             auto e = with(fileEntry("f"), 0xE0, 0x20);
             e.dictSizeKb = 0;
             return e;
         }(),
         0, 0},
    };
    for (const Row& row : rows) {
        items.clear();
        library.play({.entries = {row.entry}});
        rar.OpenFile(platform::ansiToUtf16(archive));
        EXPECT_EQ(info().TotalFiles(), row.totalFiles) << row.name;
        EXPECT_EQ(info().DictionarySize(), row.dictionary) << row.name;
        EXPECT_EQ(items.size(), 1u) << row.name;
    }
}

TEST_F(Accounting, SplitFileCountedOnceAtItsLastPart)
{
    const scripted::Script script{.entries = {part(RHDF_SPLITAFTER, 100), part(RHDF_SPLITBEFORE | RHDF_SPLITAFTER, 200),
                                              part(RHDF_SPLITBEFORE, 50), fileEntry("small", "xy")}};
    rar.setReadMultiVolumeToEnd(true);
    library.play(script);
    EXPECT_TRUE(rar.OpenFile(platform::ansiToUtf16(archive)));
    EXPECT_EQ(log().front(), "open 2");
    EXPECT_EQ(info().TotalFiles(), 2);
    EXPECT_EQ(info().CompressedSize(), 352);
    EXPECT_EQ(info().UnCompressedSize(), 1002);
    EXPECT_TRUE(info().MultiVolume());
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].CompressedSize, 350u);

    // Without reading to the end every header is accounted as it comes.
    items.clear();
    rar.setReadMultiVolumeToEnd(false);
    library.play(script);
    rar.OpenFile(platform::ansiToUtf16(archive));
    EXPECT_EQ(log().front(), "open 0");
    EXPECT_EQ(info().TotalFiles(), 4);
    EXPECT_EQ(items.size(), 4u);
}

// Entries of 4 GiB and more: UnCompressedSize keeps adding the low 32 bits
// as it always has; UnpackedBytes adds what unpacking really writes.
TEST_F(Accounting, UnpackedBytesCountsTheHighHalfOfEachSize)
{
    scripted::Entry huge = fileEntry("huge.bin");
    huge.unpSize = 0x10;
    huge.unpSizeHigh = 1; // 4 GiB + 16 bytes
    scripted::Entry bigger = fileEntry("bigger.bin");
    bigger.unpSize = 0xFFFFFFFF;
    bigger.unpSizeHigh = 2; // 12 GiB - 1 byte
    library.play({.entries = {huge, bigger, fileEntry("small", "xy")}});
    EXPECT_TRUE(rar.OpenFile(platform::ansiToUtf16(archive)));
    EXPECT_EQ(info().UnCompressedSize(), 0x10 + 0xFFFFFFFFll + 2);
    EXPECT_EQ(info().UnpackedBytes(), (std::uint64_t{1} << 32) + 0x10 + (std::uint64_t{3} << 32) - 1 + 2);

    // Claims near 2^64 each stop at the largest total instead of wrapping round.
    scripted::Entry absurd = fileEntry("absurd.bin");
    absurd.unpSize = 0xFFFFFFFF;
    absurd.unpSizeHigh = 0xFFFFFFFF;
    library.play({.entries = {absurd, absurd, fileEntry("small", "xy")}});
    EXPECT_TRUE(rar.OpenFile(platform::ansiToUtf16(archive)));
    EXPECT_EQ(info().UnpackedBytes(), UINT64_MAX);
}

TEST_F(Accounting, ExecutableArchiveIsSfx)
{
    const auto sfx = dir / "setup.exe";
    fs::copy_file("/proc/self/exe", sfx);
    library.play({});
    rar.OpenFile(sfx.u16string());
    EXPECT_TRUE(info().SFX());
}

// --- Callback answers ------------------------------------------------------

struct PasswordCase {
    const char* name;
    bool duringOpen;
    bool handler;
    std::string password;
    bool cancel;
    long bufferSize;
    std::string logged; // the callback line the library logged
};
void PrintTo(const PasswordCase& c, std::ostream* out) { *out << c.name; }

class Passwords : public ComponentFixture, public ::testing::WithParamInterface<PasswordCase> {};

TEST_P(Passwords, AnsweredByTheHandler)
{
    const PasswordCase& c = GetParam();
    scripted::Entry e = fileEntry("dir/secret.txt");
    e.requests = {{.when = c.duringOpen ? When::Read : When::Process,
                   .msg = UCM_NEEDPASSWORD,
                   .p2 = c.bufferSize,
                   .failureCode = 22}};
    struct Call {
        bool header;
        std::string name;
    };
    std::vector<Call> calls;
    if (c.handler) {
        rar.OnPasswordRequired = [&](TRAR&, bool header, const std::string& name, std::string& password, bool& cancel) {
            EXPECT_TRUE(password.empty());
            EXPECT_FALSE(cancel);
            calls.push_back({header, name});
            password = c.password;
            cancel = c.cancel;
        };
    }
    openOrTest(c.duringOpen, {.entries = {e}});
    EXPECT_NE(std::find(log().begin(), log().end(), c.logged), log().end()) << ::testing::PrintToString(log());
    EXPECT_EQ(rar.ArchiveInformation().HeaderEncrypted(), c.duringOpen);
    if (c.handler) {
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].header, c.duringOpen);
        EXPECT_EQ(calls[0].name, c.duringOpen ? archive : "dir/secret.txt");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, Passwords,
    ::testing::Values(PasswordCase{"HeadersDuringOpen", true, true, "pw", false, 128, "cb 2 0 pw"},
                      PasswordCase{"CancelledStillMarksHeaders", true, true, "pw", true, 128, "cb 2 -1 pw"},
                      PasswordCase{"EntryDuringTest", false, true, "entry-pw", false, 128, "cb 2 0 entry-pw"},
                      PasswordCase{"CutToTheBuffer", false, true, "secret123", false, 5, "cb 2 0 secr"},
                      PasswordCase{"NoHandlerGivesEmptyPassword", false, false, "", false, 128, "cb 2 0 "}),
    [](const auto& info) { return std::string(info.param.name); });

struct VolumeCase {
    const char* name;
    bool duringOpen;
    bool readToEnd;
    long mode;
    std::string required;                   // buffer content before the call
    std::optional<std::string> handlerName; // nullopt: no handler
    bool cancel;
    int answer;
    std::string buffer; // content after the call
    int handlerCalls;
};
void PrintTo(const VolumeCase& c, std::ostream* out) { *out << c.name; }

class Volumes : public ComponentFixture, public ::testing::WithParamInterface<VolumeCase> {};

TEST_P(Volumes, AskedForOnlyWhenTheyMayBe)
{
    const VolumeCase& c = GetParam();
    const std::string existing = (dir / "update.part2.rar").string();
    testsupport::writeFileBytes(existing, "Rar!");
    const std::string required = c.required == "EXISTING" ? existing : c.required;
    scripted::Entry e = fileEntry("a.txt");
    e.requests = {{.when = c.duringOpen ? When::Read : When::Process,
                   .msg = UCM_CHANGEVOLUME,
                   .p2 = c.mode,
                   .text = required,
                   .failureCode = 15}};
    int calls = 0;
    if (c.handlerName) {
        rar.OnNextVolumeRequired = [&](TRAR&, const std::string& req, std::string& name, bool& cancel) {
            EXPECT_EQ(req, required);
            EXPECT_TRUE(name.empty());
            ++calls;
            name = *c.handlerName;
            cancel = c.cancel;
        };
    }
    rar.setReadMultiVolumeToEnd(c.readToEnd);
    openOrTest(c.duringOpen, {.entries = {e}});
    const std::string buffer = c.buffer == "EXISTING" ? existing : c.buffer;
    EXPECT_NE(std::find(log().begin(), log().end(), "cb 0 " + std::to_string(c.answer) + " " + buffer), log().end())
        << ::testing::PrintToString(log());
    EXPECT_EQ(calls, c.handlerCalls);
}

const std::string kLongName(2000, 'v');

INSTANTIATE_TEST_SUITE_P(
    Requests, Volumes,
    ::testing::Values(
        VolumeCase{"RefusedWhileOpening", true, false, RAR_VOL_ASK, "x.part2.rar", "other", false, -1, "x.part2.rar",
                   0},
        VolumeCase{"AskedWhileOpeningToTheEnd", true, true, RAR_VOL_ASK, "x.part2.rar", "y.rar", false, 0, "y.rar", 1},
        VolumeCase{"HandlerNamesAnother", false, false, RAR_VOL_ASK, "x.part2.rar", "y.rar", false, 0, "y.rar", 1},
        VolumeCase{"HandlerCancels", false, false, RAR_VOL_ASK, "x.part2.rar", "", true, -1, "", 1},
        // The name goes back with its zero within the library's 1024 characters.
        VolumeCase{"LongNameCut", false, false, RAR_VOL_ASK, "x.part2.rar", kLongName, false, 0,
                   kLongName.substr(0, 1023), 1},
        VolumeCase{"NoHandlerKeepsAnExistingName", false, false, RAR_VOL_ASK, "EXISTING", std::nullopt, false, 0,
                   "EXISTING", 0},
        // Nobody can supply a missing volume: asking again would never end.
        VolumeCase{"NoHandlerRefusesAMissingOne", false, false, RAR_VOL_ASK, "missing.part2.rar", std::nullopt, false,
                   -1, "missing.part2.rar", 0},
        VolumeCase{"NotificationGoesOn", false, false, RAR_VOL_NOTIFY, "x.part2.rar", "ignored", false, 0,
                   "x.part2.rar", 0}),
    [](const auto& info) { return std::string(info.param.name); });

class Progress : public ComponentFixture {};

TEST_F(Progress, CountsBlocksAndAbortAnswersEveryLaterCallback)
{
    scripted::Entry a = fileEntry("a.bin", std::string(10, 'a'));
    scripted::Entry b = fileEntry("b.bin", std::string(6, 'b'));
    for (long size : {4, 6})
        a.requests.push_back({.msg = UCM_PROCESSDATA, .p2 = size, .failureCode = 21});
    b.requests = {{.msg = UCM_PROCESSDATA, .p2 = 6, .failureCode = 21}};
    ASSERT_TRUE(openWith({.entries = {a, b}}));

    struct Call {
        std::u16string name;
        std::uint32_t archiveTotal, archiveDone, fileTotal, fileDone;
        bool operator==(const Call&) const = default;
    };
    std::vector<Call> calls;
    rar.OnProgress = [&](TRAR&, const std::u16string& name, std::uint32_t at, std::uint32_t ad, std::uint32_t ft,
                         std::uint32_t fd) {
        calls.push_back({name, at, ad, ft, fd});
    };
    EXPECT_TRUE(rar.Test());
    EXPECT_EQ(calls,
              (std::vector<Call>{{u"a.bin", 16, 4, 10, 4}, {u"a.bin", 16, 10, 10, 10}, {u"b.bin", 16, 16, 6, 6}}));

    calls.clear();
    rar.OnProgress = [&](TRAR& sender, const std::u16string&, std::uint32_t, std::uint32_t, std::uint32_t,
                         std::uint32_t) {
        calls.push_back({});
        sender.Abort();
    };
    library.play({.entries = {a, b}});
    EXPECT_FALSE(rar.Test());
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(log(), (Log{"open 1", "callback", "read 0", "cb 1 -1", "process 1 - - 21", "close 0"}));
    EXPECT_EQ(errors, (std::vector<ErrorCall>{{21, roListFiles}}));
}

} // namespace
