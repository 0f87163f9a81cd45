#pragma once
// The fleet status table as an administrator reads it (tavrel-update
// --fleet-status): how many workstations run each release, which failed at
// their last run and which have not run for a number of days.
#include "FleetStatus.h"

#include <cstddef>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TMainDM;

inline constexpr int kDefaultStaleDays = 7;

struct FleetReleaseCount {
    std::string sha256; // empty: no release recorded yet
    std::optional<std::int64_t> signedAt;
    std::size_t workstations = 0;
};

struct FleetReport {
    std::size_t rows = 0;
    int days = kDefaultStaleDays;
    std::int64_t now = 0;
    std::vector<FleetReleaseCount> releases; // the most widely run first
    std::vector<FleetEntry> failed;          // last exit code other than installed or unchanged
    std::vector<FleetEntry> stale;           // no run for `days` days
    bool needsAttention() const { return !failed.empty() || !stale.empty(); }
};

FleetReport summarizeFleet(const FleetTable& table, int days);
// UTF-8 text, one line per release and per workstation named.
std::string formatFleetReport(const FleetReport& report);

// The number of --days: a whole number from 1 to 3650.
std::optional<int> parseFleetDays(std::string_view text);

// --fleet-status: connects as start-up does, without the connection dialog,
// and prints the report on `out`. Returns the exit code: kInstalled when all
// is well, kFleetNeedsAttention, kNoFleetTable, kNoDatabase, kUnexpectedError.
int printFleetStatus(TMainDM& dm, platform::Messages& messages, const std::filesystem::path& programFolder, int days,
                     std::ostream& out);
