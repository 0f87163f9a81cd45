// How an install meets Windows' own file rules, one row of the table each,
// with the real archive component and unrar.dll, run under Wine: a running
// program and a loaded library are renamed aside and removed at the next
// start; a file held open stops the install before its commit; names that
// differ only in case are one file; names Windows reads as devices, streams
// or other folders are refused; paths past 260 characters work.
#include "update/UpdateFolder.h"
#include "update/UpdateRun.h"
#include "update/UpdateSession.h"
#include "platform/ExecutablePath.h"
#include "platform/FileOps.h"
#include "platform/FolderTree.h"
#include "platform/RecordingMessages.h"
#include "tests/support/RarWriter.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <windows.h>

// The rows name only what differs from a row's defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace fs = std::filesystem;
using tavrel::test::RarEntry;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;
using testsupport::folderContents;
using testsupport::readFileBytes;
using testsupport::writeFileBytes;

namespace {

// Releases here are copied, never downloaded.
struct NoHttp : platform::HttpClient {
    platform::HttpResult get(const platform::HttpRequest&, platform::HttpBodySink&) override
    {
        platform::HttpResult result;
        result.error = "no downloads in this test";
        return result;
    }
};

struct QuietView : UpdateView {
    void setRenewEnabled(bool) override {}
};

// Something a row holds while the update runs, let go of by its destructor.
using Hold = std::shared_ptr<void>;

Hold holdOpenWithoutDeleteSharing(const fs::path& file)
{
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << file;
    return Hold(h, [](void* handle) { CloseHandle(handle); });
}

// The program folder's unrar.dll loaded, as the running updater has it.
Hold loadLibrary(const fs::path& file)
{
    HMODULE module = LoadLibraryW(file.c_str());
    EXPECT_NE(module, nullptr) << file;
    return Hold(module, [](void* m) { FreeLibrary(static_cast<HMODULE>(m)); });
}

// The program's own executable, running until let go of.
Hold runProgram(const fs::path& exe)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring command = L"\"" + exe.wstring() + L"\" --hold";
    EXPECT_TRUE(
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        << exe;
    CloseHandle(process.hThread);
    return Hold(process.hProcess, [](void* p) {
        TerminateProcess(p, 0);
        WaitForSingleObject(p, INFINITE);
        CloseHandle(p);
    });
}

// A release's unrar.dll must load, or the release is refused before its
// install: the library this test runs with, told apart by bytes past its end.
std::string newLibrary() { return readFileBytes(platform::executableFolder() / "unrar.dll") + "new library"; }

struct Row {
    const char* name;
    RarFormat format = RarFormat::Rar5;
    std::function<void(RarWriter&)> release;
    // Run before the update, on the program folder; what it returns is held during the run.
    std::function<Hold(const fs::path& program)> during = [](const fs::path&) { return Hold(); };
    UpdateOutcome outcome = UpdateOutcome::Installed;
    // Checked after the run, the holds let go of and the next start done.
    std::function<void(const fs::path& program)> check = [](const fs::path&) {};
    // A text the error message must hold.
    std::string message;
    // The program folder lies so deep that its files' paths pass 260 characters.
    bool deep = false;
};

RarWriter& named(RarWriter& w, const std::string& name)
{
    RarEntry e;
    e.name = name;
    e.rawName = true;
    e.data = "escaped";
    return w.entry(e);
}

std::vector<Row> rows()
{
    std::vector<Row> table{
        {.name = "the running program and its loaded unrar.dll are renamed aside, removed at the next start",
         .release = [](RarWriter& w) { w.file("Tavrel.exe", "new program").file("unrar.dll", newLibrary()); },
         .during =
             [](const fs::path& program) {
                 // Copied by bytes: the C++ library takes a \\?\ target of copy_file for its source.
                 writeFileBytes(program / "unrar.dll", readFileBytes(platform::executableFolder() / "unrar.dll"));
                 writeFileBytes(program / "Tavrel.exe",
                                readFileBytes(platform::executableFolder() / "running_program.exe"));
                 return Hold(std::make_shared<std::pair<Hold, Hold>>(runProgram(program / "Tavrel.exe"),
                                                                     loadLibrary(program / "unrar.dll")));
             },
         .check =
             [](const fs::path& program) {
                 EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");
                 EXPECT_TRUE(readFileBytes(program / "unrar.dll") == newLibrary()); // no dump of a whole DLL
             }},
        {.name = "a file held open without delete sharing stops the install before its commit",
         .release = [](RarWriter& w) { w.file("Tavrel.exe", "new program").file("Reports/Year.frx", "new report"); },
         .during =
             [](const fs::path& program) { return holdOpenWithoutDeleteSharing(program / "Reports" / "Year.frx"); },
         .outcome = UpdateOutcome::ExtractFailed,
         .message = "Year.frx"},
        {.name = "tavrel.ini is the protected Tavrel.INI",
         .release = [](RarWriter& w) { w.file("Tavrel.exe", "new program").file("tavrel.ini", "new settings"); },
         .check = [](const fs::path& program) { EXPECT_EQ(readFileBytes(program / "Tavrel.INI"), "old settings"); }},
        {.name = "TAVREL.INI is the protected Tavrel.INI",
         .release = [](RarWriter& w) { w.file("TAVREL.INI", "new settings"); },
         .check = [](const fs::path& program) { EXPECT_EQ(readFileBytes(program / "Tavrel.INI"), "old settings"); }},
        {.name = "the database file is protected whatever the case of its name",
         .release = [](RarWriter& w) { w.file("TAVREL.FDB", "new database").file("Tavrel.exe", "new program"); },
         .check = [](const fs::path& program) { EXPECT_EQ(readFileBytes(program / "tavrel.fdb"), "old database"); }},
        {.name = "a program folder whose files' paths pass 260 characters",
         .release =
             [](RarWriter& w) {
                 w.file("Tavrel.exe", "new program")
                     .directory("Reports/Month")
                     .file("Reports/Month/Month.frx", "new report")
                     .file("Reports/Year.frx", "new report");
             },
         .check =
             [](const fs::path& program) {
                 EXPECT_GT(platform::plainPath(program / "Reports" / "Month" / "Month.frx").native().size(), 260u);
                 EXPECT_EQ(readFileBytes(program / "Reports" / "Month" / "Month.frx"), "new report");
                 EXPECT_EQ(readFileBytes(program / "Reports" / "Year.frx"), "new report");
             },
         .deep = true},
    };
    // Names that would leave the program folder or mean something else on Windows.
    for (const char* name : {"docs\\..\\..\\evil.txt", "..\\evil.txt", "C:\\evil.txt", "C:evil.txt", "CON", "aux.txt",
                             "NUL", "Reports/NUL.txt", "evil.", "evil.txt ", "Tavrel.exe:stream"}) {
        table.push_back(
            {.name = name,
             // RAR 4.x: there '\' separates folders; RAR 5.0 has it as a plain character.
             .format = std::string(name).find('\\') != std::string::npos ? RarFormat::Rar4 : RarFormat::Rar5,
             .release = [name](RarWriter& w) { named(w.file("Tavrel.exe", "new program"), name); },
             .outcome = UpdateOutcome::ExtractFailed});
    }
    return table;
}

void runRow(const Row& row)
{
    {
        testsupport::TempDir root("tavrel-windows");
        // The updater is given the folder as a user names it; the test
        // reaches it by the form that passes 260 characters.
        const fs::path given = root / (row.deep ? std::string(4, 'f') + "\\" + std::string(120, 'd') + "\\" +
                                                      std::string(120, 'e') + "\\program"
                                                : std::string("program"));
        const fs::path program = platform::extendedPath(given);
        fs::create_directories(program / "Reports");
        writeFileBytes(program / "Tavrel.exe", "old program");
        writeFileBytes(program / "Reports" / "Year.frx", "old report");
        writeFileBytes(program / "Tavrel.INI", "old settings");
        writeFileBytes(program / "tavrel.fdb", "old database");
        RarWriter writer(row.format);
        row.release(writer);
        const fs::path archive = writer.write(root.path(), "release").front();

        platform::RecordingMessages messages;
        UpdateOutcome outcome;
        std::map<std::string, std::string> before, after;
        {
            const Hold held = row.during(program);
            before = folderContents(program);
            const UpdateSession session(given, messages);
            ASSERT_FALSE(session.busy());
            QuietView view;
            NoHttp http;
            TUpdateRun run(messages, view, http);
            run.protectFile((given / "tavrel.fdb").string());
            outcome = run.BBRenewClick({.programFolder = given.string() + "/"}, archive.string());
            after = folderContents(program);
        }
        EXPECT_EQ(outcome, row.outcome);
        if (row.outcome != UpdateOutcome::Installed) {
            // Nothing half-installed: the folder is as it was, but for the update folder's lock.
            // The fetched archive is kept for another try.
            after.erase(kLocalArchiveName);
            before.erase(kUpdateFolderName);
            after.erase(kUpdateFolderName);
            after.erase(std::string(kUpdateFolderName) + "/lock");
            EXPECT_EQ(after, before);
            EXPECT_FALSE(fs::exists(root / "evil.txt"));
        }
        if (!row.message.empty()) {
            ASSERT_FALSE(messages.texts().empty());
            EXPECT_NE(messages.texts().back().find(row.message), std::string::npos) << messages.texts().back();
        }
        // The next start, with nothing held any more: only the lock is left of the update, and
        // the record of the release an install put in place.
        {
            platform::RecordingMessages next;
            const UpdateSession session(given, next);
        }
        std::vector<std::string> left;
        std::error_code unread;
        for (const platform::FolderEntry& entry : platform::folderEntries(program / kUpdateFolderName, unread))
            left.push_back(entry.path.filename().string());
        EXPECT_FALSE(unread) << unread.message();
        std::sort(left.begin(), left.end());
        std::vector<std::string> expected{"installed", "lock"};
        if (row.outcome != UpdateOutcome::Installed)
            expected.erase(expected.begin());
        EXPECT_EQ(left, expected);
        row.check(program);
    }
}

TEST(WindowsFileSemantics, EachRowInstallsAllOrNothing)
{
    for (const Row& row : rows()) {
        SCOPED_TRACE(row.name);
        try {
            runRow(row);
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
        }
    }
}

} // namespace
