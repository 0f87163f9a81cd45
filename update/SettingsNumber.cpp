#include "SettingsNumber.h"

#include "platform/FileOps.h"
#include "platform/ProfileFile.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

struct Number {
    std::string text;            // as written, for the message
    std::optional<double> value; // nothing when it is no number of the accepted form
};

// The one reading of a number that every key shares.
std::optional<Number> readNumber(const platform::ProfileFile& settings, const std::string& section,
                                 const std::string& key, bool fraction)
{
    Number number{settings.read(section, key).value_or(""), std::nullopt};
    const std::size_t first = number.text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::nullopt;
    const std::size_t last = number.text.find_last_not_of(" \t") + 1;
    std::string_view digits = std::string_view(number.text).substr(first, last - first);
    if (digits.front() == '+')
        digits.remove_prefix(1);
    // Digits, and where allowed one point between digits; nothing else
    // (from_chars alone would take "-5", ".5" and "inf").
    const std::size_t point = digits.find('.');
    const auto allDigits = [](std::string_view part) {
        return !part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const bool wellFormed = point == std::string_view::npos
                                ? allDigits(digits)
                                : fraction && allDigits(digits.substr(0, point)) && allDigits(digits.substr(point + 1));
    double value = 0;
    if (wellFormed) {
        const auto [stop, ec] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value, std::chars_format::fixed);
        if (ec == std::errc() && stop == digits.data() + digits.size() && std::isfinite(value))
            number.value = value;
    }
    return number;
}

} // namespace

void refuseSetting(const platform::ProfileFile& settings, const std::string& section, const std::string& key,
                   const std::string& text, const std::string& expected)
{
    throw MalformedSetting("В файле настроек " +
                           platform::toUtf8(platform::displayPath(settings.path())) +
                           " неверное значение [" + section + "] " + key + "=" +
                           platform::toUtf8(platform::ansiToUtf16(text)) + ": нужно " + expected + ".");
}

std::optional<std::uint64_t> readWholeNumber(const platform::ProfileFile& settings, const std::string& section,
                                             const std::string& key, std::uint64_t largest, const std::string& meaning)
{
    const std::optional<Number> number = readNumber(settings, section, key, false);
    if (!number)
        return std::nullopt;
    // Every largest value in use lies well within the 53 bits a double holds exactly.
    if (!number->value || *number->value > static_cast<double>(largest))
        refuseSetting(settings, section, key, number->text,
                      "целое число от 0 до " + std::to_string(largest) + " (" + meaning + ")");
    return static_cast<std::uint64_t>(*number->value);
}

std::optional<std::chrono::milliseconds> readDuration(const platform::ProfileFile& settings, const std::string& section,
                                                      const std::string& key, std::chrono::milliseconds unit,
                                                      const std::string& expected)
{
    const std::optional<Number> number = readNumber(settings, section, key, true);
    if (!number)
        return std::nullopt;
    const double ms = number->value.value_or(0) * static_cast<double>(unit.count());
    if (ms < 1000)
        refuseSetting(settings, section, key, number->text, expected);
    // Capped far beyond any real limit, so that huge values cannot overflow.
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::min(ms, 1e15)));
}
