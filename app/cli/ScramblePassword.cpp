#include "ScramblePassword.h"

#include "db/Scramble.h"

#include <iostream>
#include <string>

#ifndef _WIN32
#include <termios.h>
#include <unistd.h>
#endif

namespace {

// Turns the terminal's echo off for its lifetime, when standard input is one.
class HiddenInput {
public:
    HiddenInput()
    {
#ifndef _WIN32
        hidden_ = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved_) == 0;
        if (!hidden_)
            return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::cerr << "Password: " << std::flush;
#endif
    }
    ~HiddenInput()
    {
#ifndef _WIN32
        if (hidden_) {
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
            std::cerr << std::endl;
        }
#endif
    }
    HiddenInput(const HiddenInput&) = delete;
    HiddenInput& operator=(const HiddenInput&) = delete;

private:
#ifndef _WIN32
    termios saved_{};
    bool hidden_ = false;
#endif
};

} // namespace

int scramblePassword()
{
    std::string password;
    {
        HiddenInput hidden;
        if (!std::getline(std::cin, password)) {
            std::cerr << "tavrel-update: no password on standard input" << std::endl;
            return 64;
        }
    }
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    std::cout << scramble::XorEncode(password) << std::endl;
    return 0;
}
