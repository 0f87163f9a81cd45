#pragma once
// A program run in a process of its own, in a folder of its choosing, with its
// standard output and error written to files, for tests that watch a whole
// process: its exit code, its output, its end under a signal or a kill.
#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// How a child ended and what it wrote.
struct ChildResult {
    // As waitpid gives it; on Windows the exit code, where an end by a
    // "signal" N is the exit code 128 + N that the killer gave (the shells' convention).
    int status = 0;
    std::string out;
    std::string err;
    // The exit code; -1 when the child did not exit by itself.
    int exitCode() const;
    bool killedBy(int signal) const;
};

class ChildProcess {
public:
    // What the child is started with. An empty output path keeps the test's
    // own stream; standard input is always /dev/null.
    struct Start {
        std::filesystem::path program{}; // found on PATH when it has no folder
        std::vector<std::string> arguments{};
        std::filesystem::path folder{}; // the child's current directory
        std::filesystem::path out{};
        std::filesystem::path err{};
    };

    // Starts the child; throws std::system_error when it cannot fork.
    explicit ChildProcess(const Start& start);
    // A child still running is killed and reaped.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int signal) const;
    // Waits for the end; a child still running after `limit` is killed, so
    // that a hang fails the test instead of stopping the suite.
    ChildResult wait(std::chrono::milliseconds limit = std::chrono::minutes(2));

    // Starts the child and waits for its end.
    static ChildResult run(const Start& start, std::chrono::milliseconds limit = std::chrono::minutes(2))
    {
        return ChildProcess(start).wait(limit);
    }

private:
    // What the ended child wrote to its output files.
    void readOutput(ChildResult& result) const;

    Start start_;
    pid_t pid_ = -1;
#ifdef _WIN32
    void* process_ = nullptr;
#endif
};

} // namespace testsupport
