#include "DateTimeValue.h"

#include "core/DateTime.h"

namespace {

constexpr int kDosEpochYear = 1980;
constexpr int kDosLastYear = kDosEpochYear + 127;

} // namespace

double encodeDateTime(int year, int month, int day, int hour, int minute, int second)
{
    try {
        return TDateTime::FromDateTime(year, month, day, hour, minute, second).Value;
    } catch (const EConvertError&) {
        return 0;
    }
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
