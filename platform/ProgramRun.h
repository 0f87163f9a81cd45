#pragma once
// Running another program to its end, for checks that must not risk this
// process: a program that does not start, hangs or crashes only fails the check.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct ProgramResult {
    // The exit code; nothing when the program could not be started, was
    // killed by a signal, or ran past its time and was stopped.
    std::optional<int> exitCode;
    // Why it did not run to a normal end, or what it wrote to standard error
    // (the first few KiB; POSIX only), for the user's message.
    std::string problem;
};

// Runs `program` (an 8-bit path) with `arguments`, standard input empty and
// standard output discarded, and waits at most `limit` for its end. Its end
// is that of the program itself, not of what it started; anything it started
// that still runs then (or when the time is up) is stopped with it (POSIX: its
// process group; Windows: its job).
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds limit);

} // namespace platform
