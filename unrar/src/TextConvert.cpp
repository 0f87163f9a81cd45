#include "unrar/src/TextConvert.h"

namespace unrar {
namespace {

void appendUtf8(std::string& out, uint32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendWide(std::wstring& out, uint32_t cp)
{
    if constexpr (sizeof(wchar_t) == 2) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (cp >> 10));
            out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
            return;
        }
    }
    out += static_cast<wchar_t>(cp);
}

// Decodes one UTF-8 sequence at `i`; returns false on malformed input.
bool nextUtf8(const std::string& s, size_t& i, uint32_t& cp)
{
    unsigned char c = s[i];
    int extra;
    uint32_t min;
    if (c < 0x80) {
        cp = c;
        ++i;
        return true;
    }
    if ((c & 0xE0) == 0xC0) {
        cp = c & 0x1F;
        extra = 1;
        min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        cp = c & 0x0F;
        extra = 2;
        min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        cp = c & 0x07;
        extra = 3;
        min = 0x10000;
    } else
        return false;
    if (i + extra >= s.size())
        return false;
    for (int k = 1; k <= extra; ++k) {
        unsigned char d = s[i + k];
        if ((d & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (d & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
    i += extra + 1;
    return true;
}

} // namespace

bool isValidUtf8(const std::string& s)
{
    uint32_t cp;
    for (size_t i = 0; i < s.size();)
        if (!nextUtf8(s, i, cp))
            return false;
    return true;
}

std::wstring utf8ToWide(const std::string& s)
{
    std::wstring out;
    uint32_t cp;
    for (size_t i = 0; i < s.size();) {
        if (nextUtf8(s, i, cp)) {
            appendWide(out, cp);
        } else {
            appendWide(out, 0xFFFD);
            ++i;
        }
    }
    return out;
}

std::string wideToUtf8(const std::wstring& w)
{
    std::string out;
    for (size_t i = 0; i < w.size(); ++i) {
        uint32_t cp = static_cast<uint32_t>(w[i]);
        if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp < 0xDC00 && i + 1 < w.size()) {
            uint32_t lo = static_cast<uint32_t>(w[i + 1]);
            if (lo >= 0xDC00 && lo < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        appendUtf8(out, cp);
    }
    return out;
}

std::wstring utf16ToWide(const std::u16string& s)
{
    std::wstring out;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        appendWide(out, cp);
    }
    return out;
}

std::wstring legacyToWide(const std::string& s)
{
    if (isValidUtf8(s))
        return utf8ToWide(s);
    std::wstring out;
    for (unsigned char c : s)
        out += static_cast<wchar_t>(c);
    return out;
}

std::wstring decodeRar4UnicodeName(const std::string& field)
{
    size_t zero = field.find('\0');
    if (zero == std::string::npos)
        return legacyToWide(field); // old RAR: UTF-8 in the field
    const std::string a = field.substr(0, zero);
    const std::string e = field.substr(zero + 1);
    if (e.empty())
        return legacyToWide(a);
    auto A = [&a](size_t i) -> uint8_t { return i < a.size() ? static_cast<uint8_t>(a[i]) : 0; };
    auto E = [&e](size_t i) -> uint8_t { return static_cast<uint8_t>(e[i]); };
    // A correct encoder never outruns the field; the bound stops one that does.
    const size_t limit = field.size();
    std::u16string w;
    const uint16_t high = E(0);
    size_t p = 1;
    int nbits = 0;
    uint8_t flags = 0;
    while (p < e.size() && w.size() < limit) {
        if (nbits == 0) {
            flags = E(p++);
            nbits = 8;
            if (p >= e.size())
                break;
        }
        switch (flags >> 6) {
        case 0: w += static_cast<char16_t>(E(p++)); break;
        case 1: w += static_cast<char16_t>((high << 8) | E(p++)); break;
        case 2:
            if (p + 1 >= e.size()) {
                p = e.size();
                break;
            }
            w += static_cast<char16_t>(E(p) | (E(p + 1) << 8));
            p += 2;
            break;
        default: {
            uint8_t len = E(p++);
            if (len & 0x80) {
                if (p >= e.size()) {
                    p = e.size();
                    break;
                }
                uint8_t correction = E(p++);
                for (int k = 0; k < (len & 0x7F) + 2 && w.size() < limit; ++k)
                    w += static_cast<char16_t>((high << 8) | ((A(w.size()) + correction) & 0xFF));
            } else {
                for (int k = 0; k < len + 2 && w.size() < limit; ++k)
                    w += static_cast<char16_t>(A(w.size()));
            }
        }
        }
        flags = static_cast<uint8_t>(flags << 2);
        nbits -= 2;
    }
    size_t nul = w.find(u'\0');
    if (nul != std::u16string::npos)
        w.resize(nul);
    return utf16ToWide(w);
}

} // namespace unrar
