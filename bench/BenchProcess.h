#pragma once
// What the UnRAR benchmarks share: running each side as a whole process
// (the library's side is the benchmark itself started with --run, so both
// sides pay for starting a program and loading its libraries), walking an
// archive through libunrar.so, and the median of the rounds.
#include <string>
#include <vector>

namespace bench {

struct ProcessRun {
    bool ok = false;    // exited with 0
    double seconds = 0; // from the spawn to the exit
    long peakKiB = 0;   // peak resident memory
};

// Runs `args` (the program looked up on PATH) without a shell, its output
// and errors sent to /dev/null.
ProcessRun runProcess(std::vector<std::string> args);

// This program, for the library's side: `self --run test|extract ARCHIVE
// FOLDER [PASSWORD]` (the password set with RARSetPassword).
std::string selfPath();
std::vector<std::string> librarySide(const std::string& operation, const std::string& archive,
                                     const std::string& folder, const std::string& password = {});
// Handles a --run invocation (returns its exit code) or returns -1.
int runIfLibrarySide(int argc, char** argv);

double median(std::vector<double> v);

} // namespace bench
