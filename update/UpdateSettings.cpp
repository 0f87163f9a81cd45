#include "UpdateSettings.h"

#include "platform/FileOps.h"
#include "platform/ProfileFile.h"
#include "platform/TextCodec.h"
#include "update/SettingsNumber.h"

#include <charconv>
#include <cmath>

namespace {

// A positive decimal number ("0.5", "90"), nothing else.
std::optional<double> positiveNumber(const std::string& text)
{
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value) || value <= 0)
        return std::nullopt;
    return value;
}

std::chrono::milliseconds milliseconds(double amount, double unitMs)
{
    // Capped far beyond any real limit, so that huge values cannot overflow.
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::min(amount * unitMs, 1e15)));
}

} // namespace

void UpdateSettings::applyTo(DownloadLimits& limits) const
{
    if (downloadTimeout)
        limits.overallTimeout = *downloadTimeout;
    if (lowSpeedBytesPerSecond)
        limits.lowSpeedBytesPerSecond = *lowSpeedBytesPerSecond;
    if (lowSpeedWindow)
        limits.lowSpeedWindow = *lowSpeedWindow;
}

UpdateSettingsRead readUpdateSettings(const platform::ProfileFile* file)
{
    UpdateSettingsRead read;
    if (!file)
        return read;
    // Worded as the strict whole numbers of the settings file are.
    const auto malformed = [&](const char* key, const std::string& value, const char16_t* expected) {
        if (read.error.empty())
            read.error = u"В файле настроек " + platform::ansiToUtf16(platform::fromPath(file->path())) +
                         u" неверное значение [" + platform::toUtf16(kDownloadSection) + u"] " +
                         platform::toUtf16(key) + u"=" + platform::ansiToUtf16(value) + u": нужно " + expected + u".";
    };
    const auto value = [&](const char* key) { return file->read(kDownloadSection, key).value_or(""); };

    UpdateSettings& s = read.settings;
    s.proxy = value(kProxyKey);
    if (const std::string text = value(kDownloadTimeoutKey); !text.empty()) {
        if (const auto minutes = positiveNumber(text))
            s.downloadTimeout = milliseconds(*minutes, 60'000);
        else
            malformed(kDownloadTimeoutKey, text, u"число минут больше нуля");
    }
    try {
        if (const auto kib =
                readWholeNumber(*file, kDownloadSection, kLowSpeedKey, 1ull << 40, "КБ/с; 0 — без ограничения"))
            s.lowSpeedBytesPerSecond = *kib * 1024;
    } catch (const MalformedSetting& error) {
        if (read.error.empty())
            read.error = platform::toUtf16(error.what());
    }
    if (const std::string text = value(kLowSpeedWindowKey); !text.empty()) {
        if (const auto seconds = positiveNumber(text))
            s.lowSpeedWindow = milliseconds(*seconds, 1000);
        else
            malformed(kLowSpeedWindowKey, text, u"число секунд больше нуля");
    }
    if (const std::string text = value(kAllowDowngradeKey); !text.empty()) {
        if (text == "0" || text == "1")
            s.allowDowngrade = text == "1";
        else
            malformed(kAllowDowngradeKey, text, u"0 или 1");
    }
    return read;
}
