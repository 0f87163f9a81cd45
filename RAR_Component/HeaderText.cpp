#include "HeaderText.h"

#include <cstring>

std::string boundedText(const char* buffer, std::size_t capacity)
{
    if (buffer == nullptr)
        return {};
    const void* zero = std::memchr(buffer, 0, capacity);
    const std::size_t length = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - buffer) : capacity;
    return std::string(buffer, length);
}

std::u16string boundedWideText(const void* buffer, std::size_t capacity)
{
    std::u16string out;
    for (std::size_t i = 0; i < capacity; ++i) {
        wchar_t c;
        std::memcpy(&c, static_cast<const char*>(buffer) + i * sizeof c, sizeof c);
        if (c == 0)
            break;
        const auto cp = static_cast<char32_t>(c);
        if constexpr (sizeof(wchar_t) == 2) {
            out.push_back(static_cast<char16_t>(cp));
        } else if (cp >= 0x10000 && cp <= 0x10FFFF) {
            const char32_t v = cp - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else if (cp > 0x10FFFF) {
            out.push_back(u'\uFFFD');
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}
