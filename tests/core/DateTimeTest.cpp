#include "core/DateTime.h"

#include <gtest/gtest.h>

#include <limits>

TEST(TDateTime, DayNumbersCountFromThe30thOfDecember1899)
{
    const struct {
        int y, m, d;
        double value;
    } rows[] = {
        {1899, 12, 30, 0},   {1899, 12, 31, 1},    {1900, 1, 1, 2},    {1900, 3, 1, 61},
        {2000, 1, 1, 36526}, {2024, 2, 29, 45351}, {1, 1, 1, -693593}, {9999, 12, 31, 2958465},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(TDateTime::FromDate(row.y, row.m, row.d).Value, row.value) << row.y << "-" << row.m << "-" << row.d;
        int y = 0, m = 0, d = 0;
        // Before day 0 the time counts away from zero.
        TDateTime{row.value + (row.value < 0 ? -0.75 : 0.75)}.DecodeDate(y, m, d);
        EXPECT_EQ(y * 10000 + m * 100 + d, row.y * 10000 + row.m * 100 + row.d) << "the time does not move the day";
    }
}

TEST(TDateTime, NegativeValuesTruncateTowardZero)
{
    int y = 0, m = 0, d = 0;
    TDateTime{-1.5}.DecodeDate(y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 18991229);
}

TEST(TDateTime, ValuesOutsideTheCalendarDoNotDecode)
{
    const double rows[] = {-693594,
                           2958466,
                           1e20,
                           -1e20,
                           std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity()};
    for (const double value : rows) {
        int y = 0, m = 0, d = 0;
        EXPECT_THROW(TDateTime{value}.DecodeDate(y, m, d), EConvertError) << value;
    }
}
