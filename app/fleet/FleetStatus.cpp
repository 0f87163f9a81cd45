#include "FleetStatus.h"

#include "db/DbQuery.h"
#include "update/InstalledRelease.h"
#include "update/UpdateFolder.h"

#include <QDateTime>
#include <QSysInfo>
#include <QTimeZone>

#include <future>
#include <iostream>
#include <memory>
#include <thread>

namespace {

// The statements of each dialect, chosen by the connection's driver
// identifier as the data module does elsewhere. The row's time is the
// database's clock, so that workstations whose clocks are wrong still
// compare alike, and the report reads that clock with the rows.
struct FleetSql {
    const char* tableExists;
    const char* write;
};

const FleetSql& fleetSql(const std::string& driver)
{
    static const FleetSql firebird{
        "select count(*) as N from RDB$RELATIONS where RDB$RELATION_NAME = 'TAVREL_FLEET'",
        "update or insert into TAVREL_FLEET (WORKSTATION, PROGRAM_FOLDER, USER_NAME, RELEASE_SHA256, "
        "RELEASE_SIGNED, LAST_RUN, EXIT_CODE, MESSAGE)\n"
        "values (:ws, :folder, :usr, :sha, :signed, current_timestamp, :code, :msg)\n"
        "matching (WORKSTATION, PROGRAM_FOLDER)"};
    static const FleetSql sqlServer{
        "select count(*) as N from INFORMATION_SCHEMA.TABLES where TABLE_NAME = 'TAVREL_FLEET'",
        "merge TAVREL_FLEET as t\n"
        "using (select :ws as WORKSTATION, :folder as PROGRAM_FOLDER) as s\n"
        "on t.WORKSTATION = s.WORKSTATION and t.PROGRAM_FOLDER = s.PROGRAM_FOLDER\n"
        "when matched then update set USER_NAME = :usr, RELEASE_SHA256 = :sha, RELEASE_SIGNED = :signed,\n"
        "  LAST_RUN = current_timestamp, EXIT_CODE = :code, MESSAGE = :msg\n"
        "when not matched then insert (WORKSTATION, PROGRAM_FOLDER, USER_NAME, RELEASE_SHA256, RELEASE_SIGNED,\n"
        "  LAST_RUN, EXIT_CODE, MESSAGE)\n"
        "  values (s.WORKSTATION, s.PROGRAM_FOLDER, :usr, :sha, :signed, current_timestamp, :code, :msg);"};
    static const FleetSql oracle{
        "select count(*) as N from ALL_TABLES where TABLE_NAME = 'TAVREL_FLEET'",
        "merge into TAVREL_FLEET t\n"
        "using (select :ws as WORKSTATION, :folder as PROGRAM_FOLDER from dual) s\n"
        "on (t.WORKSTATION = s.WORKSTATION and t.PROGRAM_FOLDER = s.PROGRAM_FOLDER)\n"
        "when matched then update set USER_NAME = :usr, RELEASE_SHA256 = :sha, RELEASE_SIGNED = :signed,\n"
        "  LAST_RUN = current_timestamp, EXIT_CODE = :code, MESSAGE = :msg\n"
        "when not matched then insert (WORKSTATION, PROGRAM_FOLDER, USER_NAME, RELEASE_SHA256, RELEASE_SIGNED,\n"
        "  LAST_RUN, EXIT_CODE, MESSAGE)\n"
        "  values (s.WORKSTATION, s.PROGRAM_FOLDER, :usr, :sha, :signed, current_timestamp, :code, :msg)"};
    if (driver == "MSSQL")
        return sqlServer;
    if (driver == "Ora")
        return oracle;
    return firebird;
}

constexpr const char* kReadSql = "select WORKSTATION, PROGRAM_FOLDER, USER_NAME, RELEASE_SHA256, RELEASE_SIGNED, "
                                 "LAST_RUN, EXIT_CODE, MESSAGE, current_timestamp as DB_NOW\n"
                                 "from TAVREL_FLEET order by WORKSTATION, PROGRAM_FOLDER";

// The column widths of the README's table.
QString fitted(const std::u16string& text, qsizetype width)
{
    return QString::fromStdU16String(text).left(width);
}

// Timestamps hold no zone: their wall clock is taken as UTC both ways.
QVariant utcTimestamp(std::optional<std::int64_t> seconds)
{
    if (!seconds)
        return QVariant(QMetaType(QMetaType::QDateTime));
    const QDateTime utc = QDateTime::fromSecsSinceEpoch(*seconds, QTimeZone::utc());
    return QDateTime(utc.date(), utc.time());
}

std::optional<std::int64_t> wallClockSeconds(const QVariant& value)
{
    if (value.isNull())
        return std::nullopt;
    const QDateTime read = value.toDateTime();
    return QDateTime(read.date(), read.time(), QTimeZone::utc()).toSecsSinceEpoch();
}

std::u16string text16(const TDbField& field) { return field.Value().toString().toStdU16String(); }

bool tableExists(TDbConnection& connection, const std::string& driver)
{
    TDbQuery query{connection, nullptr, nullptr, fleetSql(driver).tableExists};
    query.Open();
    const bool exists = query.FieldByName("N").AsInteger() > 0;
    query.Close();
    return exists;
}

FleetWriteResult writeNow(const FleetDatabase& database, const FleetRun& run)
{
    try {
        TDbConnection connection;
        connection.DriverName = database.driver;
        connection.Params = database.params;
        connection.Open();
        if (!tableExists(connection, database.driver))
            return {FleetWrite::NoTable, {}};
        TDbQuery write{connection, nullptr, nullptr, fleetSql(database.driver).write};
        write.ParamByName("ws").Value = fitted(run.workstation, 63);
        write.ParamByName("folder").Value = fitted(run.programFolder, 255);
        write.ParamByName("usr").Value = fitted(run.user, 63);
        write.ParamByName("sha").Value =
            run.sha256.empty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(QString::fromStdString(run.sha256));
        write.ParamByName("signed").Value = utcTimestamp(run.signedAt);
        write.ParamByName("code").Value = run.exitCode;
        write.ParamByName("msg").Value = fitted(run.message, 500);
        write.Open();
        write.Close();
        connection.Close();
        return {FleetWrite::Written, {}};
    } catch (const std::exception& e) {
        return {FleetWrite::Failed, e.what()};
    } catch (...) {
        return {FleetWrite::Failed, "unknown error"};
    }
}

std::u16string userName()
{
    for (const char* name : {"USERNAME", "USER", "LOGNAME"})
        if (const QString value = qEnvironmentVariable(name); !value.isEmpty())
            return value.toStdU16String();
    return {};
}

} // namespace

