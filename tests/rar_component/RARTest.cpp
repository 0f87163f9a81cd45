// The archive walks of TRAR against the scripted library: the calls made,
// the errors reported, extraction and replacing.
#include "ComponentFixture.h"

#include "platform/TextCodec.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

namespace {

using Log = scripted::Log;
namespace fs = std::filesystem;

class Walks : public ComponentFixture {};

TEST_F(Walks, OpenFileListsWithTwoErrorEventsPerEntry)
{
    library.play({.entries = {fileEntry("a.txt"), fileEntry("b.txt")}});
    EXPECT_TRUE(rar.OpenFile(platform::ansiToUtf16(archive)));
    EXPECT_EQ(log(), (Log{"open 0", "callback", "read 0", "process 0 - - 0", "read 0", "process 0 - - 0", "read 10",
                          "close 0"}));
    EXPECT_EQ(errors, std::vector<ErrorCall>(4, ErrorCall{0, roListFiles}));
}

TEST_F(Walks, TestTestsEveryEntryWithoutErrorEvents)
{
    ASSERT_TRUE(openWith({.entries = {fileEntry("a.txt"), fileEntry("b.txt")}}));
    EXPECT_TRUE(rar.Test());
    EXPECT_EQ(log(), (Log{"open 1", "callback", "read 0", "process 1 - - 0", "read 0", "process 1 - - 0", "read 10",
                          "close 0"}));
    EXPECT_TRUE(errors.empty());
}

TEST_F(Walks, MissingArchiveFileRaisesAssertionWithoutCallingTheLibrary)
{
    EXPECT_THROW(rar.Test(), EAssertionFailed); // fresh component: no archive name yet
    try {
        rar.OpenFile(platform::ansiToUtf16((dir / "missing.rar").string()));
        FAIL() << "no exception";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Assertion failure (", 0), 0u) << e.what();
    }
    EXPECT_TRUE(log().empty());
    EXPECT_TRUE(errors.empty());
}

enum class Walk { Open, Test, Extract };

struct FailureCase {
    const char* name;
    Walk walk;
    scripted::Script script;
    bool result;
    bool aborted;
    std::vector<ErrorCall> errors;
    Log log; // calls of the failing walk
};
void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class Failures : public ComponentFixture, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Failures, ReportedThroughTheErrorStep)
{
    const FailureCase& c = GetParam();
    bool result = false;
    Log expected = c.log;
    const std::string out = folder("out");
    for (std::string& line : expected) {
        if (const auto at = line.find("OUT"); at != std::string::npos)
            line.replace(at, 3, out + "/");
    }
    if (c.walk == Walk::Open) {
        library.play(c.script);
        result = rar.OpenFile(platform::ansiToUtf16(archive));
    } else {
        openWith({.entries = c.script.entries}); // a failing listing does not matter here
        library.play(c.script);
        result = c.walk == Walk::Test ? rar.Test() : rar.Extract(out, true, nullptr);
    }
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(rar.Aborted(), c.aborted);
    EXPECT_EQ(errors, c.errors);
    if (!expected.empty()) {
        EXPECT_EQ(log(), expected);
    }
}

scripted::Entry failing(int readResult, int processResult)
{
    scripted::Entry e = fileEntry("a.txt");
    e.readResult = readResult;
    e.processResult = processResult;
    return e;
}

const ErrorCall kOk{0, roListFiles};

INSTANTIATE_TEST_SUITE_P(
    Codes, Failures,
    ::testing::Values(
        FailureCase{"OpenRefused", Walk::Open, {.openFails = true}, false, true, {{99, roInitArchive}}, {"open 0"}},
        FailureCase{
            "BrokenComment", Walk::Open, {.cmtState = 12}, false, true, {{12, roInitArchive}}, {"open 0", "close 0"}},
        FailureCase{"CommentTooLong", Walk::Open, {.cmtState = 20}, false, true, {{20, roInitArchive}}, {}},
        // The failed header is still accounted and passed over, then the walk stops.
        FailureCase{"ListReadFails",
                    Walk::Open,
                    {.entries = {failing(12, 0), fileEntry("b")}},
                    false,
                    true,
                    {{12, roListFiles}, kOk},
                    {"open 0", "callback", "read 12", "process 0 - - 0", "close 0"}},
        FailureCase{"ListCloseFails", Walk::Open, {.closeResult = 17}, true, true, {{17, roInitArchive}}, {}},
        FailureCase{"CrcError",
                    Walk::Test,
                    {.entries = {failing(0, 12), fileEntry("b")}},
                    false,
                    true,
                    {{12, roListFiles}},
                    {"open 1", "callback", "read 0", "process 1 - - 12", "close 0"}},
        FailureCase{
            "ReadErrorWhileTesting", Walk::Test, {.entries = {failing(0, 18)}}, false, true, {{18, roListFiles}}, {}},
        FailureCase{
            "BadArchiveDoesNotAbort", Walk::Test, {.entries = {failing(0, 13)}}, false, false, {{13, roListFiles}}, {}},
        FailureCase{"MissingPasswordDoesNotAbort",
                    Walk::Test,
                    {.entries = {failing(0, 22)}},
                    false,
                    false,
                    {{22, roListFiles}},
                    {}},
        FailureCase{"TestCloseFailsKeepsResult",
                    Walk::Test,
                    {.closeResult = 17, .entries = {fileEntry("a")}},
                    true,
                    true,
                    {{17, roInitArchive}},
                    {}},
        FailureCase{"ExtractWriteError",
                    Walk::Extract,
                    {.entries = {failing(0, 19), fileEntry("b")}},
                    false,
                    true,
                    {{19, roListFiles}},
                    {}},
        // A header that failed to read is never extracted: its record may still name the previous entry.
        FailureCase{"ExtractReadFails",
                    Walk::Extract,
                    {.entries = {fileEntry("a"), failing(12, 0)}},
                    false,
                    true,
                    {{12, roListFiles}},
                    {"open 1", "callback", "read 0", "process 2 OUT - 0", "read 12", "close 0"}},
        FailureCase{"ExtractCloseFailsStopsIt",
                    Walk::Extract,
                    {.closeResult = 17, .entries = {fileEntry("a")}},
                    false,
                    true,
                    {{17, roInitArchive}},
                    {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Walks, FailedListingStillMarksTheArchiveOpened)
{
    scripted::Script script{.entries = {failing(12, 0)}};
    script.entries[0].requests = {{.when = scripted::Request::When::Process, .msg = UCM_NEEDPASSWORD, .p2 = 16}};
    library.play(script);
    EXPECT_FALSE(rar.OpenFile(platform::ansiToUtf16(archive)));
    bool headerPassword = true;
    rar.OnPasswordRequired = [&](TRAR&, bool header, const std::string&, std::string&, bool&) {
        headerPassword = header;
    };
    library.play({.entries = script.entries});
    rar.Test();
    EXPECT_FALSE(headerPassword);
}

// --- Extract ---------------------------------------------------------------

std::string readFile(const fs::path& p) { return testsupport::readFileBytes(p); }

class Extracting : public ComponentFixture {
protected:
    scripted::Script tree{.entries = {folderEntry("sub"), fileEntry("sub/a.txt", "A"), fileEntry("b.txt", "B")}};
};

TEST_F(Extracting, RestoreFolderWritesBelowThePathWithStoredFolders)
{
    ASSERT_TRUE(openWith(tree));
    const std::string out = folder("prog");
    EXPECT_TRUE(rar.Extract(out, true, nullptr));
    const std::string base = out + "/";
    EXPECT_EQ(log(), (Log{"open 1", "callback", "read 0", "process 2 " + base + " - 0", "read 0",
                          "process 2 " + base + " - 0", "read 0", "process 2 " + base + " - 0", "read 10", "close 0"}));
    EXPECT_EQ(readFile(fs::path(out) / "sub" / "a.txt"), "A");
    EXPECT_EQ(readFile(fs::path(out) / "b.txt"), "B");
}

TEST_F(Extracting, FlatteningHandsExactNamesAndPassesFolderEntriesOver)
{
    ASSERT_TRUE(openWith(tree));
    const std::string out = folder("prog");
    EXPECT_TRUE(rar.Extract(out + "/", false, nullptr));
    EXPECT_EQ(log(), (Log{"open 1", "callback", "read 0", "read 0", "process 2 - " + out + "/a.txt 0", "read 0",
                          "process 2 - " + out + "/b.txt 0", "read 10", "close 0"}));
    EXPECT_EQ(readFile(fs::path(out) / "a.txt"), "A");
    EXPECT_FALSE(fs::exists(fs::path(out) / "sub"));
}

TEST_F(Extracting, FilesListSelectsByExactStoredName)
{
    const std::string out = folder("prog");
    struct Row {
        std::vector<std::string> files;
        bool aWritten, bWritten;
    } rows[] = {{{"sub/a.txt"}, true, false}, {{"SUB/A.TXT", "a.txt"}, false, false}, {{"x", "b.txt"}, false, true}};
    for (const Row& row : rows) {
        fs::remove_all(out);
        fs::create_directories(out);
        ASSERT_TRUE(openWith(tree));
        EXPECT_TRUE(rar.Extract(out, true, &row.files));
        EXPECT_EQ(fs::exists(fs::path(out) / "sub" / "a.txt"), row.aWritten) << row.files[0];
        EXPECT_EQ(fs::exists(fs::path(out) / "b.txt"), row.bWritten) << row.files[0];
    }
}

// Flattening hands the library a finished file name, which it does not check:
// a last name component that is empty, "." or ".." is refused.
TEST_F(Extracting, FlatteningRefusesNamesThatLeaveThePath)
{
    const std::string out = folder("deep/prog");
    for (const char* name : {"sub/..", "..", "sub/.", "sub/"}) {
        errors.clear();
        ASSERT_TRUE(openWith({.entries = {fileEntry(name, "evil"), fileEntry("b.txt")}}));
        EXPECT_FALSE(rar.Extract(out, false, nullptr)) << name;
        EXPECT_EQ(log(), (Log{"open 1", "callback", "read 0", "process 0 - - 0", "close 0"})) << name;
        EXPECT_EQ(errors, (std::vector<ErrorCall>{{16, roListFiles}})) << name;
        EXPECT_TRUE(fs::is_empty(out)) << name;
        EXPECT_TRUE(fs::is_directory(dir / "deep")) << name;
        EXPECT_FALSE(fs::is_regular_file(dir / "deep")) << name;
    }
}

struct ReplaceCase {
    const char* name;
    TRARReplace answer;
    bool result;
    std::string aContent; // the existing file afterwards
    bool laterEntryWritten;
    std::string aCall; // the library call for the existing file's entry
};
void PrintTo(const ReplaceCase& c, std::ostream* out) { *out << c.name; }

class Replacing : public ComponentFixture, public ::testing::WithParamInterface<ReplaceCase> {};

TEST_P(Replacing, OnReplaceDecidesForExistingFiles)
{
    const ReplaceCase& c = GetParam();
    const std::string out = folder("prog");
    testsupport::writeFileBytes(fs::path(out) / "a.txt", "old file");
    scripted::Entry a = fileEntry("a.txt", "new");
    a.fileTime = 0x58B1528F;
    std::vector<TRARReplaceData> seen;
    rar.OnReplace = [&](TRAR&, const TRARReplaceData& existing, const TRARReplaceData& incoming, TRARReplace& action) {
        EXPECT_EQ(action, rrOverwrite);
        seen = {existing, incoming};
        action = c.answer;
    };
    ASSERT_TRUE(openWith({.entries = {fileEntry("first.txt"), a, fileEntry("later.txt")}}));

    EXPECT_EQ(rar.Extract(out, true, nullptr), c.result);
    EXPECT_EQ(readFile(fs::path(out) / "a.txt"), c.aContent);
    EXPECT_TRUE(fs::exists(fs::path(out) / "first.txt"));
    EXPECT_EQ(fs::exists(fs::path(out) / "later.txt"), c.laterEntryWritten);
    std::string call = c.aCall;
    if (const auto at = call.find("OUT"); at != std::string::npos)
        call.replace(at, 3, out + "/");
    ASSERT_GE(log().size(), 6u);
    EXPECT_EQ(log()[5], call);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].FileName, out + "/a.txt");
    EXPECT_EQ(seen[0].Size, 8);
    EXPECT_GT(seen[0].Time, 45000);
    EXPECT_EQ(seen[1].FileName, "a.txt");
    EXPECT_EQ(seen[1].Size, 3);
    EXPECT_DOUBLE_EQ(seen[1].Time, 45429 + (10 * 3600 + 20 * 60 + 30) / 86400.0);
}

INSTANTIATE_TEST_SUITE_P(Answers, Replacing,
                         ::testing::Values(ReplaceCase{"Overwrite", rrOverwrite, true, "new", true,
                                                       "process 2 OUT - 0"},
                                           ReplaceCase{"Skip", rrSkip, true, "old file", true, "process 0 OUT - 0"},
                                           // No library call for the cancelled entry; the walk closes at once.
                                           ReplaceCase{"Cancel", rrCancel, false, "old file", false, "close 0"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Extracting, FlatteningMeetsTheFileItJustWrote)
{
    const std::string out = folder("prog");
    std::vector<TRARReplaceData> existing;
    rar.OnReplace = [&](TRAR&, const TRARReplaceData& e, const TRARReplaceData&, TRARReplace&) {
        existing.push_back(e);
    };
    ASSERT_TRUE(openWith({.entries = {fileEntry("x/same.txt", "first"), fileEntry("y/same.txt", "second!")}}));
    EXPECT_TRUE(rar.Extract(out, false, nullptr));
    ASSERT_EQ(existing.size(), 1u);
    EXPECT_EQ(existing[0].FileName, out + "/same.txt");
    EXPECT_EQ(existing[0].Size, 5);
    EXPECT_EQ(readFile(fs::path(out) / "same.txt"), "second!");
}

// --- Exceptions from handlers ----------------------------------------------

struct ThrowCase {
    const char* name;
    Walk walk;
    std::function<void(TRAR&)> arm;
};
void PrintTo(const ThrowCase& c, std::ostream* out) { *out << c.name; }

class HandlerExceptions : public ComponentFixture, public ::testing::WithParamInterface<ThrowCase> {};

TEST_P(HandlerExceptions, CloseTheArchiveAndReachTheCaller)
{
    scripted::Entry a = fileEntry("a.txt");
    a.requests = {{.when = scripted::Request::When::Process, .msg = UCM_PROCESSDATA, .p2 = 4, .failureCode = 21}};
    const scripted::Script script{.entries = {a, fileEntry("b.txt")}};
    const std::string out = folder("prog");
    testsupport::writeFileBytes(fs::path(out) / "a.txt", "old");
    if (GetParam().walk != Walk::Open) {
        ASSERT_TRUE(openWith(script));
    }
    library.play(script);
    GetParam().arm(rar);

    const auto run = [&] {
        switch (GetParam().walk) {
        case Walk::Open: return rar.OpenFile(platform::ansiToUtf16(archive));
        case Walk::Test: return rar.Test();
        case Walk::Extract: return rar.Extract(out, true, nullptr);
        }
        return false;
    };
    EXPECT_THROW(run(), std::runtime_error);
    ASSERT_FALSE(log().empty());
    EXPECT_EQ(log().back(), "close 0");
    EXPECT_EQ(std::count(log().begin(), log().end(), "close 0"), 1);
}

const auto kThrow = [](auto&&...) { throw std::runtime_error("handler failed"); };

INSTANTIATE_TEST_SUITE_P(
    Handlers, HandlerExceptions,
    ::testing::Values(ThrowCase{"OnListFile", Walk::Open, [](TRAR& r) { r.OnListFile = kThrow; }},
                      ThrowCase{"OnErrorWhileListing", Walk::Open, [](TRAR& r) { r.OnError = kThrow; }},
                      ThrowCase{"OnProgressInsideCallback", Walk::Test, [](TRAR& r) { r.OnProgress = kThrow; }},
                      ThrowCase{"OnReplace", Walk::Extract, [](TRAR& r) { r.OnReplace = kThrow; }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
