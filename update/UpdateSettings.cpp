#include "UpdateSettings.h"

#include "platform/FileOps.h"
#include "platform/HttpUrl.h"
#include "platform/ProfileFile.h"
#include "platform/ReceiveRate.h"
#include "platform/TextCodec.h"
#include "update/SettingsNumber.h"

void UpdateSettings::applyTo(DownloadLimits& limits) const
{
    if (downloadTimeout)
        limits.overallTimeout = *downloadTimeout;
    if (lowSpeedBytesPerSecond)
        limits.lowSpeedBytesPerSecond = *lowSpeedBytesPerSecond;
    if (lowSpeedWindow)
        limits.lowSpeedWindow = *lowSpeedWindow;
    limits.maxBytesPerSecond = maxBytesPerSecond;
    // A download held back by its own cap must never count as trickling.
    limits.lowSpeedBytesPerSecond = platform::speedFloorUnderCap(limits.lowSpeedBytesPerSecond, maxBytesPerSecond);
}

namespace {

// A switch of [Update]: "0" or "1", missing or empty for `fallback`.
bool readSwitch(const platform::ProfileFile& file, const char* key, bool fallback)
{
    const std::string text = file.read(kDownloadSection, key).value_or("");
    if (text.empty())
        return fallback;
    if (text != "0" && text != "1")
        refuseSetting(file, kDownloadSection, key, text, "0 или 1");
    return text == "1";
}

} // namespace

UpdateSettingsRead readUpdateSettings(const platform::ProfileFile* file)
{
    UpdateSettingsRead read;
    if (!file)
        return read;
    const auto value = [&](const char* key) { return file->read(kDownloadSection, key).value_or(""); };
    UpdateSettings& s = read.settings;
    try {
        // Checked here, so that a typing error is named as one, not taken for
        // a server that does not answer.
        s.proxy = value(kProxyKey);
        if (!s.proxy.empty() && !platform::parseProxy(s.proxy))
            refuseSetting(*file, kDownloadSection, kProxyKey, s.proxy,
                          "адрес прокси-сервера HTTP: узел:порт или http://узел:порт");
        s.downloadTimeout = readDuration(*file, kDownloadSection, kDownloadTimeoutKey, std::chrono::minutes(1),
                                         "число минут, не меньше 1/60 (одной секунды)");
        if (const auto kib =
                readWholeNumber(*file, kDownloadSection, kLowSpeedKey, 1ull << 40, "КБ/с; 0 — без ограничения"))
            s.lowSpeedBytesPerSecond = *kib * 1024;
        s.lowSpeedWindow = readDuration(*file, kDownloadSection, kLowSpeedWindowKey, std::chrono::seconds(1),
                                        "число секунд, не меньше 1");
        if (const auto kib =
                readWholeNumber(*file, kDownloadSection, kMaxRateKey, 1ull << 40, "КБ/с; 0 — без ограничения"))
            s.maxBytesPerSecond = *kib * 1024;
        s.allowDowngrade = readSwitch(*file, kAllowDowngradeKey, false);
        s.deltaUpdates = readSwitch(*file, kDeltaUpdatesKey, true);
    } catch (const MalformedSetting& error) {
        read.error = platform::toUtf16(error.what());
    }
    return read;
}
