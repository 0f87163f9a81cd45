#include "ConsoleText.h"

#include <iostream>

#include <termios.h>
#include <unistd.h>

namespace platform {

struct ConsoleStreams::Redirected {};

ConsoleStreams::ConsoleStreams() = default;
ConsoleStreams::~ConsoleStreams() = default;

namespace {

// Turns the terminal's echo off for its lifetime, when standard input is one.
class HiddenInput {
public:
    HiddenInput(bool hide, const std::string& prompt)
    {
        hidden_ = hide && ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved_) == 0;
        if (!hidden_)
            return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::cerr << prompt << std::flush;
    }
    ~HiddenInput()
    {
        if (hidden_) {
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
            std::cerr << std::endl;
        }
    }
    HiddenInput(const HiddenInput&) = delete;
    HiddenInput& operator=(const HiddenInput&) = delete;

private:
    termios saved_{};
    bool hidden_ = false;
};

} // namespace

std::optional<std::string> readInputLine(bool hidden, const std::string& prompt)
{
    const HiddenInput quiet(hidden, prompt);
    return readStandardLine();
}

} // namespace platform
