// Arguments joined into a Windows command line come back as they were when
// the C run time splits it.
#include "platform/CommandLine.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLine, QuotesOnlyWhatTheSplitWouldChange)
{
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"plain", L"plain"},
        {L"", L"\"\""},
        {L"C:\\Program Files\\Tavrel\\Tavrel.exe", L"\"C:\\Program Files\\Tavrel\\Tavrel.exe\""},
        {L"C:\\path\\", L"C:\\path\\"},
        {L"C:\\with space\\", L"\"C:\\with space\\\\\""},
        {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
        {L"a\\\"b", L"\"a\\\\\\\"b\""},
        {L"tab\there", L"\"tab\there\""},
    };
    for (const auto& [argument, quoted] : cases)
        EXPECT_EQ(platform::quotedArgument(argument), quoted);
}

} // namespace
