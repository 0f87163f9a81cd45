// Each run of tavrel-update leaves its workstation's row in the fleet status
// table that the README tells administrators to create, and --fleet-status
// reads the table back; against the embedded engine and the local server.
#include "app/fleet/FleetStatus.h"
#include "tests/app/CliFixture.h"
#include "tests/app/FleetTable.h"
#include "tests/support/MinisignKeys.h"

#include <QCryptographicHash>
#include <QSysInfo>

#include <cstdlib>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace clitest;

namespace {

std::string sha256Of(const fs::path& file)
{
    const std::string bytes = readFileBytes(file);
    return QCryptographicHash::hash(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

// Whom a row names, by the updater's rule.
std::string userName()
{
    for (const char* name : {"USERNAME", "USER", "LOGNAME"})
        if (const char* value = std::getenv(name); value && *value)
            return value;
    return "";
}

class FleetStatus : public Cli {
protected:
    FleetStatus()
    {
        fleetDb.execute("create table TAVREL_PARAMS (NEWVERSIONPASS varchar(255), DOUPDATE varchar(10))");
        fleetDb.execute("insert into TAVREL_PARAMS values ('', '0')");
        writeSettings(fleetDb.path().string());
    }

    void useRelease(const std::string& name) { publish((releases->path() / name).string(), "0", fleetDb); }

    std::vector<std::vector<std::string>> rows() const
    {
        return fleetDb.select("select WORKSTATION, PROGRAM_FOLDER, USER_NAME, RELEASE_SHA256, RELEASE_SIGNED, "
                              "EXIT_CODE, MESSAGE from TAVREL_FLEET");
    }

    testsupport::FirebirdTestDb fleetDb;
};

TEST_F(FleetStatus, EveryRunButACheckWritesItsRowWhateverItsOutcome)
{
    fleetDb.execute(readmeFleetTable());
    const testsupport::SodiumKey key;
    fs::copy_file(releases->path() / "release.rar", root / "signed.rar");
    key.sign(root / "signed.rar", root / "signed.rar.minisig", true, "timestamp:1714564800\tfile:signed.rar");
    const std::string withKey = "[Update]\nPublicKey=" + key.publicKeyLine() + "\n";
    const std::string installed = sha256Of(root / "signed.rar");
    struct Step {
        const char* name;
        std::string location;
        std::vector<std::string> arguments;
        std::string update; // more of section [Update]
        int exitCode;       // of the run and in its row
        std::string message;
    };
    const Step steps[] = {
        {"installed", (root / "signed.rar").string(), {}, "", 0, "Разархивация завершена."},
        {"unchanged", (root / "signed.rar").string(), {"--if-changed"}, "", 13, "Новой версии программы нет"},
        {"signature missing", (releases->path() / "damaged.rar").string(), {}, "", 10, "файл подписи не получен"},
        {"a check writes nothing", (root / "signed.rar").string(), {"--check"}, "", 10, "файл подписи не получен"},
        {"malformed setting", (root / "signed.rar").string(), {}, "AllowDowngrade=yes\n", 15, "AllowDowngrade=yes"},
    };
    for (const Step& step : steps) {
        publish(step.location, "0", fleetDb);
        writeSettings(fleetDb.path().string(), withKey + step.update);
        const CliRun r = run(step.arguments);
        if (step.arguments != std::vector<std::string>{"--check"}) {
            EXPECT_EQ(r.exitCode, step.exitCode) << step.name << ": " << r.err;
        }
        EXPECT_FALSE(contains(r.err, "TAVREL_FLEET")) << step.name << ": " << r.err;
        const auto table = rows();
        ASSERT_EQ(table.size(), 1u) << step.name;
        const std::vector<std::string> row = table[0];
        EXPECT_EQ(row[0], QSysInfo::machineHostName().toStdString()) << step.name;
        EXPECT_EQ(row[1], program.string()) << step.name;
        EXPECT_EQ(row[2], userName()) << step.name;
        EXPECT_EQ(row[3], installed) << step.name;
        EXPECT_EQ(row[4], "2024-05-01 12:00:00") << step.name;
        EXPECT_EQ(row[5], std::to_string(step.exitCode)) << step.name;
        EXPECT_TRUE(contains(row[6], step.message)) << step.name << ": " << row[6];
    }
}

TEST_F(FleetStatus, WithoutTheTableNothingIsWrittenOrSaidAndTheReportCreatesNothing)
{
    useRelease("release.rar");
    CliRun r = run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(contains(r.err, "TAVREL_FLEET")) << r.err;

    r = run({"--fleet-status"});
    EXPECT_EQ(r.exitCode, 18) << r.err;
    EXPECT_TRUE(contains(r.err, "the database has no table TAVREL_FLEET")) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_EQ(fleetDb.select("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = 'TAVREL_FLEET'"),
              (std::vector<std::vector<std::string>>{{"0"}}));
}

TEST_F(FleetStatus, AWriteThatFailsLeavesTheRunsExitCode)
{
    struct Case {
        const char* name;
        std::string table;
        const char* user;
        const char* reason; // the database's words, on standard error
    };
    const Case cases[] = {
        {"a table of another shape", "create table TAVREL_FLEET (WORKSTATION varchar(63))", "SYSDBA",
         "Column unknown"},
        // The embedded engine keeps SQL rights for any user but SYSDBA.
        {"no right to write", readmeFleetTable(), "CLERK", "no permission"},
    };
    fleetDb.execute("grant select on TAVREL_PARAMS to CLERK");
    for (const Case& c : cases) {
        fleetDb.execute(c.table);
        writeFileBytes(program / "Tavrel.INI", "[LoginU]\nDB=0\nServer=\nDatabase=" + fleetDb.path().string() +
                                                   "\nUserName=" + c.user + "\nPassword=" +
                                                   scramble::XorEncode(testsupport::embeddedPassword()) + "\n");
        for (const auto& [release, exitCode] : {std::pair{"release.rar", 0}, std::pair{"damaged.rar", 3}}) {
            useRelease(release);
            const CliRun r = run();
            EXPECT_EQ(r.exitCode, exitCode) << c.name << ", " << release << ": " << r.err;
            EXPECT_TRUE(contains(r.err, "Fleet status (TAVREL_FLEET) not written: ")) << c.name << ": " << r.err;
            EXPECT_TRUE(contains(r.err, c.reason)) << c.name << ": " << r.err;
        }
        EXPECT_TRUE(fleetDb.select("select * from TAVREL_FLEET").empty()) << c.name;
        fleetDb.execute("drop table TAVREL_FLEET");
    }
}

TEST_F(FleetStatus, ReportCountsWorkstationsPerReleaseAndNamesTheFailedAndTheStale)
{
    fleetDb.execute(readmeFleetTable());
    const std::string current(64, 'a');
    const std::string older(64, 'b');
    const std::string columns = "insert into TAVREL_FLEET (WORKSTATION, PROGRAM_FOLDER, USER_NAME, RELEASE_SHA256, "
                                "RELEASE_SIGNED, LAST_RUN, EXIT_CODE, MESSAGE) values ";
    fleetDb.execute(columns + "('WS-A', 'C:\\Tavrel', 'anna', '" + current +
                    "', '2024-05-10 16:40:00', current_timestamp, 0, 'Разархивация завершена.')");
    fleetDb.execute(columns + "('WS-B', 'C:\\Tavrel', 'boris', '" + current +
                    "', '2024-05-10 16:40:00', dateadd(-2 day to current_timestamp), 13, '')");
    fleetDb.execute(columns + "('WS-C', '/opt/tavrel', 'clara', '" + older +
                    "', '2024-04-02 11:05:00', current_timestamp, 1, 'Не удалось обновить файл!')");
    fleetDb.execute(columns + "('WS-D', 'C:\\Tavrel', 'dmitri', null, null, dateadd(-10 day to current_timestamp), "
                              "13, '')");

    CliRun r = run({"--fleet-status"});
    EXPECT_EQ(r.exitCode, 17) << r.err;
    for (const std::string& line : std::vector<std::string>{
             "Fleet status: 4 workstation(s) in TAVREL_FLEET, at ",
          "Releases installed:\n  2  SHA-256 " + current + "  signed 2024-05-10 16:40 UTC\n  1  SHA-256 " + older +
              "  signed 2024-04-02 11:05 UTC\n  1  no release installed by the updater yet\n",
          std::string("Failed at their last run: 1\n  WS-C  /opt/tavrel  user clara  last run "),
          std::string("  exit 1: Не удалось обновить файл!\n\nNot run for 7 days: 1\n  WS-D  C:\\Tavrel  user dmitri")})
        EXPECT_TRUE(contains(r.out, line)) << line << "\nin:\n" << r.out;

    r = run({"--days", "30", "--fleet-status"});
    EXPECT_EQ(r.exitCode, 17) << r.err;
    EXPECT_TRUE(contains(r.out, "Not run for 30 days: none\n")) << r.out;
    fleetDb.execute("delete from TAVREL_FLEET where WORKSTATION = 'WS-C'");
    r = run({"--fleet-status", "--days", "30"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "Failed at their last run: none\n")) << r.out;
    r = run({"--fleet-status", "--days", "1"});
    EXPECT_EQ(r.exitCode, 17) << r.err;
    EXPECT_TRUE(contains(r.out, "Not run for 1 days: 2\n  WS-B")) << r.out;

    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {"--fleet-status", "--days", "0"},
             {"--fleet-status", "--days", "week"},
             {"--fleet-status", "--days"},
             {"--days", "5"},
             {"--fleet-status", "--check"}}) {
        r = run(wrong);
        EXPECT_EQ(r.exitCode, 64) << wrong.back() << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
}

TEST_F(FleetStatus, ThroughTheServerARunWritesItsRowAndTheReportReadsIt)
{
    if (!testsupport::firebirdServerReachable()) {
        if (testsupport::firebirdServerRequired())
            FAIL() << "no Firebird server on 127.0.0.1:3050 (scripts/start-firebird-server)";
        GTEST_SKIP() << "no Firebird server on 127.0.0.1:3050";
    }
    fleetDb.execute(readmeFleetTable());
    useRelease("release.rar");
    fleetDb.allowServerAccess();
    writeFileBytes(program / "Tavrel.INI", "[LoginU]\nDB=0\nServer=127.0.0.1\nDatabase=" + fleetDb.path().string() +
                                               "\nUserName=SYSDBA\nPassword=" +
                                               scramble::XorEncode(testsupport::firebirdServerPassword()) + "\n");
    CliRun r = run();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = run({"--if-changed"});
    ASSERT_EQ(r.exitCode, 13) << r.err;
    r = run({"--fleet-status"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "Fleet status: 1 workstation(s)")) << r.out;
    EXPECT_TRUE(contains(r.out, "  1  SHA-256 " + sha256Of(releases->path() / "release.rar") + "  unsigned\n"))
        << r.out;
    EXPECT_TRUE(contains(r.out, "Failed at their last run: none\n")) << r.out;
}

TEST(FleetWrite, ADatabaseThatNeverAnswersHoldsTheRunForTheBoundOnly)
{
    // Takes connections into its backlog and never says a word.
    const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(silent, 4), 0);
    ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const FleetDatabase database{"FB",
                                 {"DriverID=FB", "Database=/srv/urv.fdb", "User_Name=SYSDBA", "Password=masterkey",
                                  "Server=127.0.0.1/" + std::to_string(ntohs(address.sin_port))}};

    const auto started = std::chrono::steady_clock::now();
    const FleetWriteResult result = writeFleetRun(database, FleetRun{}, std::chrono::seconds(1));
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(result.outcome, FleetWrite::Abandoned) << result.detail;
    EXPECT_EQ(result.detail, "no answer from the database within 1 s");
    EXPECT_LT(took, std::chrono::seconds(3));
    // The refused connection lets the abandoned thread end before the process does.
    ::close(silent);
    std::this_thread::sleep_for(std::chrono::seconds(1));
}

} // namespace
