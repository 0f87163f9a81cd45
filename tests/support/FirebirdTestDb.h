#pragma once
// A fresh Firebird database file in its own temporary folder, created and
// filled through the embedded engine (no server involved).
#include "tests/support/TempDir.h"

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

class FirebirdTestDb {
public:
    // Creates "test.fdb" in a new temporary folder. Throws with Firebird's text when that fails.
    FirebirdTestDb();

    const std::filesystem::path& path() const { return file_; }
    const std::filesystem::path& folder() const { return dir_.path(); }

    // Runs one statement (DDL or DML) and commits, through the embedded
    // engine of this process. Throws std::runtime_error with the database's text.
    void execute(const std::string& sql) const;

    // The rows of a query, each field as text ("NULL" for null; timestamps
    // as yyyy-MM-dd HH:mm:ss), through the embedded engine. Throws as execute does.
    std::vector<std::vector<std::string>> select(const std::string& sql) const;

    // Lets the server process, which runs as another user, open the file.
    void allowServerAccess() const;

private:
    void run(const std::string& sql, std::vector<std::vector<std::string>>* rows) const;

    TempDir dir_;
    std::filesystem::path file_;
};

// Where the network tests find the local server and its SYSDBA password
// (TAVREL_FB_PASSWORD, default masterkey).
std::string firebirdServerPassword();
// The password to give embedded connections. The embedded engine ignores it,
// but when it cannot open a file the client library retries through the
// local server, which answers failed logins with growing delays; the
// server's own password keeps those retries from counting as failures.
std::string embeddedPassword();
// True when something listens on 127.0.0.1:3050.
bool firebirdServerReachable();
// True when TAVREL_REQUIRE_FB_SERVER=1: an unreachable server is then a failure.
bool firebirdServerRequired();

} // namespace testsupport
