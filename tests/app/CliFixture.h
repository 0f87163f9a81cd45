#pragma once
// The command-line front end as administrators run it: a copy of
// tavrel-update and our UnRAR library in a program folder with its
// "Tavrel.INI", an embedded Firebird database holding the parameter table,
// releases on a loopback HTTP server and in a folder, and the current
// directory elsewhere.
#include "db/Scramble.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FirebirdTestDb.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/RarWriter.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace clitest {

namespace fs = std::filesystem;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;
using testsupport::ChildProcess;
using testsupport::readFileBytes;
using testsupport::writeFileBytes;

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// What the program folder looks like down to each file's time: a run that
// found nothing new must not have written any of it.
inline std::map<std::string, std::pair<std::string, fs::file_time_type>> folderState(const fs::path& folder)
{
    std::map<std::string, std::pair<std::string, fs::file_time_type>> state;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(entry.path(), folder).generic_string();
        if (name != ".tavrel-update/lock" && entry.is_regular_file())
            state[name] = {readFileBytes(entry.path()), entry.last_write_time()};
    }
    return state;
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

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
        for (const char8_t* stem : {u8"Release 2", u8"Выпуск"})
            fs::copy_file(releases->path() / "release.rar", releases->path() / (std::u8string(stem) + u8".rar"));
        // The same table with fixed-length columns, as some sites declared it.
        charDb = std::make_unique<testsupport::FirebirdTestDb>();
        charDb->execute("create table TAVREL_PARAMS (NEWVERSIONPASS char(255), DOUPDATE char(1))");
        charDb->execute("insert into TAVREL_PARAMS values ('', '0')");
        server = std::make_unique<testsupport::HttpTestServer>(releases->path().string());
    }
    static void TearDownTestSuite()
    {
        server.reset();
        releases.reset();
        db.reset();
        charDb.reset();
    }

    Cli()
    {
        fs::create_directories(program);
        fs::create_directories(work);
        installProgram(program);
        writeFileBytes(program / "Tavrel.exe", "old program");
        writeSettings(db->path().string());
    }

    // The updater and our UnRAR library; on Windows also the Qt it runs on
    // (its DLLs and SQL drivers), as the MSI installs them. Not the Firebird
    // client: the program finds it as a workstation does.
    static void installProgram(const fs::path& folder)
    {
        const fs::path built = fs::path(TAVREL_UPDATE_EXE).parent_path();
        fs::copy_file(TAVREL_UPDATE_EXE, folder / fs::path(TAVREL_UPDATE_EXE).filename());
        fs::copy_file(TAVREL_UNRAR_LIBRARY, folder / fs::path(TAVREL_UNRAR_LIBRARY).filename());
#ifdef _WIN32
        for (const auto& entry : fs::directory_iterator(built)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("Qt6", 0) == 0 && entry.path().extension() == ".dll")
                fs::copy_file(entry.path(), folder / name);
        }
        fs::copy(built / "sqldrivers", folder / "sqldrivers", fs::copy_options::recursive);
#else
        (void)built;
#endif
    }

    // `more`: further sections of the settings file.
    void writeSettings(const std::string& database, const std::string& more = "")
    {
        writeFileBytes(program / "Tavrel.INI", "[LoginU]\nDB=0\nServer=\nDatabase=" + database +
                                                   "\nUserName=SYSDBA\nPassword=" + scramble::XorEncode("masterkey") +
                                                   "\n" + more);
    }

    static void publish(const std::string& location, const std::string& doUpdate,
                        const testsupport::FirebirdTestDb& in = *db)
    {
        in.execute("update TAVREL_PARAMS set NEWVERSIONPASS = '" + location + "', DOUPDATE = '" + doUpdate + "'");
    }

    CliRun run(const std::vector<std::string>& arguments = {})
    {
        const testsupport::ChildResult r = ChildProcess::run({.program = updater(),
                                                              .arguments = arguments,
                                                              .folder = work,
                                                              .out = root / "stdout",
                                                              .err = root / "stderr"});
        return {r.exitCode(), r.out, r.err};
    }

    fs::path updater() const { return program / fs::path(TAVREL_UPDATE_EXE).filename(); }

    // Starts the program in the background; its output goes to files in `root`.
    ChildProcess start(const std::string& name)
    {
        return ChildProcess({.program = updater(),
                             .folder = work,
                             .out = root / (name + ".out"),
                             .err = root / (name + ".err")});
    }

    // Waits until the background run has printed `text` on standard error.
    bool waitForError(const std::string& name, const std::string& text)
    {
        for (int i = 0; i < 200; ++i) {
            if (contains(readFileBytes(root / (name + ".err")), text))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    std::vector<std::string> updateFolderContent() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(program / ".tavrel-update"))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::unique_ptr<testsupport::FirebirdTestDb> db;
    static std::unique_ptr<testsupport::FirebirdTestDb> charDb;
    static std::unique_ptr<testsupport::TempDir> releases;
    static std::unique_ptr<testsupport::HttpTestServer> server;

    testsupport::TempDir root{"tavrel-cli"};
    // Cyrillic: Windows keeps the program folder's name in its ANSI code
    // page, which is 1251 on a Russian workstation (and in the Wine of the tests).
    fs::path program = root.path() / u8"Программа";
    fs::path work = root / "work";
};

} // namespace clitest
