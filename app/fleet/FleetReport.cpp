#include "FleetReport.h"

#include "app/ExitCodes.h"
#include "app/Startup.h"
#include "datamodule/MDm.h"
#include "platform/TextCodec.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <charconv>
#include <ostream>
#include <tuple>

namespace {

std::string shownTime(std::int64_t seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc())
        .toString(QStringLiteral("yyyy-MM-dd HH:mm"))
        .toStdString();
}

std::string workstationLine(const FleetEntry& entry)
{
    const FleetRun& run = entry.run;
    std::string line = "  " + platform::toUtf8(run.workstation) + "  " + platform::toUtf8(run.programFolder);
    if (!run.user.empty())
        line += "  user " + platform::toUtf8(run.user);
    line += "  last run " + shownTime(entry.lastRun) + "  exit " + std::to_string(run.exitCode);
    if (!run.message.empty())
        line += ": " + platform::toUtf8(run.message);
    return line + "\n";
}

void listWorkstations(std::string& text, const std::string& title, const std::vector<FleetEntry>& entries)
{
    text += "\n" + title + ": " + (entries.empty() ? "none" : std::to_string(entries.size())) + "\n";
    for (const FleetEntry& entry : entries)
        text += workstationLine(entry);
}

} // namespace

FleetReport summarizeFleet(const FleetTable& table, int days)
{
    FleetReport report;
    report.rows = table.entries.size();
    report.days = days;
    report.now = table.now;
    for (const FleetEntry& entry : table.entries) {
        const auto same = std::find_if(report.releases.begin(), report.releases.end(), [&](const auto& release) {
            return release.sha256 == entry.run.sha256 && release.signedAt == entry.run.signedAt;
        });
        if (same != report.releases.end())
            ++same->workstations;
        else
            report.releases.push_back({entry.run.sha256, entry.run.signedAt, 1});
        // Unchanged is what most logon runs end with.
        if (entry.run.exitCode != kInstalled && entry.run.exitCode != kNoNewRelease)
            report.failed.push_back(entry);
        if (entry.lastRun <= table.now - std::int64_t{days} * 24 * 60 * 60)
            report.stale.push_back(entry);
    }
    std::stable_sort(report.releases.begin(), report.releases.end(), [](const auto& a, const auto& b) {
        return std::tie(b.workstations, b.signedAt) < std::tie(a.workstations, a.signedAt);
    });
    return report;
}

std::string formatFleetReport(const FleetReport& report)
{
    std::string text = "Fleet status: " + std::to_string(report.rows) + " workstation(s) in " + kFleetTable;
    if (report.rows > 0)
        text += ", at " + shownTime(report.now) + " by the database's clock";
    text += "\n\nReleases installed:\n";
    if (report.releases.empty())
        text += "  none\n";
    for (const FleetReleaseCount& release : report.releases) {
        text += "  " + std::to_string(release.workstations) + "  ";
        if (release.sha256.empty())
            text += "no release installed by the updater yet";
        else
            text += "SHA-256 " + release.sha256 + "  " +
                    (release.signedAt ? "signed " + shownTime(*release.signedAt) + " UTC" : std::string("unsigned"));
        text += "\n";
    }
    listWorkstations(text, "Failed at their last run", report.failed);
    listWorkstations(text, "Not run for " + std::to_string(report.days) + " days", report.stale);
    return text;
}

std::optional<int> parseFleetDays(std::string_view text)
{
    int days = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), days);
    if (error != std::errc() || end != text.data() + text.size() || days < 1 || days > 3650)
        return std::nullopt;
    return days;
}

int printFleetStatus(TMainDM& dm, platform::Messages& messages, const std::filesystem::path& programFolder, int days,
                     std::ostream& out)
{
    if (!connectWorkingDatabase(dm, messages, programFolder))
        return kNoDatabase;
    std::optional<FleetTable> table;
    try {
        table = readFleetTable(dm.FDconUrv);
    } catch (const std::exception& e) {
        dm.FDconUrv.Close();
        messages.error(u"the table " + platform::toUtf16(kFleetTable) + u" cannot be read: " + platform::toUtf16(e.what()));
        return kUnexpectedError;
    }
    dm.FDconUrv.Close();
    if (!table) {
        messages.error(u"the database has no table " + platform::toUtf16(kFleetTable) +
                       u": no workstation reports its status there. The administrator creates it (README, \"Fleet "
                       u"status\"); nothing was changed.");
        return kNoFleetTable;
    }
    const FleetReport report = summarizeFleet(*table, days);
    out << formatFleetReport(report) << std::flush;
    return report.needsAttention() ? kFleetNeedsAttention : kInstalled;
}
