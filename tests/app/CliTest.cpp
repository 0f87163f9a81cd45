// The command-line front end as administrators run it (see CliFixture.h):
// installing, failing with its exit codes, signals, the update lock,
// signatures and the logon run that installs only a new release.
#include "app/ExitCodes.h"
#include "tests/app/CliFixture.h"
#include "tests/support/MinisignKeys.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace clitest;
using testsupport::MinisignToolKey;

namespace {

TEST_F(Cli, InstallsTheReleaseByCopyAndOverHttp)
{
    const std::string hostAndPath = "127.0.0.1:" + std::to_string(server->port()) + "/files/release.rar";
    // The HTTP location without a scheme gets "http://", as in the dialog.
    const std::pair<std::string, std::string> published[] = {
        {(releases->path() / "release.rar").string(), "0"},
        {hostAndPath, "1"},
    };
    for (const auto& [location, doUpdate] : published) {
        publish(location, doUpdate);
        writeFileBytes(program / "Tavrel.exe", "old program");
        const CliRun r = run();
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "Обновление получено.\nРазархивация завершена.\n");
        EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");
        EXPECT_EQ(readFileBytes(program / "Help" / "Tavrel.chm"), "new help");
        EXPECT_FALSE(fs::exists(program / "NewExe.zip"));
        EXPECT_FALSE(fs::exists(work / "NewExe.zip"));
    }
}

TEST_F(Cli, ChecksTheReleaseSignatureWhenAKeyIsConfigured)
{
    const MinisignToolKey key(root.path(), "publisher");
    fs::copy_file(releases->path() / "release.rar", releases->path() / "signed.rar",
                  fs::copy_options::overwrite_existing);
    key.sign(releases->path() / "signed.rar");
    fs::copy_file(releases->path() / "signed.rar", releases->path() / "tampered.rar",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(releases->path() / "signed.rar.minisig", releases->path() / "tampered.rar.minisig",
                  fs::copy_options::overwrite_existing);
    std::string tampered = readFileBytes(releases->path() / "tampered.rar");
    tampered.back() ^= 1;
    writeFileBytes(releases->path() / "tampered.rar", tampered);

    struct Case {
        const char* name;
        std::string publicKey; // empty: no [Update] section
        const char* release;
        int exitCode;
        std::string reason;  // on standard error
        const char* program; // Tavrel.exe afterwards
    };
    const Case cases[] = {
        {"no key", "", "release.rar", 0, "was not verified", "new program"},
        {"signed", key.publicKeyLine(), "signed.rar", 0, "verified with key", "new program"},
        {"tampered", key.publicKeyLine(), "tampered.rar", 10, "не подтверждена", "old program"},
        {"malformed key", key.publicKeyLine().substr(1), "signed.rar", 11, "неверный открытый ключ обновлений",
         "old program"},
    };
    for (const Case& c : cases) {
        writeSettings(db->path().string());
        if (!c.publicKey.empty())
            writeFileBytes(program / "Tavrel.INI",
                           readFileBytes(program / "Tavrel.INI") + "[Update]\nPublicKey=" + c.publicKey + "\n");
        writeFileBytes(program / "Tavrel.exe", "old program");
        publish(server->url(std::string("/files/") + c.release), "1");
        const CliRun r = run();
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name << ": " << r.err;
        EXPECT_TRUE(contains(r.err, c.reason)) << c.name << ": " << r.err;
        EXPECT_EQ(contains(r.err, "downloading"), c.exitCode != 11) << c.name << ": nothing is fetched: " << r.err;
        EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), c.program) << c.name;
        EXPECT_FALSE(fs::exists(work / "NewExe.zip")) << c.name;
        EXPECT_FALSE(fs::exists(work / "NewExe.zip.minisig")) << c.name;
    }
}

TEST_F(Cli, LocationsAsSitesStoreThemInstallTheRelease)
{
    const std::string host = "127.0.0.1:" + std::to_string(server->port());
    struct Case {
        const char* name;
        bool fixedLengthColumns;
        std::string location;
        const char* doUpdate;
    };
    const Case cases[] = {
        {"CHAR column, copy", true, (releases->path() / "release.rar").string(), "0"},
        {"CHAR column, HTTP", true, host + "/files/release.rar", "1"},
        {"blank in the URL", false, "http://" + host + "/files/Release 2.rar", "1"},
        {"blank escaped", false, "http://" + host + "/files/Release%202.rar", "1"},
        {"Cyrillic in the URL", false, "http://" + host + "/files/Выпуск.rar", "1"},
        {"Cyrillic escaped", false, "http://" + host + "/files/%D0%92%D1%8B%D0%BF%D1%83%D1%81%D0%BA.rar", "1"},
    };
    for (const Case& c : cases) {
        const testsupport::FirebirdTestDb& in = c.fixedLengthColumns ? *charDb : *db;
        publish(c.location, c.doUpdate, in);
        writeSettings(in.path().string());
        writeFileBytes(program / "Tavrel.exe", "old program");
        const CliRun r = run();
        EXPECT_EQ(r.exitCode, 0) << c.name << ": " << r.err;
        EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program") << c.name;
    }
}

