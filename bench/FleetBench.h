#pragma once
// What the fleet benchmarks share: workstations as program folders with the
// updater, the UnRAR library, "Tavrel.INI" and an embedded database of their
// own; whole updater processes run in them; the medians and the report.
#include "tests/support/NginxServer.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fleetbench {

namespace fs = std::filesystem;
using testsupport::AccessLogEntry;
using testsupport::NginxServer;
using testsupport::readFileBytes;
using testsupport::writeFileBytes;

inline constexpr int kInstalled = 0;
inline constexpr int kNoParameters = 7;
inline constexpr int kUnchanged = 13;

inline int envInt(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

inline void shell(const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

inline std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t mid = v.size() / 2;
    return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

inline std::string twoDigits(int i) { return (i < 10 ? "0" : "") + std::to_string(i); }

// One whole updater process and how it ended: its exit code, or minus the
// signal that ended it.
struct Run {
    int exitCode = -1;
    double seconds = 0;
};

// The updater's options: --if-changed, or those of UPDATE_OPTIONS (split at
// blanks; empty: a plain update, as before --if-changed existed).
inline std::vector<std::string> updaterOptions()
{
    const char* value = std::getenv("UPDATE_OPTIONS");
    std::istringstream words(value ? value : "--if-changed");
    std::vector<std::string> options;
    for (std::string word; words >> word;)
        options.push_back(word);
    return options;
}

// Runs `folder`/tavrel-update with `folder` as its current directory (where
// a logon task starts it), output into `log`.out/.err. `killWhen`, polled
// while it runs, ends it with SIGKILL when it says so.
inline Run runUpdater(const fs::path& folder, const fs::path& log, const std::function<bool()>& killWhen = {},
                      const std::vector<std::string>& options = updaterOptions())
{
    const std::string program = (folder / "tavrel-update").string();
    const std::string out = log.string() + ".out";
    const std::string err = log.string() + ".err";
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& option : options)
        argv.push_back(const_cast<char*>(option.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + program);
    int status = 0;
    if (killWhen) {
        bool killed = false;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (!killed && killWhen()) {
                ::kill(pid, SIGKILL);
                killed = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    } else {
        ::waitpid(pid, &status, 0);
    }
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return run;
}

// Runs job(i) for i in [0, count), `parallel` at a time.
inline void forEachParallel(int count, int parallel, const std::function<void(int)>& job)
{
    std::atomic<int> next{0};
    std::vector<std::jthread> workers;
    for (int w = 0; w < parallel; ++w)
        workers.emplace_back([&] {
            for (int i = next++; i < count; i = next++)
                job(i);
        });
}

// The largest file the updater has written so far for its download: NewExe.zip
// or its temporary in the current directory, or a partial file in the update folder.
inline std::uintmax_t downloadedBytes(const fs::path& folder)
{
    std::error_code ec;
    std::uintmax_t largest = 0;
    const auto consider = [&](const fs::directory_entry& entry) {
        const std::uintmax_t size = entry.is_regular_file(ec) ? entry.file_size(ec) : 0;
        if (!ec)
            largest = std::max(largest, size);
    };
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().find("NewExe") != std::string::npos)
            consider(*it);
    // The .zck kept for the next delta update is no part of the download.
    for (fs::recursive_directory_iterator it(folder / ".tavrel-update", ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().find("release.zck") == std::string::npos)
            consider(*it);
    return largest;
}

// Runs of one phase, gathered from the worker threads.
class Runs {
public:
    void add(Run run)
    {
        std::lock_guard lock(mutex_);
        runs_.push_back(run);
    }
    double medianSeconds() const
    {
        std::vector<double> s;
        for (const Run& r : runs_)
            s.push_back(r.seconds);
        return median(s);
    }
    // "exit 13 x150" or "exit 64 x150"; negative codes are signals.
    std::string exits() const
    {
        std::map<int, int> counts;
        for (const Run& r : runs_)
            ++counts[r.exitCode];
        std::string text;
        for (const auto& [code, n] : counts)
            text += (text.empty() ? "" : ", ") + std::string(code < 0 ? "signal " : "exit ") +
                    std::to_string(code < 0 ? -code : code) + " x" + std::to_string(n);
        return text;
    }
    bool allExited(int code) const
    {
        return std::all_of(runs_.begin(), runs_.end(), [code](const Run& r) { return r.exitCode == code; });
    }

private:
    mutable std::mutex mutex_;
    std::vector<Run> runs_;
};

// The requests a server logged from `from` on, once the last lines are written.
inline std::vector<AccessLogEntry> logSince(const NginxServer& server, std::size_t from)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::vector<AccessLogEntry> all = server.requests();
    return {all.begin() + std::min(from, all.size()), all.end()};
}

inline std::vector<AccessLogEntry> ofWorkstation(const std::vector<AccessLogEntry>& entries, int i)
{
    const std::string prefix = "/ws/" + twoDigits(i) + "/";
    std::vector<AccessLogEntry> own;
    for (const AccessLogEntry& e : entries)
        if (e.uri.rfind(prefix, 0) == 0)
            own.push_back(e);
    return own;
}

inline std::uint64_t sum(const std::vector<AccessLogEntry>& entries, std::uint64_t AccessLogEntry::*field)
{
    std::uint64_t total = 0;
    for (const AccessLogEntry& e : entries)
        total += e.*field;
    return total;
}

inline std::string statuses(const std::vector<AccessLogEntry>& entries)
{
    std::map<int, int> counts;
    for (const AccessLogEntry& e : entries)
        ++counts[e.status];
    std::string text;
    for (const auto& [status, n] : counts)
        text += (text.empty() ? "" : ", ") + std::to_string(status) + " x" + std::to_string(n);
    return text.empty() ? "none" : text;
}

inline std::string mib(double bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f MiB", bytes / (1 << 20));
    return text;
}

inline std::string fixed(double value, int decimals = 3)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

class Report {
public:
    void line(const std::string& text) { std::cout << text << std::endl; }
    void expect(bool ok, const std::string& what)
    {
        if (!ok)
            failures_.push_back(what);
    }
    // Names the phase's unexpected exit codes and the first error a run printed.
    void expectExits(const Runs& runs, int code, const std::string& phase, const fs::path& firstLog)
    {
        if (runs.allExited(code))
            return;
        std::string err = readFileBytes(firstLog.string() + ".err");
        err = err.substr(0, err.find('\n'));
        failures_.push_back(phase + ": expected exit " + std::to_string(code) + ", saw " + runs.exits() +
                            (err.empty() ? "" : " (first run's error: " + err + ")"));
    }
    int finish()
    {
        if (failures_.empty()) {
            line("RESULT: every figure meets its target");
            return 0;
        }
        line("RESULT: FAILED");
        for (const std::string& f : failures_)
            line("  - " + f);
        return 1;
    }

private:
    std::vector<std::string> failures_;
};

// Workstations: a key pair of the publisher, an embedded database made
// once and copied into every program folder, the parameter table set by isql.

inline std::string firebirdPassword()
{
    const char* value = std::getenv("TAVREL_FB_PASSWORD");
    return value && *value ? value : "masterkey";
}

inline std::string connectTo(const fs::path& db)
{
    return "connect '" + db.string() + "' user 'SYSDBA' password '" + firebirdPassword() + "';\n";
}

// Runs an isql script, its output in `work`/logs.
inline void isql(const fs::path& work, const std::string& script)
{
    const fs::path file = work / "logs" / "isql.sql";
    writeFileBytes(file, script);
    // ISC_USER/ISC_PASSWORD of the caller must not change the login.
    shell("env -u ISC_USER -u ISC_PASSWORD isql-fb -q -bail -i " + quoted(file) + " > " +
          quoted(work / "logs" / "isql.log") + " 2>&1");
}

// A key pair in `work`/keys; returns the public key line.
inline std::string makeKey(const fs::path& work)
{
    fs::create_directories(work / "keys");
    shell("minisign -G -W -p " + quoted(work / "keys" / "tavrel.pub") + " -s " + quoted(work / "keys" / "tavrel.key") +
          " </dev/null >/dev/null");
    std::istringstream pub(readFileBytes(work / "keys" / "tavrel.pub"));
    std::string line;
    std::getline(pub, line);
    std::getline(pub, line);
    return line;
}

// Signs `archive` with the key of `work`/keys.
inline void signRelease(const fs::path& work, const fs::path& archive, const std::string& comment)
{
    shell("minisign -S -s " + quoted(work / "keys" / "tavrel.key") + " -m " + quoted(archive) + " -t '" + comment +
          "' </dev/null >/dev/null");
}

inline void makeTemplateDatabase(const fs::path& work)
{
    isql(work, "create database '" + (work / "template.fdb").string() + "' user 'SYSDBA' password '" +
                   firebirdPassword() +
                   "' default character set UTF8;\n"
                   "create table TAVREL_PARAMS (NEWVERSIONPASS varchar(1024), DOUPDATE integer);\n"
                   "insert into TAVREL_PARAMS values ('', 1);\ncommit;\nquit;\n");
}

// The updater, the library, a copy of the template database and "Tavrel.INI"
// with `update` as its section [Update].
inline void makeProgramFolder(const fs::path& work, const fs::path& folder, const std::string& update)
{
    fs::create_directories(folder);
    fs::copy_file(TAVREL_UPDATE_EXE, folder / "tavrel-update");
    fs::copy_file(TAVREL_UNRAR_LIBRARY, folder / "libunrar.so");
    fs::copy_file(work / "template.fdb", folder / "urv.fdb");
    // "masterkey", scrambled as the connection dialog stores it.
    std::string settings = "[LoginU]\nDB=0\nServer=\nDatabase=" + (folder / "urv.fdb").string() +
                           "\nUserName=SYSDBA\nPassword=55173415291f45173d\n";
    if (!update.empty())
        settings += "\n[Update]\n" + update;
    writeFileBytes(folder / "Tavrel.INI", settings);
}

// The script line that publishes `location` (HTTP) in the database `db`.
inline std::string publishIn(const fs::path& db, const std::string& location)
{
    return connectTo(db) + "update TAVREL_PARAMS set NEWVERSIONPASS = '" + location + "', DOUPDATE = 1;\ncommit;\n";
}

} // namespace fleetbench
