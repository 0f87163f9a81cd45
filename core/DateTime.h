#pragma once
// Date-time values as the product stores them: days since 30 December 1899
// (day 0) with the time of day as the fraction (0.5 is noon). Shared by the
// archive component's file times and the data module's calendar services.
#include <stdexcept>

// A date that does not exist in the calendar.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TDateTime {
    double Value = 0;

    // Midnight of the day; throws EConvertError unless year 1..9999 and the
    // month and day form a calendar date.
    static TDateTime FromDate(int year, int month, int day);
    // A date and a time of day; throws EConvertError unless both exist.
    static TDateTime FromDateTime(int year, int month, int day, int hour, int minute, int second);

    // Year, month and day of the date part. The date part is the value
    // truncated toward zero, so a negative value with a time still names its own day.
    // Throws EConvertError for a value outside the years 1..9999 (NaN and infinities too).
    void DecodeDate(int& year, int& month, int& day) const;
};

bool IsLeapYear(int year);
