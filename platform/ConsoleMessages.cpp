#include "ConsoleMessages.h"

#include "TextCodec.h"

namespace platform {

void ConsoleMessages::error(const std::u16string& text) { err_ << "error: " << toUtf8(text) << std::endl; }

void ConsoleMessages::information(const std::u16string& text) { out_ << toUtf8(text) << std::endl; }

void ConsoleMessages::plain(const std::u16string& text, const std::u16string& caption)
{
    err_ << toUtf8(caption) << ": " << toUtf8(text) << std::endl;
}

} // namespace platform
