#include "ConsoleMessages.h"

#include "TextCodec.h"

namespace platform {

void ConsoleMessages::error(const std::u16string& text) { err_ << "error: " << toUtf8(text) << std::endl; }

void ConsoleMessages::information(const std::u16string& text) { out_ << toUtf8(text) << std::endl; }

void ConsoleMessages::plain(const std::u16string& text, const std::u16string& caption)
{
    err_ << toUtf8(caption) << ": " << toUtf8(text) << std::endl;
}

bool ConsoleMessages::question(const std::u16string& text, const std::u16string& caption)
{
    err_ << toUtf8(caption) << ": " << toUtf8(text) << " [y/N] " << std::flush;
    std::string line;
    if (in_ == nullptr || !std::getline(*in_, line)) {
        err_ << "n" << std::endl;
        return false;
    }
    // Blanks and the case of the letters do not count.
    std::u16string answer;
    for (char16_t c : toUtf16(line)) {
        if (c == u' ' || c == u'\t' || c == u'\r')
            continue;
        if ((c >= u'A' && c <= u'Z') || (c >= u'А' && c <= u'Я'))
            c = static_cast<char16_t>(c + 0x20);
        answer += c;
    }
    return answer == u"y" || answer == u"yes" || answer == u"д" || answer == u"да";
}

} // namespace platform
