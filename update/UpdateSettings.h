#pragma once
// The settings of section [Update] of "Tavrel.INI" that shape one run,
// read afresh for every run: the proxy, the time limits and the rate cap of
// a download, whether an older release may replace a newer one, and whether
// releases are fetched as deltas. A value that is not
// what its key takes stops the run with a message naming key and value:
// a typing error must not quietly turn a limit off.
#include "update/DownloadLimits.h"

#include <string>

namespace platform {
class ProfileFile;
}

inline constexpr const char* kProxyKey = "Proxy";
inline constexpr const char* kAllowDowngradeKey = "AllowDowngrade";
// 0 turns delta updates off (and with them the .zck kept for the next one).
inline constexpr const char* kDeltaUpdatesKey = "DeltaUpdates";

struct UpdateSettings {
    std::string proxy; // empty: the environment's
    bool allowDowngrade = false;
    bool deltaUpdates = true;
    // Applied to the limits a download gets.
    void applyTo(DownloadLimits& limits) const;

    std::optional<std::chrono::milliseconds> downloadTimeout;
    std::optional<std::uint64_t> lowSpeedBytesPerSecond;
    std::optional<std::chrono::milliseconds> lowSpeedWindow;
    std::uint64_t maxBytesPerSecond = 0;
};

struct UpdateSettingsRead {
    UpdateSettings settings;
    std::u16string error; // the message for a malformed value; empty when all are sound
};

// Reads `file`'s section [Update]; a null file gives the defaults.
UpdateSettingsRead readUpdateSettings(const platform::ProfileFile* file);
