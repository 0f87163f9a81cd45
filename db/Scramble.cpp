#include "db/Scramble.h"

namespace scramble {

namespace {

// Stored passwords depend on this exact key; changing it makes every
// existing "Password" value unreadable.
constexpr std::string_view Key = "8vGaLm.rDuQ3";

unsigned char keyByte(std::size_t position) { return static_cast<unsigned char>(Key[position % Key.size()]); }

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string XorEncode(std::string_view Source)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string result;
    result.reserve(Source.size() * 2);
    for (std::size_t i = 0; i < Source.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(Source[i]) ^ keyByte(i);
        result += digits[b >> 4];
        result += digits[b & 0x0F];
    }
    return result;
}

std::string XorDecode(std::string_view Source)
{
    std::string result;
    const std::size_t pairs = Source.size() / 2;
    result.reserve(pairs);
    for (std::size_t i = 0; i < pairs; ++i) {
        const int high = hexDigit(Source[2 * i]);
        const int low = hexDigit(Source[2 * i + 1]);
        const int value = (high < 0 || low < 0) ? 32 : high * 16 + low;
        result += static_cast<char>(static_cast<unsigned char>(value) ^ keyByte(i));
    }
    return result;
}

} // namespace scramble
