#include "services/CalendarText.h"

#include "platform/TextCodec.h"
#include "tests/support/AnsiText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

using namespace services;

namespace {

double dateOf(int y, int m, int d) { return TDateTime::FromDate(y, m, d).Value; }

std::string utf8(const std::u16string& text) { return platform::toUtf8(text); }

} // namespace

TEST(MonthNames, EveryMonthAndTheErrorWordOutsideOneToTwelve)
{
    const std::vector<std::string> ukr = {"Помилка", "Січень",   "Лютий",  "Березень", "Квітень",
                                          "Травень", "Червень",  "Липень", "Серпень",  "Вересень",
                                          "Жовтень", "Листопад", "Грудень"};
    const std::vector<std::string> rus = {"Ошибка", "Январь", "Февраль",  "Март",    "Апрель", "Май",    "Июнь",
                                          "Июль",   "Август", "Сентябрь", "Октябрь", "Ноябрь", "Декабрь"};
    for (int m = 1; m <= 12; ++m) {
        EXPECT_EQ(UkrMonth(m), testsupport::ansi(ukr[m])) << m;
        EXPECT_EQ(RusMonth(m), testsupport::ansi(rus[m])) << m;
    }
    for (const int outside : {0, 13, -1, -2147483647 - 1, 2147483647}) {
        EXPECT_EQ(UkrMonth(outside), testsupport::ansi("Помилка")) << outside;
        EXPECT_EQ(RusMonth(outside), testsupport::ansi("Ошибка")) << outside;
    }
}

