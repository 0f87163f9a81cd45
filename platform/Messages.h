#pragma once
// Every message box of the program goes through this interface, so that the
// dialog program shows real boxes, the command-line front end prints, and
// tests record the texts in order.
#include <string>

namespace platform {

enum class MessageKind { Error, Information, Plain, Question };

class Messages {
public:
    virtual ~Messages() = default;
    // Modal box with an error icon and a single OK button; returns once closed.
    virtual void error(const std::u16string& text) = 0;
    // Modal box with an information icon and a single OK button.
    virtual void information(const std::u16string& text) = 0;
    // Box without owner and without icon, with a caption.
    virtual void plain(const std::u16string& text, const std::u16string& caption) = 0;
    // Modal box with a question icon and the buttons Yes and No, No being the
    // default; true when the user answers Yes.
    virtual bool question(const std::u16string& text, const std::u16string& caption) = 0;
};

} // namespace platform
