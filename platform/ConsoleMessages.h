#pragma once
// Prints message boxes as lines, for the command-line front end.
#include "Messages.h"

#include <ostream>

namespace platform {

class ConsoleMessages : public Messages {
public:
    ConsoleMessages(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
    void error(const std::u16string& text) override;
    void information(const std::u16string& text) override;
    void plain(const std::u16string& text, const std::u16string& caption) override;

private:
    std::ostream& out_;
    std::ostream& err_;
};

} // namespace platform
