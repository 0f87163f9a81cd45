// An update killed or signalled at each step of its work, in a real child
// process (update_child) with the real archive component and UnRAR library:
// after the next start's recovery, or at once after a signal, the program
// folder equals either the old tree or the old tree with the new release
// over it, never a mix; and the update folder holds only its lock.
#include "platform/ExecutablePath.h"
#include "platform/RecordingMessages.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/RarWriter.h"
#include "tests/support/TempDir.h"
#include "update/UpdateFolder.h"
#include "update/UpdateRecovery.h"
#include "update/UpdateSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;
using testsupport::readFileBytes;
using testsupport::writeFileBytes;

namespace {

// SIGKILL's number; Windows has none, the child's TerminateProcess gives it.
constexpr int kKillSignal = 9;

// Relative path -> content (a hash for big files), "<folder>" for folders;
// the update folder's lock and record of the installed release left out.
using Tree = std::map<std::string, std::string>;

Tree snapshot(const fs::path& root)
{
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = entry.path().lexically_relative(root).generic_string();
        // The fetched archive is kept when a run does not end; it is no part of the program.
        if (relative == kUpdateFolderName || relative == std::string(kUpdateFolderName) + "/lock" ||
            relative == std::string(kUpdateFolderName) + "/installed" || relative == "NewExe.zip")
            continue;
        const std::string content = entry.is_directory() ? "<folder>" : readFileBytes(entry.path());
        tree[relative] = content.size() <= 64 ? content
                                              : std::to_string(content.size()) + " bytes, hash " +
                                                    std::to_string(std::hash<std::string>{}(content));
    }
    return tree;
}

std::string describe(const Tree& tree)
{
    std::ostringstream out;
    for (const auto& [path, content] : tree)
        out << "  " << path << " = " << content.substr(0, 20) << "\n";
    return out.str();
}

struct ChildRun : testsupport::ChildResult {
    bool killed() const { return killedBy(kKillSignal); }
    // Names of the steps the child reached, in order.
    std::vector<std::string> steps() const
    {
        std::vector<std::string> names;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r') // Windows' text output
                line.pop_back();
            if (line.rfind("step ", 0) == 0)
                names.push_back(line.substr(line.find(' ', 5) + 1));
        }
        return names;
    }
};

// Beside the test, where Wine finds it by a Windows path.
fs::path updateChild()
{
#ifdef _WIN32
    return platform::executableFolder() / "update_child.exe";
#else
    return UPDATE_CHILD;
#endif
}

ChildRun runChild(const fs::path& work, const std::vector<std::string>& arguments)
{
    return {testsupport::ChildProcess::run(
        {.program = updateChild(), .arguments = arguments, .folder = work, .out = work / "child.out"})};
}

bool contains(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

constexpr int kInstalled = 0;
constexpr int kInterrupted = 6;

class InstallCrash : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        releases = std::make_unique<testsupport::TempDir>("tavrel-crash-releases");
        // Blocks of 4 MiB make several unpacking steps of one entry.
        RarWriter(RarFormat::Rar5)
            .file("Tavrel.exe", "new program")
            .directory("Help")
            .file("Help/Tavrel.chm", "new help")
            .file("Help/Added.chm", "added help")
            .directory("Reports/Month")
            .file("Reports/Month/Month.frx", "new report")
            .generated("Data.bin", 9u << 20, tavrel::test::fillPattern)
            .write(releases->path(), "release");
        server = std::make_unique<testsupport::HttpTestServer>(releases->path().string());
    }
    static void TearDownTestSuite()
    {
        server.reset();
        releases.reset();
    }

    // The workstation before the update: files the release replaces, one it
    // leaves alone, a folder it fills.
    void writeOldTree()
    {
        fs::remove_all(program);
        fs::create_directories(program / "Help");
        fs::create_directories(program / "Reports");
        writeFileBytes(program / "Tavrel.exe", "old program");
        writeFileBytes(program / "Help" / "Tavrel.chm", "old help");
        writeFileBytes(program / "Reports" / "Year.frx", "old report, not in the release");
        writeFileBytes(program / "Data.bin", "old data");
        fs::remove_all(work);
        fs::create_directories(work);
    }

    std::string archive() const { return (releases->path() / "release.rar").string(); }

    // The update folder after a run that ended: the lock, and the record of
    // the installed release when an install committed and the run went on.
    void expectOnlyTheLock(bool recorded = false) const
    {
        std::set<std::string> left;
        for (const auto& entry : fs::directory_iterator(program / kUpdateFolderName))
            left.insert(entry.path().filename().string());
        const std::set<std::string> expected =
            recorded ? std::set<std::string>{"installed", "lock"} : std::set<std::string>{"lock"};
        EXPECT_EQ(left, expected);
    }

    static std::unique_ptr<testsupport::TempDir> releases;
    static std::unique_ptr<testsupport::HttpTestServer> server;
    testsupport::TempDir root{"tavrel-crash"};
    fs::path program = root / "program";
    fs::path work = root / "work";
};
std::unique_ptr<testsupport::TempDir> InstallCrash::releases;
std::unique_ptr<testsupport::HttpTestServer> InstallCrash::server;

