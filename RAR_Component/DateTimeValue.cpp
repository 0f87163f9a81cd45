#include "DateTimeValue.h"

namespace {

bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : kDays[month - 1];
}

// Days from 1 January of year 1 to the given date (proleptic Gregorian).
long daysFromCivilOrigin(int year, int month, int day)
{
    const long y = year - 1;
    long days = y * 365 + y / 4 - y / 100 + y / 400;
    for (int m = 1; m < month; ++m)
        days += daysInMonth(year, m);
    return days + day - 1;
}

constexpr int kDosEpochYear = 1980;
constexpr int kDosLastYear = kDosEpochYear + 127;

} // namespace

double encodeDateTime(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month))
        return 0;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return 0;
    static const long kDayZero = daysFromCivilOrigin(1899, 12, 30);
    const double date = static_cast<double>(daysFromCivilOrigin(year, month, day) - kDayZero);
    return date + (hour * 3600 + minute * 60 + second) / 86400.0;
}

double dosDateTimeToValue(std::uint32_t dosDateTime)
{
    const std::uint32_t date = dosDateTime >> 16;
    const std::uint32_t time = dosDateTime & 0xFFFF;
    return encodeDateTime(static_cast<int>(date >> 9) + kDosEpochYear, static_cast<int>((date >> 5) & 0x0F),
                          static_cast<int>(date & 0x1F), static_cast<int>(time >> 11),
                          static_cast<int>((time >> 5) & 0x3F), static_cast<int>((time & 0x1F) * 2));
}

double localDosTimeToValue(std::time_t moment)
{
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &moment) != 0)
        return 0;
#else
    if (localtime_r(&moment, &local) == nullptr)
        return 0;
#endif
    const int year = local.tm_year + 1900;
    if (year < kDosEpochYear || year > kDosLastYear)
        return 0;
    return encodeDateTime(year, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          (local.tm_sec > 59 ? 59 : local.tm_sec) / 2 * 2);
}