TEST_F(Cli, MissingLocationIsReportedAndEndsWithTheParameterCode)
{
    const std::pair<const char*, const char*> cases[] = {
        {"NULL", "update TAVREL_PARAMS set NEWVERSIONPASS = null, DOUPDATE = '1'"},
        {"empty", "update TAVREL_PARAMS set NEWVERSIONPASS = '', DOUPDATE = '0'"},
        {"no row", "delete from TAVREL_PARAMS"},
    };
    for (const auto& [name, sql] : cases) {
        db->execute(sql);
        const CliRun r = run();
        EXPECT_EQ(r.exitCode, 7) << name << ": " << r.err;
        EXPECT_TRUE(
            contains(r.err, "Путь к обновлению не указан! Проверьте поле NEWVERSIONPASS таблицы TAVREL_PARAMS."))
            << name << ": " << r.err;
        EXPECT_FALSE(fs::exists(work / "NewExe.zip")) << name;
    }
    db->execute("insert into TAVREL_PARAMS values ('', '0')");
}

TEST_F(Cli, DatabaseThatIsNoRegularFileIsRefusedAtOnce)
{
    const fs::path fifo = root / "urv.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(root / "urv.fdb");
    for (const fs::path& database : {fs::path("/dev/null"), fifo, root / "urv.fdb"}) {
        writeSettings(database.string());
        const auto started = std::chrono::steady_clock::now();
        const CliRun r = run();
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30)) << database;
        EXPECT_EQ(r.exitCode, 6) << database << ": " << r.err;
        EXPECT_TRUE(contains(r.err, "not a regular file")) << database << ": " << r.err;
        EXPECT_TRUE(contains(r.err, "Нет соединения с БД \"Tavrel\"!")) << database << ": " << r.err;
    }
}

TEST_F(Cli, FailuresExitWithTheirCodeAndReason)
{
    const fs::path fifo = root / "release.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    writeFileBytes(releases->path() / "large.bin", std::string((1u << 20) + 1, 'x'));
    struct Case {
        const char* name;
        std::string location;
        const char* doUpdate;
        int exitCode;
        std::string reason;                     // on standard error
        const char* update = "MaxDownloadMB=1"; // section [Update] of the settings file
    };
    const Case cases[] = {
        {"missing file", (releases->path() / "absent.rar").string(), "0", 1,
         "Файл обновления по указанному пути не найден!"},
        {"status 404", server->url("/status/404"), "1", 1, "HTTP status 404"},
        {"not an archive", server->url("/status/302"), "1", 2,
         "Ошибка при открытии архива " + (work / "NewExe.zip").string()},
        {"damaged", server->url("/files/damaged.rar"), "1", 3, "поврежден!"},
        {"no URL", "http://bad host/release.rar", "1", 1,
         "Неверный адрес файла обновления: http://bad host/release.rar"},
        {"endless body", server->url("/endless"), "1", 1, "larger than 1 MiB"},
        {"copy beyond the cap", (releases->path() / "large.bin").string(), "0", 1,
         "copy of " + (releases->path() / "large.bin").string() + " stopped: larger than 1 MiB"},
        {"file URL in HTTP mode", "file://" + (releases->path() / "release.rar").string(), "1", 1,
         "Адрес файла обновления file://" + (releases->path() / "release.rar").string() +
             " не является адресом HTTP: при DOUPDATE=1"},
        {"folder", releases->path().string(), "0", 1,
         "По пути обновления " + releases->path().string() + " находится папка, а не файл архива!"},
        {"FIFO", fifo.string(), "0", 1,
         "По пути обновления " + fifo.string() + " находится не обычный файл (канал, устройство или сокет)!"},
        // 200 bytes a second holds no updater for long.
        {"trickling server", server->url("/trickle/100/500"), "1", 1, "slower than 1024 bytes/s for 2 s",
         "LowSpeedKB=1\nLowSpeedSec=2"},
        {"overlong download", server->url("/slow/100/100"), "1", 1, "took longer than 3 s", "DownloadTimeoutMin=0.05"},
        {"malformed time limit", server->url("/files/release.rar"), "1", 15,
         "неверное значение [Update] DownloadTimeoutMin=soon: нужно число минут, не меньше 1/60 (одной секунды)",
         "DownloadTimeoutMin=soon"},
        {"malformed proxy", server->url("/files/release.rar"), "1", 15,
         "неверное значение [Update] Proxy=http://[::1: нужно адрес прокси-сервера HTTP", "Proxy=http://[::1"},
        {"malformed downgrade switch", server->url("/files/release.rar"), "1", 15,
         "неверное значение [Update] AllowDowngrade=yes: нужно 0 или 1", "AllowDowngrade=yes"},
    };
    for (const Case& c : cases) {
        writeSettings(db->path().string(), std::string("[Update]\n") + c.update + "\n");
        publish(c.location, c.doUpdate);
        const CliRun r = run();
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name << ": " << r.err;
        EXPECT_TRUE(contains(r.err, c.reason)) << c.name << ": " << r.err;
        EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program") << c.name;
    }
}

