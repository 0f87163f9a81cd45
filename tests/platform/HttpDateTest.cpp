// HTTP dates in the three forms a server may send: a Last-Modified is
// weighed against the response's Date, so a date misread is a release missed.
#include "platform/HttpHeadFields.h"

#include <gtest/gtest.h>

TEST(HttpDate, ReadsTheThreeFormsAndNothingElse)
{
    const std::optional<std::int64_t> nov1994 = 784111777; // 1994-11-06 08:49:37 UTC
    const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", nov1994},
        {"Sunday, 06-Nov-94 08:49:37 GMT", nov1994},
        {"Sun Nov  6 08:49:37 1994", nov1994},
        {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
        {"Tue, 29 Feb 2028 23:59:59 GMT", 1835481599},
        {"Sat, 01 Jan 2050 00:00:00 GMT", 2524608000},
        {"", std::nullopt},
        {"yesterday", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 CET", std::nullopt},
        {"Sun, 31 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt},
        {"Sun, 06 Foo 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 8:49:37 GMT", std::nullopt},
    };
    for (const auto& [text, seconds] : cases)
        EXPECT_EQ(platform::httpDate(text), seconds) << text;
}