TEST(NameCol, LettersOfTheColumnTableAndBeyond)
{
    const struct {
        int column;
        const char* name;
    } rows[] = {
        {1, "A"},
        {2, "B"},
        {26, "Z"},
        {27, "AA"},
        {52, "AZ"},
        {53, "BA"},
        {78, "BZ"},
        {676, "YZ"},
        {677, "ZA"},
        {702, "ZZ"},
        // Beyond ZZ the names go on as a spreadsheet names them.
        {703, "AAA"},
        {728, "AAZ"},
        {16384, "XFD"},
        // No column: empty.
        {0, ""},
        {-5, ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(utf8(NameCol(row.column)), row.name) << row.column;
}

TEST(DelForbidSimbol, RemovesTheNineCharactersAndKeepsTheRest)
{
    const struct {
        const char* in;
        const char* out;
    } rows[] = {
        {"|/\\:*?\"<>", ""},
        {"Отчёт: май/июнь?.xls", "Отчёт майиюнь.xls"},
        {"a|b|c", "abc"},
        {"plain name.txt", "plain name.txt"},
        {"", ""},
        {"<<>>", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(DelForbidSimbol(row.in), row.out) << row.in;
}

TEST(Hex2Dec, ReadsHexadecimalAndGivesZeroForEverythingElse)
{
    const struct {
        const char16_t* in;
        std::int32_t value;
    } rows[] = {
        {u"FF", 255},
        {u"ff", 255},
        {u"0", 0},
        {u"7FFFFFFF", 2147483647},
        {u"80000000", -2147483647 - 1},
        {u"FFFFFFFF", -1},
        {u"00000000FF", 255}, // leading zeros do not count
        {u"$1F", 31},
        {u"-$1F", -31},
        {u"+$1F", 31},
        {u"  $1F", 31}, // blanks are allowed before a "$" of the text's own
        {u"  -$10", -16},
        {u"-$80000000", -2147483647 - 1},
        {u"", 0},
        {u"$", 0},
        {u" FF", 0}, // without a "$" the blank stands behind the added one
        {u"-1F", 0},
        {u"FF ", 0},
        {u"1FFFFFFFF", 0}, // nine significant digits
        {u"G1", 0},
        {u"1$F", 0},
        {u"$$1", 0},
        {u"0x1F", 0},
        {u"\tFF", 0},
        {u"Ф", 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Hex2Dec(row.in), row.value) << utf8(row.in);
}

TEST(DayInMonth, MonthLengthsWithTheGregorianLeapYearRule)
{
    const struct {
        std::uint16_t month, year, days;
    } rows[] = {
        {1, 2023, 31}, {3, 2023, 31},  {4, 2023, 30},  {5, 2023, 31},  {6, 2023, 30},     {7, 2023, 31}, {8, 2023, 31},
        {9, 2023, 30}, {10, 2023, 31}, {11, 2023, 30}, {12, 2023, 31}, {2, 2023, 28},     {2, 2024, 29}, {2, 1900, 28},
        {2, 2000, 29}, {2, 2100, 28},  {0, 2024, 30},  {13, 2024, 30}, {65535, 2024, 30},
    };
    for (const auto& row : rows)
        EXPECT_EQ(DayInMonth(row.month, row.year), row.days) << row.month << "/" << row.year;
}

TEST(IdentDate, CalendarDatesAndDaysOfTheYear)
{
    const struct {
        std::uint16_t year, month, day;
        int expectYear, expectMonth, expectDay;
    } rows[] = {
        {2024, 3, 15, 2024, 3, 15},   {1899, 12, 30, 1899, 12, 30}, {2024, 0, 1, 2024, 1, 1},
        {2024, 0, 60, 2024, 2, 29},   {2023, 0, 60, 2023, 3, 1},    {2024, 0, 366, 2024, 12, 31},
        {2023, 0, 365, 2023, 12, 31}, {1900, 0, 60, 1900, 3, 1},    {2000, 0, 60, 2000, 2, 29},
    };
    for (const auto& row : rows) {
        const TDateTime date = IdentDate(row.year, row.month, row.day);
        EXPECT_EQ(date.Value, dateOf(row.expectYear, row.expectMonth, row.expectDay))
            << row.year << "/" << row.month << "/" << row.day;
        EXPECT_EQ(date.Value, std::trunc(date.Value)) << "no time part";
    }
    EXPECT_EQ(IdentDate(1899, 12, 30).Value, 0);
    EXPECT_EQ(IdentDate(1900, 1, 1).Value, 2);
}

TEST(IdentDate, ImpossibleDatesFailWithTheDateConversionError)
{
    const struct {
        std::uint16_t year, month, day;
    } rows[] = {
        {2023, 2, 29},
        {2024, 2, 30},
        {2024, 4, 31},
        {2024, 13, 1},
        {2024, 1, 0},
        {0, 1, 1},
        {10000, 1, 1},
        // A day number outside the year fails like any other impossible date.
        {2024, 0, 0},
        {2023, 0, 366},
        {2024, 0, 367},
        {2024, 0, 65535},
        {0, 0, 1},
    };
    for (const auto& row : rows)
        EXPECT_THROW(IdentDate(row.year, row.month, row.day), EConvertError)
            << row.year << "/" << row.month << "/" << row.day;
}

TEST(MakeEven, CutsOrFillsToTheWidthInCharacters)
{
    const struct {
        const char* in;
        std::uint16_t width;
        std::string out;
    } rows[] = {
        {"abc", 5, "abc  "},
        {"abcdef", 3, "abc"},
        {"abc", 3, "abc"},
        {"abc", 0, ""},
        {"", 2, "  "},
        // Cyrillic letters are one character each, never cut in half.
        {"Март", 2, "Ма"},
        {"Май", 5, "Май  "},
    };
    for (const auto& row : rows)
        EXPECT_EQ(MakeEven(testsupport::ansi(row.in), row.width), testsupport::ansi(row.out)) << row.in << " " << row.width;
    EXPECT_EQ(MakeEven("x", 300), "x" + std::string(254, ' ')) << "a width above 255 counts as 255";
    EXPECT_EQ(MakeEven(std::string(400, 'y'), 65535), std::string(255, 'y'));
}

TEST(FindInStr, ItemsOfACommaSeparatedList)
{
    const struct {
        const char* list;
        const char* item;
        bool found;
    } rows[] = {
        {"5,12,1", "1", true}, // the last item, though 12 begins with the same digit
        {"5,12", "1", false},   {"5,12,1", "5", true},  {"5,12,1", "12", true},
        {"12", "12", true},     {"12", "1", false},     {"512,1234", "12", false},
        {"", "1", false},       {"5, 12", "12", false}, // items are not trimmed
        {"5, 12", " 12", true}, {"a,B", "b", false},    // case-sensitive
        {"1,,2", "", true},
    };
    for (const auto& row : rows)
        EXPECT_EQ(FindInStr(row.list, row.item), row.found) << row.list << " / " << row.item;
}

TEST(NormTBreak, PlacesTheBreakOnTheWorkingDayOrTheNext)
{
    const double day = dateOf(2024, 3, 15);
    const double otherDay = dateOf(2001, 7, 4); // the break's own date plays no part
    const auto at = [](double date, int hour, int minute) { return date + (hour * 60 + minute) / 1440.0; };
    const struct {
        const char* name;
        double begin, breakStart, breakEnd;
        double expectStart, expectEnd;
    } rows[] = {
        {"day shift", at(day, 8, 0), at(otherDay, 12, 0), at(otherDay, 13, 0), at(day, 12, 0), at(day, 13, 0)},
        {"night shift, break after midnight", at(day, 22, 0), at(otherDay, 2, 0), at(otherDay, 2, 30),
         at(day + 1, 2, 0), at(day + 1, 2, 30)},
        {"night shift, break across midnight", at(day, 22, 0), at(otherDay, 23, 30), at(otherDay, 0, 30),
         at(day, 23, 30), at(day + 1, 0, 30)},
        {"empty break before the shift stays", at(day, 22, 0), at(otherDay, 2, 0), at(otherDay, 2, 0), at(day, 2, 0),
         at(day, 2, 0)},
    };
    for (const auto& row : rows) {
        TDateTime start{row.breakStart};
        TDateTime end{row.breakEnd};
        NormTBreak({day}, {row.begin}, start, end);
        EXPECT_NEAR(start.Value, row.expectStart, 1e-9) << row.name;
        EXPECT_NEAR(end.Value, row.expectEnd, 1e-9) << row.name;
    }
}