TEST_F(Cli, MaxDownloadMBIsReadStrictly)
{
    publish((releases->path() / "release.rar").string(), "0");
    struct Case {
        std::string value;
        int exitCode;
    };
    const Case cases[] = {
        {"5MB", 15},
        {"abc", 15},
        {"-1", 15},
        {"0.5", 15},
        {"18446744073709551616", 15},
        // Whole MiB beyond 64 bits of bytes.
        {"17592186044416", 15},
        {"", 0},
        {"0", 0},
        {" 2 ", 0},
        {"17592186044415", 0},
    };
    for (const Case& c : cases) {
        writeSettings(db->path().string(), "[Update]\nMaxDownloadMB=" + c.value + "\n");
        writeFileBytes(program / "Tavrel.exe", "old program");
        const CliRun r = run();
        EXPECT_EQ(r.exitCode, c.exitCode) << c.value << ": " << r.err;
        if (c.exitCode == 15) {
            EXPECT_TRUE(contains(r.err, "В файле настроек " + (program / "Tavrel.INI").string() +
                                            " неверное значение [Update] MaxDownloadMB=" + c.value +
                                            ": нужно целое число от 0 до 17592186044415"))
                << c.value << ": " << r.err;
            EXPECT_FALSE(contains(r.err, "copying")) << c.value;
            EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program") << c.value;
        }
    }
}

TEST_F(Cli, ConnectionFailureNamesTheMissingSectionOrDatabase)
{
    const std::string settingsFile = (program / "Tavrel.INI").string();
    const std::pair<std::string, std::string> cases[] = {
        {"[Login]\nDatabase=" + db->path().string() + "\n",
         "В файле настроек " + settingsFile + " нет раздела [LoginU] с параметрами подключения."},
        {"[LoginU]\nDB=0\nUserName=SYSDBA\n",
         "В разделе [LoginU] файла настроек " + settingsFile + " не указана база данных (ключ Database)."},
    };
    for (const auto& [settings, reason] : cases) {
        writeFileBytes(program / "Tavrel.INI", settings);
        const CliRun r = run();
        EXPECT_EQ(r.exitCode, 6) << settings << r.err;
        EXPECT_TRUE(contains(r.err, "Нет соединения с БД \"Tavrel\"! " + reason)) << r.err;
    }
}

TEST_F(Cli, WithoutDatabaseOrParameterTableItEndsWithItsOwnCode)
{
    writeSettings((root / "absent.fdb").string());
    CliRun r = run();
    EXPECT_EQ(r.exitCode, 6);
    EXPECT_TRUE(contains(r.err, "Нет соединения с БД \"Tavrel\"!")) << r.err;

    testsupport::FirebirdTestDb empty;
    writeSettings(empty.path().string());
    r = run();
    EXPECT_EQ(r.exitCode, 7) << r.err;
    EXPECT_TRUE(r.out.empty());
}

TEST_F(Cli, ProgressOfEveryStepIsShownOnATerminalOnly)
{
    publish((releases->path() / "release.rar").string(), "0");
    writeSettings(db->path().string());
    const CliRun piped = run();
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_FALSE(contains(piped.err, "fetched") || contains(piped.err, "testing") || contains(piped.err, "unpacking"))
        << piped.err;

    // script(1) gives the run a terminal and keeps what it showed.
    writeFileBytes(program / "Tavrel.exe", "old program");
    const fs::path shown = root / "terminal";
    const int status =
        ChildProcess::run({.program = "script",
                           .arguments = {"-qec", "'" + (program / "tavrel-update").string() + "'", shown.string()},
                           .folder = work,
                           .out = "/dev/null"})
            .status;
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readFileBytes(shown);
    const std::string terminal = readFileBytes(shown);
    for (const char* step : {"fetched", "testing 100%", "unpacking 100%"})
        EXPECT_TRUE(contains(terminal, step)) << step << " in " << terminal;
    EXPECT_LT(terminal.find("testing"), terminal.find("unpacking"));
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");
}

// The exit codes that --help lists and the README's table are the ones the
// program uses, with the same meaning.
TEST_F(Cli, HelpAndReadmeListTheProgramsExitCodes)
{
    std::vector<std::pair<int, std::string>> used;
    for (const ExitCodeMeaning& row : kExitCodes)
        used.emplace_back(row.code, std::string(row.meaning));

    // --help: "  N   meaning", continued on lines indented further.
    const CliRun r = run({"--help"});
    ASSERT_EQ(r.exitCode, 0);
    std::vector<std::pair<int, std::string>> help;
    std::istringstream helpLines(r.out.substr(r.out.find("\nExit codes:\n") + 13));
    for (std::string line; std::getline(helpLines, line);) {
        if (line.rfind("      ", 0) == 0 && !help.empty())
            help.back().second += " " + line.substr(6);
        else if (line.size() > 6 && line.rfind("  ", 0) == 0)
            help.emplace_back(std::stoi(line.substr(2, 4)), line.substr(6));
    }
    EXPECT_EQ(help, used);

    // README.md: "| N | meaning |" rows below the header "| exit code | meaning |".
    std::ifstream readme(TAVREL_README);
    std::vector<std::pair<int, std::string>> documented;
    bool inTable = false;
    for (std::string line; std::getline(readme, line);) {
        if (line == "| exit code | meaning |") {
            inTable = true;
            continue;
        }
        if (!inTable || line.rfind("| --- ", 0) == 0)
            continue;
        if (line.rfind("| ", 0) != 0)
            break;
        const std::size_t bar = line.find(" | ", 2);
        documented.emplace_back(std::stoi(line.substr(2, bar - 2)), line.substr(bar + 3, line.size() - bar - 5));
    }
    EXPECT_EQ(documented, used);
}

