// The command-line front end as administrators run it: a copy of
// tavrel-update and our UnRAR library in a program folder with its
// "Tavrel.INI", an embedded Firebird database holding the parameter table,
// releases on a loopback HTTP server and in a folder, and the current
// directory elsewhere.
#include "db/Scramble.h"
#include "tests/support/FirebirdTestDb.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/MinisignKeys.h"
#include "tests/support/RarWriter.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sys/wait.h>

namespace fs = std::filesystem;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;
using testsupport::MinisignToolKey;
using testsupport::readFileBytes;
using testsupport::writeFileBytes;

namespace {

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class Cli : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        db = std::make_unique<testsupport::FirebirdTestDb>();
        db->execute("create table TAVREL_PARAMS (NEWVERSIONPASS varchar(255), DOUPDATE varchar(10))");
        db->execute("insert into TAVREL_PARAMS values ('', '0')");
        releases = std::make_unique<testsupport::TempDir>("tavrel-cli-releases");
        RarWriter(RarFormat::Rar5)
            .file("Tavrel.exe", "new program")
            .directory("Help")
            .file("Help/Tavrel.chm", "new help")
            .write(releases->path(), "release");
        RarWriter(RarFormat::Rar4).file("Tavrel.exe", "new program").wrongCrc().write(releases->path(), "damaged");
        server = std::make_unique<testsupport::HttpTestServer>(releases->path().string());
    }
    static void TearDownTestSuite()
    {
        server.reset();
        releases.reset();
        db.reset();
    }

    Cli()
    {
        fs::create_directories(program);
        fs::create_directories(work);
        fs::copy_file(TAVREL_UPDATE_EXE, program / "tavrel-update");
        fs::copy_file(TAVREL_UNRAR_LIBRARY, program / fs::path(TAVREL_UNRAR_LIBRARY).filename());
        writeFileBytes(program / "Tavrel.exe", "old program");
        writeSettings(db->path().string());
    }

    void writeSettings(const std::string& database)
    {
        writeFileBytes(program / "Tavrel.INI", "[LoginU]\nDB=0\nServer=\nDatabase=" + database +
                                                   "\nUserName=SYSDBA\nPassword=" + scramble::XorEncode("masterkey") +
                                                   "\n");
    }

    static void publish(const std::string& location, const std::string& doUpdate)
    {
        db->execute("update TAVREL_PARAMS set NEWVERSIONPASS = '" + location + "', DOUPDATE = '" + doUpdate + "'");
    }

    CliRun run(const std::string& arguments = "")
    {
        const fs::path out = root / "stdout";
        const fs::path err = root / "stderr";
        const std::string command = "cd '" + work.string() + "' && '" + (program / "tavrel-update").string() + "' " +
                                    arguments + " > '" + out.string() + "' 2> '" + err.string() + "' < /dev/null";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFileBytes(out), readFileBytes(err)};
    }

    static std::unique_ptr<testsupport::FirebirdTestDb> db;
    static std::unique_ptr<testsupport::TempDir> releases;
    static std::unique_ptr<testsupport::HttpTestServer> server;

    testsupport::TempDir root{"tavrel-cli"};
    fs::path program = root / "Программа";
    fs::path work = root / "work";
};
std::unique_ptr<testsupport::FirebirdTestDb> Cli::db;
std::unique_ptr<testsupport::TempDir> Cli::releases;
std::unique_ptr<testsupport::HttpTestServer> Cli::server;

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
    fs::copy_file(releases->path() / "release.rar", releases->path() / "signed.rar", fs::copy_options::overwrite_existing);
    key.sign(releases->path() / "signed.rar");
    fs::copy_file(releases->path() / "signed.rar", releases->path() / "tampered.rar", fs::copy_options::overwrite_existing);
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
        std::string reason; // on standard error
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
        EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), c.program) << c.name;
        EXPECT_FALSE(fs::exists(work / "NewExe.zip")) << c.name;
        EXPECT_FALSE(fs::exists(work / "NewExe.zip.minisig")) << c.name;
    }
}

TEST_F(Cli, FailuresExitWithTheirCodeAndReason)
{
    struct Case {
        const char* name;
        std::string location;
        const char* doUpdate;
        int exitCode;
        std::string reason; // on standard error
    };
    const Case cases[] = {
        {"missing file", (releases->path() / "absent.rar").string(), "0", 1,
         "Файл обновления по указанному пути не найден!"},
        {"status 404", server->url("/status/404"), "1", 1, "HTTP status 404"},
        {"not an archive", server->url("/status/302"), "1", 2, "Ошибка при открытии архива " + (work / "NewExe.zip").string()},
        {"damaged", server->url("/files/damaged.rar"), "1", 3, "поврежден!"},
    };
    for (const Case& c : cases) {
        publish(c.location, c.doUpdate);
        const CliRun r = run();
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name << ": " << r.err;
        EXPECT_TRUE(contains(r.err, c.reason)) << c.name << ": " << r.err;
        EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program") << c.name;
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

TEST_F(Cli, HelpAndUsage)
{
    CliRun r = run("--help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(contains(r.out, "Exit codes:"));
    EXPECT_TRUE(contains(r.out, "PublicKey"));
    EXPECT_FALSE(fs::exists(program / "NewExe.zip"));

    r = run("--force");
    EXPECT_EQ(r.exitCode, 64);
    EXPECT_TRUE(contains(r.err, "--force"));
}

} // namespace
