// Running another program to its end, with real processes: what it started
// must not outlive it, and a child that keeps its output open must not be
// taken for the program still running.
#include "platform/ProgramRun.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <thread>

#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Running, and not a zombie that no one has reaped yet.
bool running(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    const std::size_t state = line.rfind(')') + 2;
    return state < line.size() && line[state] != 'Z' && line[state] != 'X';
}

bool endsWithin(pid_t pid, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (running(pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    return !running(pid);
}

} // namespace

TEST(ProgramRun, NothingItStartedOutlivesItAndItsOwnEndIsWhatCounts)
{
    struct Case {
        const char* name;
        const char* script; // writes the pid of the child it leaves to "child"
        std::chrono::milliseconds limit;
        std::optional<int> exitCode;
        const char* problem;
        std::chrono::milliseconds longest; // the run's time at the most
    };
    const Case cases[] = {
        {"hangs while its child runs", "sleep 300 &\necho $! > child\nwait\n", 1000ms, std::nullopt,
         "did not end within 1 s", 5000ms},
        {"ends at once, leaving a child that holds its standard error",
         "echo 'tavrel-update 1.0'\necho note >&2\nsleep 300 &\necho $! > child\nexit 0\n", 20000ms, 0, "note\n",
         5000ms},
        {"fails at once, leaving a child", "sleep 300 &\necho $! > child\necho broken >&2\nexit 3\n", 20000ms, 3,
         "broken\n", 5000ms},
    };
    for (const Case& c : cases) {
        testsupport::TempDir dir{"tavrel-program-run"};
        const fs::path script = dir / "tavrel-update";
        testsupport::writeFileBytes(script, "#!/bin/sh\ncd '" + dir.path().string() + "'\n" + c.script);
        ::chmod(script.c_str(), 0755);

        const auto started = std::chrono::steady_clock::now();
        const platform::ProgramResult result = platform::runProgram(script.string(), {"--version"}, c.limit);
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(result.exitCode, c.exitCode) << c.name << ": " << result.problem;
        EXPECT_EQ(result.problem, c.problem) << c.name;
        EXPECT_LT(took, c.longest) << c.name;

        const std::string child = testsupport::readFileBytes(dir / "child");
        ASSERT_FALSE(child.empty()) << c.name;
        const pid_t pid = std::stoi(child);
        EXPECT_TRUE(endsWithin(pid, 2000ms)) << c.name << ": the child " << pid << " still runs";
        if (running(pid))
            ::kill(pid, SIGKILL);
    }
}