TEST_F(Cli, HelpAndUsage)
{
    CliRun r = run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(contains(r.out, "Exit codes:"));
    EXPECT_TRUE(contains(r.out, "PublicKey"));
    EXPECT_FALSE(fs::exists(program / "NewExe.zip"));

    r = run({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("tavrel-update ", 0), 0u) << r.out;

    // The password comes on standard input, as a script pipes it in.
    const testsupport::ChildResult scrambled =
        ChildProcess::run({.program = "sh",
                           .arguments = {"-c", "printf 'masterkey\\n' | '" + (program / "tavrel-update").string() +
                                                   "' --scramble-password"},
                           .folder = work,
                           .out = root / "stdout",
                           .err = root / "stderr"});
    EXPECT_EQ(scrambled.exitCode(), 0) << scrambled.err;
    EXPECT_EQ(scrambled.out, scramble::XorEncode("masterkey") + "\n");
    EXPECT_EQ(scrambled.out, "55173415291f45173d\n");

    r = run({"--force"});
    EXPECT_EQ(r.exitCode, 64);
    EXPECT_TRUE(contains(r.err, "--force"));
}

} // namespace

namespace {

TEST_F(Cli, SignalsStopAFetchAtOnceAndASecondUpdaterIsRefused)
{
    struct Case {
        const char* name;
        int signal;
    };
    for (const Case& c : {Case{"SIGTERM", SIGTERM}, Case{"SIGINT", SIGINT}}) {
        // 1 KiB every 100 ms: the download would take 20 s.
        publish(server->url("/slow/200/100"), "1");
        ChildProcess first = start(c.name);
        ASSERT_TRUE(waitForError(c.name, "downloading")) << readFileBytes(root / (std::string(c.name) + ".err"));

        // A second updater in the same folder, while the first holds it.
        const CliRun second = run();
        EXPECT_EQ(second.exitCode, 8) << c.name << ": " << second.err;
        EXPECT_TRUE(contains(second.err, "Обновление уже выполняется")) << second.err;
        EXPECT_TRUE(second.out.empty());

        const auto signalled = std::chrono::steady_clock::now();
        first.signal(c.signal);
        const int status = first.wait().status;
        const auto took = std::chrono::steady_clock::now() - signalled;
        EXPECT_LT(took, std::chrono::seconds(2)) << c.name;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << c.name << " status " << status;
        EXPECT_TRUE(contains(readFileBytes(root / (std::string(c.name) + ".err")), "interrupted")) << c.name;
        EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program");
        EXPECT_TRUE(fs::is_empty(work)) << c.name << ": no archive, no partial download";
        EXPECT_EQ(updateFolderContent(), std::vector<std::string>{"lock"});
    }
}

// The update lock fails closed: whatever keeps an updater from taking it
// stops the run before anything is touched, with the cause named. A lock
// another user created is shared: reading it is enough to lock it.
TEST_F(Cli, UpdateLockThatCannotBeTakenStopsTheRunBeforeAnythingIsTouched)
{
    const bool asRoot = ::geteuid() == 0;
    const fs::path folder = program / ".tavrel-update";
    const fs::path lock = folder / "lock";
    const auto shell = [](const std::string& command) { return std::system(command.c_str()) == 0; };
    // A lock file as the root user left it, with `mode`.
    const auto plainLock = [&](fs::perms mode) {
        fs::create_directories(folder);
        writeFileBytes(lock, "");
        fs::permissions(lock, mode);
        return true;
    };
    struct Case {
        const char* name;
        std::function<bool()> prepare; // false: cannot be set up on this machine
        bool otherUser;                // run as "nobody" (root only; others are another user already)
        bool heldByTest;               // the test holds the lock while the updater runs
        int exitCode;
        const char* said;
    };
    const Case cases[] = {
        {"update folder is a file",
         [&] {
             writeFileBytes(folder, "x");
             return true;
         },
         false, false, 12, "— файл, а не папка"},
        {"lock is a folder",
         [&] {
             fs::create_directories(lock);
             return true;
         },
         false, false, 12, "— папка, а не файл"},
        {"lock is a FIFO",
         [&] {
             fs::create_directories(folder);
             return ::mkfifo(lock.c_str(), 0644) == 0;
         },
         false, false, 12, "— не обычный файл"},
        {"update folder cannot be created",
         [&] {
             fs::permissions(program, fs::perms(0555));
             return true;
         },
         true, false, 12, "нет прав на создание папки"},
        {"lock unreadable for the user", [&] { return plainLock(fs::perms(0600)) && asRoot; }, true, false, 12,
         "нет прав на чтение или создание файла"},
        {"lock of another user, read-only for this one", [&] { return plainLock(fs::perms(0644)) && asRoot; }, true,
         true, 8, "Обновление уже выполняется"},
        {"immutable lock",
         [&] { return plainLock(fs::perms(0644)) && asRoot && shell("chattr +i '" + lock.string() + "' 2>/dev/null"); },
         false, true, 8, "Обновление уже выполняется"},
    };
    publish((releases->path() / "release.rar").string(), "0");
    // "nobody" must reach the program folder and the current directory.
    fs::permissions(root.path(), fs::perms(0755));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder);
        if (!c.prepare()) {
            std::cout << "[ SKIPPED  ] " << c.name << ": needs root\n";
            continue;
        }
        int holder = -1;
        if (c.heldByTest) {
            holder = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
        }
        const std::string updater = (program / "tavrel-update").string();
        const testsupport::ChildResult r =
            c.otherUser && asRoot
                ? ChildProcess::run({.program = "setpriv",
                                     .arguments = {"--reuid=nobody", "--regid=nogroup", "--clear-groups", updater},
                                     .folder = work,
                                     .out = root.path() / "stdout",
                                     .err = root.path() / "stderr"})
                : ChildProcess::run({.program = updater,
                                     .folder = work,
                                     .out = root.path() / "stdout",
                                     .err = root.path() / "stderr"});
        if (holder >= 0)
            ::close(holder);
        shell("chattr -i '" + lock.string() + "' 2>/dev/null");
        fs::permissions(program, fs::perms(0755));

