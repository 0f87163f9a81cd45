#include "SettingsNumber.h"

#include "platform/FileOps.h"
#include "platform/ProfileFile.h"
#include "platform/TextCodec.h"

#include <charconv>

std::optional<std::uint64_t> readWholeNumber(const platform::ProfileFile& settings, const std::string& section,
                                             const std::string& key, std::uint64_t largest, const std::string& meaning)
{
    const std::string text = settings.read(section, key).value_or("");
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::nullopt;
    const std::size_t last = text.find_last_not_of(" \t") + 1;
    const char* begin = text.data() + first + (text[first] == '+' ? 1 : 0);
    const char* end = text.data() + last;
    std::uint64_t value = 0;
    // from_chars takes no '+', refuses a '-' for an unsigned type and reports overflow.
    const auto [stop, ec] = std::from_chars(begin, end, value, 10);
    if (begin != end && ec == std::errc() && stop == end && value <= largest)
        return value;
    throw MalformedSetting(
        "В файле настроек " + platform::toUtf8(platform::ansiToUtf16(platform::fromPath(settings.path()))) +
        " неверное значение [" + section + "] " + key + "=" + platform::toUtf8(platform::ansiToUtf16(text)) +
        ": нужно целое число от 0 до " + std::to_string(largest) + " (" + meaning + ").");
}
