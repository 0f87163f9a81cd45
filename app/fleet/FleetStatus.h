#pragma once
// Where every workstation stands, kept in a table of the working-time
// database that the administrator creates (README, "Fleet status"): each
// run of the updater leaves one row per workstation and program folder.
// Without the table nothing is written and nothing is said; a write that
// fails is one line on standard error and never changes the run's outcome.
#include "db/DbConnection.h"
#include "platform/Messages.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

inline constexpr const char* kFleetTable = "TAVREL_FLEET";

// What one run leaves in the table.
struct FleetRun {
    std::u16string workstation;
    std::u16string programFolder;
    std::u16string user;
    std::string sha256;                   // of the release installed last; empty when none is recorded
    std::optional<std::int64_t> signedAt; // its signing time, seconds since 1970 (UTC)
    int exitCode = 0;
    std::u16string message;
};

// The run of the program in `programFolder` on this workstation: the names
// from the system, the release from the update folder's record.
FleetRun fleetRun(const std::filesystem::path& programFolder, int exitCode, const std::u16string& message);

// One row of the table as the report reads it; times are the database's
// wall clock (LAST_RUN, NOW) or UTC (RELEASE_SIGNED), as seconds since 1970.
struct FleetEntry {
    FleetRun run;
    std::int64_t lastRun = 0;
};

// The connection a row is written through: the driver and parameters of the
// connection start-up made, opened anew after the run.
struct FleetDatabase {
    std::string driver;
    std::vector<std::string> params;
};

enum class FleetWrite { Written, NoTable, Failed, Abandoned };
struct FleetWriteResult {
    FleetWrite outcome = FleetWrite::Failed;
    std::string detail; // why it failed
};

// How long a run waits for its row: a database that does not answer must not
// hold the run's end.
inline constexpr std::chrono::seconds kFleetWriteBound{15};

// Connects, writes the row (update or insert) and closes, on a thread of its
// own; when `bound` passes first, the thread is left to end by itself
// (Abandoned) and the caller must then end without exit handlers. Never throws.
FleetWriteResult writeFleetRun(const FleetDatabase& database, const FleetRun& run, std::chrono::milliseconds bound);

// Both front ends after a run: writes its row through a new connection like
// `connection` (closed first; nothing when it was never configured) and
// reports a failed write on standard error. False when the write was abandoned.
bool recordFleetRun(TDbConnection& connection, const std::filesystem::path& programFolder, int exitCode,
                    const std::u16string& message);

// Reads every row through an open connection, with the database's clock;
// nothing when the table does not exist. Throws TDbError.
struct FleetTable {
    std::vector<FleetEntry> entries;
    std::int64_t now = 0;
};
std::optional<FleetTable> readFleetTable(TDbConnection& connection);

// Passes every message on and keeps what the row says of the run: its last
// error, else its last information.
class RunMessages : public platform::Messages {
public:
    explicit RunMessages(platform::Messages& shown) : shown_(shown) {}
    void error(const std::u16string& text) override;
    void information(const std::u16string& text) override;
    void plain(const std::u16string& text, const std::u16string& caption) override;
    bool question(const std::u16string& text, const std::u16string& caption) override;

    const std::u16string& last() const { return lastError_.empty() ? lastInformation_ : lastError_; }
    void clear();

private:
    platform::Messages& shown_;
    std::u16string lastError_;
    std::u16string lastInformation_;
};