        EXPECT_EQ(r.exitCode(), c.exitCode) << r.err;
        EXPECT_TRUE(contains(r.err, c.said)) << r.err;
        if (c.exitCode == 12) {
            EXPECT_TRUE(contains(r.err, "Не удалось заблокировать папку программы для обновления")) << r.err;
        }
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program");
        EXPECT_TRUE(fs::is_empty(work));
    }
    fs::remove_all(folder);
}

// A program folder that a group shares (group-writable, setgid): what one
// user's run leaves there, the next user's run can use and replace, whatever
// their umask 022 gave it; and a check of either writes nothing.
TEST_F(Cli, UsersSharingAProgramFolderTakeTurnsWithAKey)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the updater as two users";
    const std::string group = "4242";
    const std::string userA = "4301";
    const std::string userB = "4302";
    const testsupport::SodiumKey key;
    const fs::path site = root / "site";
    const fs::path engineLocks = root / "firebird";
    fs::create_directories(site);
    fs::create_directories(engineLocks);
    // Both users reach the program folder, the releases, the current
    // directory and the database; the program folder is the group's.
    for (const fs::path& open : {root.path(), site, work, engineLocks})
        fs::permissions(open, fs::perms::all);
    fs::permissions(root.path(), fs::perms(0755));
    db->allowServerAccess();
    for (const auto& entry : fs::recursive_directory_iterator(program))
        ::chown(entry.path().c_str(), 0, static_cast<gid_t>(std::stoi(group)));
    ::chown(program.c_str(), 0, static_cast<gid_t>(std::stoi(group)));
    ::chmod(program.c_str(), 02775);
    writeSettings(db->path().string(), "[Update]\nPublicKey=" + key.publicKeyLine() + "\n");
    ::chmod((program / "Tavrel.INI").c_str(), 0644);

    const auto publishSigned = [&](const std::string& text, std::int64_t signedAt) {
        RarWriter(RarFormat::Rar5)
            .file("Tavrel.exe", text)
            .directory("Help")
            .file("Help/Tavrel.chm", text + " help")
            .write(site, "Shared");
        key.sign(site / "Shared.rar", site / "Shared.rar.minisig", true,
                 "timestamp:" + std::to_string(signedAt) + "\tfile:Shared.rar\thashed");
        for (const char* name : {"Shared.rar", "Shared.rar.minisig"})
            fs::permissions(site / name, fs::perms(0644));
    };
    const auto runAs = [&](const std::string& user, const std::string& option) {
        const std::string updater = (program / "tavrel-update").string();
        std::vector<std::string> arguments = {"--reuid=" + user, "--regid=" + user, "--groups=" + group,
                                              "env",         "FIREBIRD_LOCK=" + engineLocks.string(),
                                              "sh",          "-c",
                                              "umask 022 && exec \"$0\" \"$@\"",
                                              updater};
        if (!option.empty())
            arguments.push_back(option);
        const testsupport::ChildResult r = ChildProcess::run(
            {.program = "setpriv", .arguments = arguments, .folder = work, .out = root / "stdout", .err = root / "stderr"});
        return CliRun{r.exitCode(), r.out, r.err};
    };

    publish((site / "Shared.rar").string(), "0");
    publishSigned("Tavrel 2.0", 2'000'000'000);
    CliRun r = runAs(userA, "");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFileBytes(program / "Help" / "Tavrel.chm"), "Tavrel 2.0 help");
    for (const fs::path& made : {program / ".tavrel-update", program / "Help"}) {
        struct stat s {};
        ASSERT_EQ(::stat(made.c_str(), &s), 0);
        EXPECT_EQ(s.st_mode & 07070, 02070u) << made;
        EXPECT_EQ(s.st_gid, static_cast<gid_t>(std::stoi(group))) << made;
    }

    const auto before = folderState(program);
    const auto folderTime = fs::last_write_time(program / ".tavrel-update");
    for (const char* option : {"--check", "--if-changed"}) {
        r = runAs(userB, option);
        EXPECT_EQ(r.exitCode, 13) << option << ": " << r.err;
        EXPECT_EQ(folderState(program), before) << option;
        EXPECT_EQ(fs::last_write_time(program / ".tavrel-update"), folderTime) << option;
    }
    publishSigned("Tavrel 2.1", 2'000'000'100);
    r = runAs(userB, "--if-changed");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFileBytes(program / "Help" / "Tavrel.chm"), "Tavrel 2.1 help");
    for (const char* option : {"--check", "--if-changed"}) {
        r = runAs(userA, option);
        EXPECT_EQ(r.exitCode, 13) << option << ": " << r.err;
    }
    // And A replaces what B installed.
    publishSigned("Tavrel 2.2", 2'000'000'200);
    r = runAs(userA, "");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "Tavrel 2.2");
}

