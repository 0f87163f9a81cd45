#include "HttpHeadFields.h"

#include <array>
#include <cctype>
#include <chrono>
#include <vector>

namespace platform {

std::optional<std::uint64_t> decimalNumber(std::string_view text)
{
    if (text.empty() || text.size() > 19)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

void readContentRange(std::string_view value, HttpResponseHead& head)
{
    const std::size_t space = value.find(' ');
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.find('/');
    if (space == std::string_view::npos || dash == std::string_view::npos || slash == std::string_view::npos ||
        dash < space || slash < dash)
        return;
    head.rangeStart = decimalNumber(value.substr(space + 1, dash - space - 1));
    head.completeLength = decimalNumber(value.substr(slash + 1));
}

namespace {

std::vector<std::string_view> words(std::string_view text, std::string_view separators)
{
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const std::size_t start = text.find_first_not_of(separators);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = text.find_first_of(separators, start);
        out.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end);
    }
    return out;
}

std::optional<unsigned> monthNumber(std::string_view name)
{
    static constexpr std::array<std::string_view, 12> names{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (unsigned i = 0; i < names.size(); ++i)
        if (name == names[i])
            return i + 1;
    return std::nullopt;
}

// "HH:MM:SS" as seconds of the day.
std::optional<std::int64_t> timeOfDay(std::string_view text)
{
    const std::vector<std::string_view> parts = words(text, ":");
    if (parts.size() != 3 || text.size() != 8)
        return std::nullopt;
    const auto h = decimalNumber(parts[0]), m = decimalNumber(parts[1]), s = decimalNumber(parts[2]);
    if (!h || !m || !s || *h > 23 || *m > 59 || *s > 60)
        return std::nullopt;
    return static_cast<std::int64_t>(*h * 3600 + *m * 60 + *s);
}

} // namespace

std::optional<std::int64_t> httpDate(std::string_view text)
{
    text = trimmedField(text);
    std::string_view day, month, year, time;
    const std::size_t comma = text.find(',');
    if (comma != std::string_view::npos) {
        // IMF-fixdate or RFC 850: the weekday, then "DD Mon YYYY" or "DD-Mon-YY", the time, GMT.
        const std::vector<std::string_view> w = words(text.substr(comma + 1), " -");
        if (w.size() != 5 || w[4] != "GMT")
            return std::nullopt;
        day = w[0], month = w[1], year = w[2], time = w[3];
    } else {
        // asctime: "Wdy Mon D HH:MM:SS YYYY".
        const std::vector<std::string_view> w = words(text, " ");
        if (w.size() != 5)
            return std::nullopt;
        month = w[1], day = w[2], year = w[4], time = w[3];
    }
    const auto d = decimalNumber(day);
    const auto m = monthNumber(month);
    auto y = decimalNumber(year);
    const auto seconds = timeOfDay(time);
    if (!d || !m || !y || !seconds || (year.size() != 4 && year.size() != 2))
        return std::nullopt;
    if (year.size() == 2)
        *y += *y < 70 ? 2000 : 1900;
    const std::chrono::year_month_day date{std::chrono::year(static_cast<int>(*y)), std::chrono::month(*m),
                                           std::chrono::day(static_cast<unsigned>(*d))};
    if (!date.ok())
        return std::nullopt;
    return std::chrono::sys_days(date).time_since_epoch().count() * std::int64_t{86400} + *seconds;
}

bool dateAfter(std::string_view text, std::int64_t reference)
{
    const std::optional<std::int64_t> date = httpDate(text);
    return date && *date > reference;
}

void readLastModified(std::string_view value, std::string_view date, std::int64_t now, HttpResponseHead& head)
{
    const std::optional<std::int64_t> sent = httpDate(date);
    head.lastModified = dateAfter(value, sent.value_or(now)) ? std::string() : std::string(value);
}

std::string_view trimmedField(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    return text;
}

bool bodyAsAnnounced(const std::string& status, std::optional<std::uint64_t> announced, std::uint64_t received)
{
    return !announced || *announced == received || status == "304";
}

} // namespace platform
