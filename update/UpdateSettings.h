#pragma once
// The settings of section [Update] of "Tavrel.INI" that shape one run,
// read afresh for every run: the proxy, the time limits of a download, and
// whether an older release may replace a newer one. A value that is not
// what its key takes stops the run with a message naming key and value:
// a typing error must not quietly turn a limit off.
#include "update/DownloadLimits.h"

#include <string>

namespace platform {
class ProfileFile;
}

inline constexpr const char* kProxyKey = "Proxy";
inline constexpr const char* kAllowDowngradeKey = "AllowDowngrade";

struct UpdateSettings {
    std::string proxy; // empty: the environment's
    bool allowDowngrade = false;
    // Applied to the limits a download gets.
    void applyTo(DownloadLimits& limits) const;

    std::optional<std::chrono::milliseconds> downloadTimeout;
    std::optional<std::uint64_t> lowSpeedBytesPerSecond;
    std::optional<std::chrono::milliseconds> lowSpeedWindow;
};

struct UpdateSettingsRead {
    UpdateSettings settings;
    std::u16string error; // the message for a malformed value; empty when all are sound
};

// Reads `file`'s section [Update]; a null file gives the defaults.
UpdateSettingsRead readUpdateSettings(const platform::ProfileFile* file);