TEST_F(Cli, IfChangedInstallsOnlyANewReleaseAndCheckOnlyTells)
{
    const fs::path source = releases->path() / "fleet.rar";
    fs::copy_file(releases->path() / "release.rar", source, fs::copy_options::overwrite_existing);
    publish(source.string(), "0");
    const std::string noNewRelease = "Новой версии программы нет: установлена опубликованная версия.\n";
    const std::string newRelease = "Опубликована новая версия программы.\n";

    // Nothing known yet: the release is new.
    CliRun r = run({"--check"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, newRelease);
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program");
    r = run({"--if-changed"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");
    EXPECT_TRUE(fs::exists(program / ".tavrel-update" / "installed"));

    // Unchanged: one line, nothing fetched, not a file of the folder touched.
    writeFileBytes(program / "Tavrel.exe", "the workstation's own change");
    const auto before = folderState(program);
    for (const char* option : {"--if-changed", "--check"}) {
        r = run({option});
        EXPECT_EQ(r.exitCode, 13) << option << ": " << r.err;
        EXPECT_EQ(r.out, noNewRelease) << option;
        EXPECT_EQ(folderState(program), before) << option;
    }
    // Without the option the release is installed as always.
    r = run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");

    // A newer copy of the source is a new release; --check changes nothing.
    writeFileBytes(program / "Tavrel.exe", "old program");
    fs::last_write_time(source, fs::last_write_time(source) + std::chrono::seconds(5));
    r = run({"--check"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program");
    EXPECT_EQ(run({"--if-changed"}).exitCode, 0);
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");

    // A damaged record, or one of another location, knows nothing.
    for (const char* record : {"garbage", "tavrel installed release 1\nlocation=/elsewhere.rar\nsize=1\nsha256=00\n"}) {
        writeFileBytes(program / ".tavrel-update" / "installed", record);
        writeFileBytes(program / "Tavrel.exe", "old program");
        r = run({"--if-changed"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");
    }
    // A folder in the record's place knows nothing either, and gives way to
    // the record, so that the next run does not install the release again.
    fs::remove(program / ".tavrel-update" / "installed");
    fs::create_directories(program / ".tavrel-update" / "installed" / "inside");
    EXPECT_EQ(run({"--if-changed"}).exitCode, 0);
    EXPECT_EQ(run({"--if-changed"}).exitCode, 13);
    EXPECT_EQ(run({"--if-changed", "--check"}).exitCode, 64);
}

// Nothing installed yet, or installed from another location: --check asks
// the source all the same, and a source that cannot be asked is no answer.
TEST_F(Cli, CheckAsksTheSourceAlsoWithoutARecordOfIt)
{
    struct Case {
        const char* name;
        std::string location;
        const char* doUpdate;
        int exitCode;
    };
    const Case cases[] = {
        {"a copy", (releases->path() / "release.rar").string(), "0", 0},
        {"a missing copy", (releases->path() / "missing.rar").string(), "0", 1},
        {"HTTP", server->url("/files/release.rar"), "1", 0},
        {"HTTP 404", server->url("/status/404"), "1", 1},
        {"a port nobody listens on", "http://127.0.0.1:9/release.rar", "1", 1},
        {"an FTP URL", "ftp://127.0.0.1/release.rar", "1", 1},
    };
    const fs::path record = program / ".tavrel-update" / "installed";
    for (const Case& c : cases) {
        publish(c.location, c.doUpdate);
        for (const char* known : {"", "tavrel installed release 1\nlocation=/elsewhere.rar\nsize=1\nsha256=00\n"}) {
            SCOPED_TRACE(std::string(c.name) + (*known ? ", installed from elsewhere" : ", nothing installed"));
            fs::remove_all(program / ".tavrel-update");
            if (*known) {
                fs::create_directories(record.parent_path());
                writeFileBytes(record, known);
            }
            const CliRun r = run({"--check"});
            EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
            EXPECT_EQ(r.out.empty(), c.exitCode != 0) << r.out;
            EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program");
            EXPECT_TRUE(fs::is_empty(work));
        }
    }
}

// With a key, the release's signature file alone says whether it is new,
// and a release signed before the installed one is not installed.
TEST_F(Cli, SignedReleasesAreComparedByTheirSignatureAndNeverDowngraded)
{
    const testsupport::SodiumKey key;
    const fs::path source = releases->path() / "signed-fleet.rar";
    const auto publishSigned = [&](const char* program, std::int64_t signedAt) {
        RarWriter(RarFormat::Rar5).file("Tavrel.exe", program).write(releases->path(), "signed-fleet");
        key.sign(source, releases->path() / "signed-fleet.rar.minisig", true,
                 "timestamp:" + std::to_string(signedAt) + "\tfile:signed-fleet.rar\thashed");
    };
    publish(source.string(), "0");
    writeSettings(db->path().string(), "[Update]\nPublicKey=" + key.publicKeyLine() + "\n");

    publishSigned("Tavrel 2.0", 2'000'000'000);
    EXPECT_EQ(run({"--if-changed"}).exitCode, 0);
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "Tavrel 2.0");
    // The archive was touched, its signature was not: the same release. The
    // signature asked for is kept in memory: not even a folder's time changes.
    fs::last_write_time(source, fs::last_write_time(source) + std::chrono::seconds(5));
    const auto folderTimes = [&] {
        return std::pair(fs::last_write_time(program), fs::last_write_time(program / ".tavrel-update"));
    };
    const auto before = folderTimes();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    CliRun r;
    for (const char* option : {"--if-changed", "--check"}) {
        r = run({option});
        EXPECT_EQ(r.exitCode, 13) << option << ": " << r.err;
        EXPECT_EQ(folderTimes(), before) << option;
    }

    // An older release, validly signed, is refused and removed.
    publishSigned("Tavrel 0.9", 1'000'000'000);
    r = run({"--if-changed"});
    EXPECT_EQ(r.exitCode, 14) << r.err;
    EXPECT_TRUE(contains(r.err, "раньше установленной версии")) << r.err;
    // Both signing times to the second: releases signed minutes apart must be told apart.
    EXPECT_TRUE(contains(r.err, "09.09.2001 01:46:40 UTC") && contains(r.err, "18.05.2033 03:33:20 UTC")) << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "Tavrel 2.0");
    EXPECT_FALSE(fs::exists(program / "NewExe.zip"));
    EXPECT_FALSE(fs::exists(program / "NewExe.zip.minisig"));

    // Allowed by the settings file, or nothing known of the installed one.
    writeSettings(db->path().string(), "[Update]\nPublicKey=" + key.publicKeyLine() + "\nAllowDowngrade=1\n");
    r = run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "Tavrel 0.9");
    writeSettings(db->path().string(), "[Update]\nPublicKey=" + key.publicKeyLine() + "\n");
    publishSigned("Tavrel 0.8", 900'000'000);
    EXPECT_EQ(run().exitCode, 14);
    fs::remove(program / ".tavrel-update" / "installed");
    EXPECT_EQ(run().exitCode, 0);
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "Tavrel 0.8");
}

TEST_F(Cli, ReleaseReplacingTheUpdaterAndItsLibraryInstallsAndTheNewOnesRun)
{
    const std::string library = fs::path(TAVREL_UNRAR_LIBRARY).filename().string();
    RarWriter(RarFormat::Rar5)
        .file("Tavrel.exe", "new program")
        .file("tavrel-update", readFileBytes(TAVREL_UPDATE_EXE))
        .unixHost(0755)
        .file(library, readFileBytes(TAVREL_UNRAR_LIBRARY))
        .unixHost(0755)
        .write(root.path(), "self");
    publish((root / "self.rar").string(), "0");
    struct stat before {};
    ::stat((program / "tavrel-update").c_str(), &before);

    CliRun r = run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    struct stat after {};
    ::stat((program / "tavrel-update").c_str(), &after);
    EXPECT_NE(before.st_ino, after.st_ino) << "the running executable was replaced";
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");

    // The replaced updater and library run the next update.
    writeFileBytes(program / "Tavrel.exe", "old program");
    r = run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");
}

// A release made on Windows carries no modes: the programs it replaces stay
// executable, the updater passes the self-check and runs the next update.
TEST_F(Cli, ReleaseMadeOnWindowsKeepsTheProgramsExecutable)
{
    const std::string library = fs::path(TAVREL_UNRAR_LIBRARY).filename().string();
    writeFileBytes(program / "tavrel-main", "#!/bin/sh\necho old main\n");
    fs::permissions(program / "tavrel-main", static_cast<fs::perms>(0755));
    RarWriter(RarFormat::Rar5)
        .file("tavrel-main", "#!/bin/sh\necho new main\n")
        .file("tavrel-update", readFileBytes(TAVREL_UPDATE_EXE))
        .file(library, readFileBytes(TAVREL_UNRAR_LIBRARY))
        .file("Tavrel.exe", "new program")
        .write(root.path(), "windows");
    publish((root / "windows.rar").string(), "0");

    CliRun r = run();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* name : {"tavrel-main", "tavrel-update"})
        EXPECT_EQ(fs::status(program / name).permissions(), static_cast<fs::perms>(0755)) << name;
    const testsupport::ChildResult main =
        ChildProcess::run({.program = program / "tavrel-main", .folder = work, .out = root / "main.out"});
    EXPECT_EQ(main.exitCode(), 0);
    EXPECT_EQ(main.out, "new main\n");

    // The updater from the release runs the next update.
    writeFileBytes(program / "Tavrel.exe", "old program");
    r = run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");
}

TEST_F(Cli, ReleaseThatWouldDisableLaterUpdatesIsNotInstalled)
{
    const std::string library = fs::path(TAVREL_UNRAR_LIBRARY).filename().string();
    struct Case {
        const char* name;
        std::string entry; // the broken part the release carries
        std::string bytes;
        std::string cause; // in the message after the entry
    };
    const Case cases[] = {
        {"library that is no library", library, std::string(4096, 'x'),
         "из него не работает — библиотека UnRAR не загружается (" + (program / ".tavrel-update/staging/").string() +
             library + ": invalid ELF header)"},
        {"updater that is no program", "tavrel-update", "not a program",
         "из него не работает — программа обновления не запускается (Exec format error)"},
        {"updater that fails", "tavrel-update", "#!/bin/sh\necho cannot start >&2\nexit 3\n",
         "из него не работает — программа обновления не запускается (код завершения 3: cannot start)"},
        {"dialog program that fails", "tavrel-updater", "#!/bin/sh\nkill -SEGV $$\n",
         "из него не работает — программа обновления не запускается (ended by signal 11"},
    };
    for (const Case& c : cases) {
        RarWriter(RarFormat::Rar5)
            .file("Tavrel.exe", "new program")
            .file(c.entry, c.bytes)
            .unixHost(0755)
            .write(root.path(), "broken");
        publish((root / "broken.rar").string(), "0");
        // Apart from the lock and the archive, kept for inspection.
        const auto workstationFiles = [this] {
            auto files = testsupport::folderContents(program);
            std::erase_if(files, [](const auto& file) {
                return file.first.rfind(".tavrel-update", 0) == 0 || file.first == "NewExe.zip";
            });
            return files;
        };
        const auto before = workstationFiles();
        const CliRun r = run();
        EXPECT_EQ(r.exitCode, 16) << c.name << ": " << r.err;
        EXPECT_TRUE(contains(r.err, "Обновление из архива " + (program / "NewExe.zip").string() +
                                        " не установлено: " + c.entry + " " + c.cause))
            << c.name << ": " << r.err;
        EXPECT_EQ(workstationFiles(), before) << c.name;
        EXPECT_EQ(updateFolderContent(), std::vector<std::string>{"lock"}) << c.name;
    }

    // The updater still works: a sound release installs.
    publish((releases->path() / "release.rar").string(), "0");
    const CliRun r = run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");
}

TEST_F(Cli, LibraryThatDoesNotLoadIsNamed)
{
    const std::string library = fs::path(TAVREL_UNRAR_LIBRARY).filename().string();
    writeFileBytes(program / library, "");
    publish((releases->path() / "release.rar").string(), "0");
    const CliRun r = run();
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_TRUE(contains(r.err, "Библиотека UnRAR " + library + " не загружается (" + (program / library).string() +
                                    ": file too short), архив " + (program / "NewExe.zip").string() + " не открыт."))
        << r.err;
}

TEST_F(Cli, RecoversAtStartKeepsTheWorkstationsFilesAndLeavesOnlyTheLock)
{
    // The program's own embedded database in its folder, as on a workstation.
    RarWriter(RarFormat::Rar5)
        .file("Tavrel.exe", "new program")
        .file("Tavrel.INI", "[LoginU]\nDatabase=somewhere else\n")
        .file("urv.fdb", "not a database")
        .write(root.path(), "workstation");
    publish((root / "workstation.rar").string(), "0");
    fs::copy_file(db->path(), program / "urv.fdb");
    writeSettings((program / "urv.fdb").string());
    const std::string settings = readFileBytes(program / "Tavrel.INI");

    // What a killed run left: an install without its commit mark, a partial
    // download, a file the library was writing.
    fs::create_directories(program / ".tavrel-update" / "backup" / "Help");
    fs::create_directories(program / "Help");
    writeFileBytes(program / "Help" / "Tavrel.chm", "half of a new release");
    writeFileBytes(program / ".tavrel-update" / "backup" / "Help" / "Tavrel.chm", "old help");
    writeFileBytes(program / ".tavrel-update" / "journal", "tavrel install journal 1\nreplace Help/Tavrel.chm\n");
    writeFileBytes(program / ".NewExe.zip.part-1a2b3c4d", "partial download");
    writeFileBytes(program / "Help" / ".unrar-4242-0.tmp", "partial entry");

    const CliRun r = run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Прерванное обновление отменено: восстановлены прежние файлы программы.\n"
                     "Обновление получено.\n"
                     "Файл Tavrel.INI из обновления не установлен: оставлен файл рабочего места.\n"
                     "Файл urv.fdb из обновления не установлен: оставлен файл рабочего места.\n"
                     "Разархивация завершена.\n");
    EXPECT_EQ(readFileBytes(program / "Help" / "Tavrel.chm"), "old help");
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");
    EXPECT_EQ(readFileBytes(program / "Tavrel.INI"), settings);
    EXPECT_FALSE(fs::exists(program / ".NewExe.zip.part-1a2b3c4d"));
    EXPECT_FALSE(fs::exists(program / "Help" / ".unrar-4242-0.tmp"));
    EXPECT_EQ(updateFolderContent(), (std::vector<std::string>{"installed", "lock"}));

    // The database is whole: the next run connects and reads its parameters.
    const CliRun again = run();
    EXPECT_EQ(again.exitCode, 0) << again.err;
}

} // namespace
