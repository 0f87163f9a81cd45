#pragma once
// Prints message boxes as lines, for the command-line front end.
#include "Messages.h"

#include <istream>
#include <ostream>

namespace platform {

class ConsoleMessages : public Messages {
public:
    // Questions read their answer as a line from `in`; without one they are
    // answered No, the default button of a box.
    ConsoleMessages(std::ostream& out, std::ostream& err, std::istream* in = nullptr) : out_(out), err_(err), in_(in) {}
    void error(const std::u16string& text) override;
    void information(const std::u16string& text) override;
    void plain(const std::u16string& text, const std::u16string& caption) override;
    // Prints "caption: text [y/N] "; "y", "yes", "д" or "да" in any case
    // answers Yes, anything else No.
    bool question(const std::u16string& text, const std::u16string& caption) override;

private:
    std::ostream& out_;
    std::ostream& err_;
    std::istream* in_;
};

} // namespace platform