TEST_F(InstallCrash, KilledAtEveryStepTheNextStartLeavesAllOldOrAllNew)
{
    writeOldTree();
    const Tree oldTree = snapshot(program);
    const ChildRun whole = runChild(work, {program.string(), archive(), "0", "kill"});
    ASSERT_EQ(whole.exitCode(), kInstalled) << whole.out;
    const Tree newTree = snapshot(program);
    EXPECT_EQ(newTree.at("Tavrel.exe"), "new program");
    EXPECT_EQ(newTree.at("Reports/Year.frx"), "old report, not in the release");
    EXPECT_EQ(newTree.at("Reports/Month/Month.frx"), "new report");
    const std::vector<std::string> allSteps = whole.steps();
    ASSERT_TRUE(contains(allSteps, "unpack") && contains(allSteps, "journal") && contains(allSteps, "committed"));

    std::set<std::string> killedAt;
    for (std::size_t at = 1; at <= allSteps.size(); ++at) {
        writeOldTree();
        const ChildRun r = runChild(work, {program.string(), archive(), std::to_string(at), "kill"});
        ASSERT_TRUE(r.killed()) << "step " << at << "\n" << r.out;
        const std::vector<std::string> reached = r.steps();
        const std::string step = reached.back();
        killedAt.insert(step.substr(0, step.find(' ')));

        // The next start: the lock of the killed process is free again.
        platform::RecordingMessages messages;
        const UpdateSession session(program, messages);
        ASSERT_FALSE(session.busy());

        const bool committed = contains(reached, "committed");
        const Tree tree = snapshot(program);
        EXPECT_EQ(tree, committed ? newTree : oldTree) << "killed at step " << at << " (" << step << "), folder now:\n"
                                                       << describe(tree);
        const bool journalled = contains(reached, "journal");
        const bool cleaned = contains(reached, "cleaned");
        const std::u16string report = recoveryMessage(!journalled || cleaned ? RecoveryOutcome::NothingToDo
                                                      : committed            ? RecoveryOutcome::Completed
                                                                             : RecoveryOutcome::RolledBack);
        EXPECT_EQ(messages.texts().empty(), report.empty()) << step;
        expectOnlyTheLock();
        // Nor does the archive the killed run had fetched stay behind.
        EXPECT_FALSE(fs::exists(program / "NewExe.zip")) << "killed at step " << at << " (" << step << ")";
    }
    // Killed while staging, after some moves, after the commit mark, during clean-up.
    for (const char* kind : {"unpack", "journal", "backup", "move", "folder", "synced", "committed", "cleaned"})
        EXPECT_TRUE(killedAt.count(kind)) << kind;
    EXPECT_TRUE(contains(allSteps, "backup removed"));
}

TEST_F(InstallCrash, InterruptsStopTheUpdateAndLeaveTheFolderWhole)
{
    struct Case {
        const char* name;
        const char* signal;
        const char* at;
        bool installed; // interrupted after the commit mark: the install is finished
    };
#ifdef _WIN32
    // Ctrl-C at every point: Wine sends no Ctrl-Break, and no process can
    // send the close and shut-down events; the handler sets one flag for all.
    const char* const term = "INT";
#else
    const char* const term = "TERM";
#endif
    const Case cases[] = {
        {"SIGINT during the download", "INT", "fetch", false},
        {"SIGTERM during unpacking", term, "unpack", false},
        {"SIGINT after the first file moved in", "INT", "move Data.bin", false},
        {"SIGTERM after some moves", term, "move Help/Tavrel.chm", false},
        {"SIGINT after the commit mark", "INT", "committed", true},
    };
    for (const Case& c : cases) {
        writeOldTree();
        const Tree oldTree = snapshot(program);
        const ChildRun r = runChild(work, {program.string(), server->url("/files/release.rar"), c.at, c.signal});
        EXPECT_EQ(r.exitCode(), c.installed ? kInstalled : kInterrupted) << c.name << "\n" << r.out;
        if (c.installed)
            EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program") << c.name;
        else
            EXPECT_EQ(snapshot(program), oldTree) << c.name;
        // Stopped at the step it was signalled at: nothing further was fetched, unpacked or moved.
        if (!c.installed) {
            EXPECT_EQ(r.steps().back(), c.at) << c.name;
        }
        expectOnlyTheLock(c.installed);
        for (const auto& entry : fs::directory_iterator(work))
            EXPECT_EQ(entry.path().filename().string().rfind(".NewExe.zip.part-", 0), std::string::npos) << c.name;
    }
}

} // namespace
