#pragma once
// Message boxes of the dialog program: the standard message dialog with one
// OK button, modal, centred on the active window.
#include "platform/Messages.h"

namespace platform {

class QtMessages : public Messages {
public:
    void error(const std::u16string& text) override;
    void information(const std::u16string& text) override;
    void plain(const std::u16string& text, const std::u16string& caption) override;
    bool question(const std::u16string& text, const std::u16string& caption) override;
};

} // namespace platform
