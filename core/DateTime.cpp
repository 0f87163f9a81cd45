#include "core/DateTime.h"

#include <cmath>
#include <string>

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date, and back
// (H. Hinnant's civil-date algorithms).
long long daysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civilFromDays(long long z, int& year, int& month, int& day)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<long long>(yoe) + era * 400 + (month <= 2));
}

const long long kDay0 = daysFromCivil(1899, 12, 30);
// 1 January of year 1 and 31 December 9999.
const double kFirstDay = static_cast<double>(daysFromCivil(1, 1, 1) - kDay0);
const double kLastDay = static_cast<double>(daysFromCivil(9999, 12, 31) - kDay0);

int daysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

} // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

TDateTime TDateTime::FromDate(int year, int month, int day)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month))
        throw EConvertError("Invalid argument to date encode: " + std::to_string(year) + "-" + std::to_string(month) +
                            "-" + std::to_string(day));
    return {static_cast<double>(daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kDay0)};
}

TDateTime TDateTime::FromDateTime(int year, int month, int day, int hour, int minute, int second)
{
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        throw EConvertError("Invalid argument to time encode: " + std::to_string(hour) + ":" + std::to_string(minute) +
                            ":" + std::to_string(second));
    return {FromDate(year, month, day).Value + (hour * 3600 + minute * 60 + second) / 86400.0};
}

void TDateTime::DecodeDate(int& year, int& month, int& day) const
{
    // Checked before the conversion to an integer, which is undefined for
    // values out of its range.
    const double date = std::trunc(Value);
    if (!(date >= kFirstDay && date <= kLastDay))
        throw EConvertError("Invalid date value: " + std::to_string(Value));
    civilFromDays(static_cast<long long>(date) + kDay0, year, month, day);
}
