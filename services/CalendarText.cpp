#include "services/CalendarText.h"

#include "platform/TextCodec.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace services {

namespace {

// Literals are UTF-16 so that they reach the 8-bit code page of any system intact.
constexpr std::array<const char16_t*, 13> kUkrMonths = {u"Помилка", u"Січень",   u"Лютий",  u"Березень", u"Квітень",
                                                        u"Травень", u"Червень",  u"Липень", u"Серпень",  u"Вересень",
                                                        u"Жовтень", u"Листопад", u"Грудень"};
constexpr std::array<const char16_t*, 13> kRusMonths = {u"Ошибка",  u"Январь", u"Февраль", u"Март",   u"Апрель",
                                                        u"Май",     u"Июнь",   u"Июль",    u"Август", u"Сентябрь",
                                                        u"Октябрь", u"Ноябрь", u"Декабрь"};

std::string monthName(const std::array<const char16_t*, 13>& names, int Num)
{
    return platform::utf16ToAnsi(names[Num >= 1 && Num <= 12 ? Num : 0]);
}

constexpr std::u16string_view kColumnLetters = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ";

int hexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

// The date of `date` with the time of `time`.
TDateTime replaceDate(TDateTime time, TDateTime date)
{
    const double day = std::trunc(date.Value);
    const double fraction = std::fabs(time.Value - std::trunc(time.Value));
    return {day < 0 ? day - fraction : day + fraction};
}

} // namespace

std::string UkrMonth(int Num) { return monthName(kUkrMonths, Num); }

std::string RusMonth(int Num) { return monthName(kRusMonths, Num); }

std::u16string NameCol(int i)
{
    // Bijective base 26: the same names as the letter table for 1..702,
    // and the spreadsheet's own names (AAA...) beyond.
    std::u16string name;
    for (long long n = i; n > 0; n = (n - 1) / 26)
        name.insert(name.begin(), kColumnLetters[static_cast<size_t>((n - 1) % 26)]);
    return name;
}

std::string DelForbidSimbol(const std::string& SN)
{
    // All nine are ASCII, which never occurs inside a multibyte UTF-8 character.
    std::string result = SN;
    for (const char forbidden : {'|', '/', '\\', ':', '*', '?', '"', '<', '>'})
        result.erase(std::remove(result.begin(), result.end(), forbidden), result.end());
    return result;
}

std::int32_t Hex2Dec(const std::u16string& S)
{
    const std::u16string text = S.find(u'$') != std::u16string::npos ? S : u"$" + S;
    size_t pos = 0;
    while (pos < text.size() && text[pos] == u' ')
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-'))
        negative = text[pos++] == u'-';
    if (pos >= text.size() || text[pos] != u'$')
        return 0;
    ++pos;
    if (pos >= text.size())
        return 0;
    std::uint64_t value = 0;
    for (; pos < text.size(); ++pos) {
        const int digit = hexDigit(text[pos]);
        if (digit < 0)
            return 0;
        value = value * 16 + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFu)
            return 0;
    }
    // Unsigned arithmetic: negating 80000000 wraps as the 32-bit value does.
    auto bits = static_cast<std::uint32_t>(value);
    if (negative)
        bits = 0u - bits;
    return static_cast<std::int32_t>(bits);
}

std::uint16_t DayInMonth(std::uint16_t M, std::uint16_t Y)
{
    switch (M) {
    case 1:
    case 3:
    case 5:
    case 7:
    case 8:
    case 10:
    case 12: return 31;
    case 2: return IsLeapYear(Y) ? 29 : 28;
    default: return 30;
    }
}

TDateTime IdentDate(std::uint16_t NY, std::uint16_t NMes, std::uint16_t N)
{
    if (NMes != 0)
        return TDateTime::FromDate(NY, NMes, N);
    const int daysInYear = IsLeapYear(NY) ? 366 : 365;
    if (N < 1 || N > daysInYear)
        throw EConvertError("Invalid day " + std::to_string(N) + " of year " + std::to_string(NY));
    return {TDateTime::FromDate(NY, 1, 1).Value + (N - 1)};
}

std::string MakeEven(const std::string& S, std::uint16_t N)
{
    // Counted in characters, not bytes, so a multibyte character is never cut in half.
    const size_t width = std::min<std::uint16_t>(N, 255);
    const std::u16string wide = platform::ansiToUtf16(S);
    std::u16string result;
    size_t characters = 0;
    for (size_t i = 0; i < wide.size() && characters < width; ++characters) {
        const bool pair = wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size();
        result.append(wide, i, pair ? 2 : 1);
        i += pair ? 2 : 1;
    }
    result.append(width - characters, u' ');
    return platform::utf16ToAnsi(result);
}

bool FindInStr(const std::string& S, const std::string& Num)
{
    if (S == Num)
        return true;
    if (S.find("," + Num + ",") != std::string::npos)
        return true;
    const std::string head = Num + ",";
    if (S.compare(0, head.size(), head) == 0)
        return true;
    const std::string tail = "," + Num;
    return S.size() >= tail.size() && S.compare(S.size() - tail.size(), tail.size(), tail) == 0;
}

void NormTBreak(TDateTime TDat, TDateTime DBegin, TDateTime& DN, TDateTime& DK)
{
    DN = replaceDate(DN, TDat);
    DK = replaceDate(DK, TDat);
    if (DN.Value == DK.Value)
        return;
    const TDateTime nextDay{TDat.Value + 1};
    if (DN.Value < DBegin.Value)
        DN = replaceDate(DN, nextDay);
    if (DK.Value < DN.Value)
        DK = replaceDate(DK, nextDay);
}

} // namespace services
