#pragma once
// The command line's text on a console. The program's 8-bit text is UTF-8.
// A Windows console shows the characters of its own code page (866 for
// Russian), so there lines reach it as UTF-16 and come from it so; output to
// a file or a pipe, and input from one, stay UTF-8 bytes. A Linux terminal
// takes UTF-8 as it is.
#include <memory>
#include <optional>
#include <string>

namespace platform {

// For its lifetime, std::cout and std::cerr write to the console as UTF-16
// where they are one.
class ConsoleStreams {
public:
    ConsoleStreams();
    ~ConsoleStreams();
    ConsoleStreams(const ConsoleStreams&) = delete;
    ConsoleStreams& operator=(const ConsoleStreams&) = delete;

    struct Redirected;

private:
    std::unique_ptr<Redirected> redirected_;
};

// One line of standard input without its line end, in UTF-8; nothing at its
// end. `hidden`: a console or terminal does not echo it, and `prompt` is
// shown on standard error first.
std::optional<std::string> readInputLine(bool hidden, const std::string& prompt);

// One line of std::cin as it is, without its line end (LF or CR LF).
std::optional<std::string> readStandardLine();

} // namespace platform