FleetRun fleetRun(const std::filesystem::path& programFolder, int exitCode, const std::u16string& message)
{
    FleetRun run;
    run.workstation = QSysInfo::machineHostName().toStdU16String();
    run.programFolder = programFolder.u16string();
    run.user = userName();
    if (const auto installed = readInstalledRelease(UpdateFolder(programFolder))) {
        run.sha256 = installed->sha256;
        run.signedAt = installed->signedAt;
    }
    run.exitCode = exitCode;
    run.message = message;
    return run;
}

FleetWriteResult writeFleetRun(const FleetDatabase& database, const FleetRun& run, std::chrono::milliseconds bound)
{
    auto promise = std::make_shared<std::promise<FleetWriteResult>>();
    std::future<FleetWriteResult> result = promise->get_future();
    // Qt Sql connections belong to the thread that opens them: the thread
    // connects, writes and closes by itself.
    std::thread writer([database, run, promise] { promise->set_value(writeNow(database, run)); });
    if (result.wait_for(bound) != std::future_status::ready) {
        writer.detach();
        return {FleetWrite::Abandoned,
                "no answer from the database within " +
                    std::to_string(std::chrono::duration_cast<std::chrono::seconds>(bound).count()) + " s"};
    }
    writer.join();
    return result.get();
}

bool recordFleetRun(TDbConnection& connection, const std::filesystem::path& programFolder, int exitCode,
                    const std::u16string& message)
{
    if (connection.DriverName.empty() || connection.Params.empty())
        return true;
    connection.Close();
    const FleetWriteResult result = writeFleetRun({connection.DriverName, connection.Params},
                                                  fleetRun(programFolder, exitCode, message), kFleetWriteBound);
    if (result.outcome == FleetWrite::Failed || result.outcome == FleetWrite::Abandoned)
        std::cerr << "Fleet status (" << kFleetTable << ") not written: " << result.detail << std::endl;
    return result.outcome != FleetWrite::Abandoned;
}

std::optional<FleetTable> readFleetTable(TDbConnection& connection)
{
    if (!tableExists(connection, connection.DriverName))
        return std::nullopt;
    FleetTable table;
    TDbQuery query{connection, nullptr, nullptr, kReadSql};
    query.Open();
    for (; !query.Eof(); query.Next()) {
        FleetEntry entry;
        entry.run.workstation = text16(query.FieldByName("WORKSTATION"));
        entry.run.programFolder = text16(query.FieldByName("PROGRAM_FOLDER"));
        entry.run.user = text16(query.FieldByName("USER_NAME"));
        entry.run.sha256 = query.FieldByName("RELEASE_SHA256").Value().toString().trimmed().toStdString();
        entry.run.signedAt = wallClockSeconds(query.FieldByName("RELEASE_SIGNED").Value());
        entry.run.exitCode = query.FieldByName("EXIT_CODE").AsInteger();
        entry.run.message = text16(query.FieldByName("MESSAGE"));
        entry.lastRun = wallClockSeconds(query.FieldByName("LAST_RUN").Value()).value_or(0);
        table.now = wallClockSeconds(query.FieldByName("DB_NOW").Value()).value_or(0);
        table.entries.push_back(std::move(entry));
    }
    query.Close();
    return table;
}

void RunMessages::error(const std::u16string& text)
{
    lastError_ = text;
    shown_.error(text);
}

void RunMessages::information(const std::u16string& text)
{
    lastInformation_ = text;
    shown_.information(text);
}

void RunMessages::plain(const std::u16string& text, const std::u16string& caption) { shown_.plain(text, caption); }

bool RunMessages::question(const std::u16string& text, const std::u16string& caption)
{
    return shown_.question(text, caption);
}

void RunMessages::clear()
{
    lastError_.clear();
    lastInformation_.clear();
}
