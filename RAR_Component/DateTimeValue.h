#pragma once
// Date-time values: days since 30 December 1899 with the time of day as the
// fraction, the form in which the component reports file times.
#include <cstdint>
#include <ctime>

// A packed MS-DOS date (high 16 bits) and time (low 16 bits), read as they
// stand, without time-zone conversion. An impossible date or time (a zeroed
// field, month 13, second 60) gives 0 instead of a wrong day.
double dosDateTimeToValue(std::uint32_t dosDateTime);

// A calendar date and time of day as a date-time value; 0 when out of range.
double encodeDateTime(int year, int month, int day, int hour, int minute, int second);

// A moment in local time at MS-DOS resolution (seconds rounded down to even);
// 0 when MS-DOS cannot hold it (before 1980 or after 2107).
double localDosTimeToValue(std::time_t moment);
