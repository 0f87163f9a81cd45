#include "platform/ConsoleMessages.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>

namespace {

struct AnswerCase {
    std::optional<std::string> typed; // nullopt: no input stream at all
    bool yes;
};

TEST(ConsoleMessages, QuestionReadsYesOrNoAndDefaultsToNo)
{
    const AnswerCase cases[] = {
        {std::nullopt, false}, {"", false},    {"y\n", true},      {"YES\n", true},  {" да \r\n", true},
        {"Д\n", true},         {"n\n", false}, {"yesno\n", false}, {"нет\n", false},
    };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.typed.value_or("<no input>"));
        std::ostringstream out;
        std::ostringstream err;
        std::istringstream in(c.typed.value_or(""));
        platform::ConsoleMessages messages(out, err, c.typed ? &in : nullptr);
        EXPECT_EQ(messages.question(u"Прервать?", u"Tavrel"), c.yes);
        EXPECT_EQ(err.str().rfind("Tavrel: Прервать? [y/N] ", 0), 0u) << err.str();
        EXPECT_TRUE(out.str().empty());
    }
}

} // namespace
