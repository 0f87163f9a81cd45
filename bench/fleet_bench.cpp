// A fleet of workstations updating at logon against nginx on loopback:
// N program folders, each with the updater, the UnRAR library, "Tavrel.INI"
// and an embedded Firebird database of its own, run `tavrel-update
// --if-changed` PARALLEL at a time as whole processes. The origin's access
// log says what each workstation cost it (every workstation fetches the
// release under a path of its own, /ws/NN/, a link to the published folder;
// through the cache all share one path, as a branch office does).
//
//   install    the first release, from the origin (no record yet)
//   (a)        release unchanged: origin bytes per workstation (at most
//              2 KiB) and the time against the same run in a twin folder
//              whose database publishes no location (exit 7: start-up and
//              database read alone); A B paired per workstation, ROUNDS times
//   (b)        a new release through the branch cache: origin bytes for all
//              N (about one release)
//   (c)        a new release from a rate-limited origin, each run killed
//              when half of it is on the disk, then run again: the share
//              of the release the second run transferred (at most 0.55)
//
// Usage: fleet_bench [WORK_FOLDER]   (a fresh temporary folder by default,
// removed at the end). Environment: N (50), PARALLEL (4), ROUNDS (3),
// RELEASE_MIB (16), RATE_MIB (4, origin rate in (c), MiB/s), UPDATE_OPTIONS
// (--if-changed; empty: plain updates, the cost without the check).
// Exit 0 when every figure meets its target, 1 otherwise.
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
#include <random>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using testsupport::AccessLogEntry;
using testsupport::NginxCache;
using testsupport::NginxOrigin;
using testsupport::NginxServer;
using testsupport::readFileBytes;
using testsupport::writeFileBytes;

namespace {

constexpr int kInstalled = 0;
constexpr int kNoParameters = 7;
constexpr int kUnchanged = 13;

int envInt(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

void shell(const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t mid = v.size() / 2;
    return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

std::string twoDigits(int i) { return (i < 10 ? "0" : "") + std::to_string(i); }

// One whole updater process and how it ended: its exit code, or minus the
// signal that ended it.
struct Run {
    int exitCode = -1;
    double seconds = 0;
};

// The updater's options: --if-changed, or those of UPDATE_OPTIONS (split at
// blanks; empty: a plain update, as before --if-changed existed).
std::vector<std::string> updaterOptions()
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
Run runUpdater(const fs::path& folder, const fs::path& log, const std::function<bool()>& killWhen = {})
{
    const std::string program = (folder / "tavrel-update").string();
    const std::string out = log.string() + ".out";
    const std::string err = log.string() + ".err";
    static const std::vector<std::string> options = updaterOptions();
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
void forEachParallel(int count, int parallel, const std::function<void(int)>& job)
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
std::uintmax_t downloadedBytes(const fs::path& folder)
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
    for (fs::recursive_directory_iterator it(folder / ".tavrel-update", ec), end; !ec && it != end; it.increment(ec))
        consider(*it);
    return largest;
}

class Fleet {
public:
    Fleet(const fs::path& work, int workstations, int releaseMiB)
        : work_(work), count_(workstations), releaseBytes_(std::uintmax_t(releaseMiB) << 20)
    {
        fs::create_directories(work_ / "www" / "ws");
        fs::create_directories(work_ / "logs");
        makeKey();
        for (int r = 1; r <= 3; ++r)
            makeRelease(r);
        makeTemplateDatabase();
        for (int i = 0; i < count_; ++i) {
            fs::create_directory_symlink("..", work_ / "www" / "ws" / twoDigits(i));
            makeProgramFolder(programFolder(i));
            makeProgramFolder(baselineFolder(i));
        }
    }

    int count() const { return count_; }
    std::uintmax_t releaseBytes() const { return fs::file_size(work_ / "releases" / "Release-1.rar"); }
    fs::path www() const { return work_ / "www"; }
    fs::path programFolder(int i) const { return work_ / "ws" / twoDigits(i); }
    fs::path baselineFolder(int i) const { return work_ / "baseline" / twoDigits(i); }
    fs::path log(const std::string& phase, int i) const { return work_ / "logs" / (phase + "-" + twoDigits(i)); }
    static std::string path(int i) { return "/ws/" + twoDigits(i) + "/Release.rar"; }

    // Puts release `r` and its signature where the origin serves them, each
    // by a rename, with a modification time of now (so validators change).
    void publishRelease(int r) const
    {
        for (const std::string suffix : {".rar", ".rar.minisig"}) {
            const fs::path target = www() / ("Release" + suffix);
            const fs::path staged = www() / ("Release" + suffix + ".new");
            fs::copy_file(work_ / "releases" / ("Release-" + std::to_string(r) + suffix), staged,
                          fs::copy_options::overwrite_existing);
            fs::rename(staged, target);
            fs::last_write_time(target, fs::file_time_type::clock::now());
        }
    }

    // Writes `location(i)` into TAVREL_PARAMS of each workstation (HTTP mode),
    // and an empty location into each baseline twin.
    void publishLocations(const std::function<std::string(int)>& location) const
    {
        std::string script;
        for (int i = 0; i < count_; ++i) {
            script += connect(programFolder(i) / "urv.fdb") + "update TAVREL_PARAMS set NEWVERSIONPASS = '" +
                      location(i) + "', DOUPDATE = 1;\ncommit;\n";
            script += connect(baselineFolder(i) / "urv.fdb") +
                      "update TAVREL_PARAMS set NEWVERSIONPASS = '', DOUPDATE = 1;\ncommit;\n";
        }
        isql(script + "quit;\n");
    }

private:
    static std::string connect(const fs::path& db)
    {
        return "connect '" + db.string() + "' user 'SYSDBA' password '" + password() + "';\n";
    }

    static std::string password()
    {
        const char* value = std::getenv("TAVREL_FB_PASSWORD");
        return value && *value ? value : "masterkey";
    }

    void isql(const std::string& script) const
    {
        const fs::path file = work_ / "logs" / "isql.sql";
        writeFileBytes(file, script);
        // ISC_USER/ISC_PASSWORD of the caller must not change the login.
        shell("env -u ISC_USER -u ISC_PASSWORD isql-fb -q -bail -i " + quoted(file) + " > " +
              quoted(work_ / "logs" / "isql.log") + " 2>&1");
    }

    void makeKey()
    {
        fs::create_directories(work_ / "keys");
        shell("minisign -G -W -p " + quoted(work_ / "keys" / "tavrel.pub") + " -s " +
              quoted(work_ / "keys" / "tavrel.key") + " </dev/null >/dev/null");
        std::istringstream pub(readFileBytes(work_ / "keys" / "tavrel.pub"));
        std::getline(pub, publicKey_);
        std::getline(pub, publicKey_);
    }

    // Four files of random bytes (nothing to compress), a stored archive, its signature.
    void makeRelease(int r) const
    {
        const fs::path content = work_ / "releases" / ("content-" + std::to_string(r));
        fs::create_directories(content);
        std::mt19937_64 random(r);
        const std::uintmax_t fileBytes = releaseBytes_ / 4;
        for (int f = 0; f < 4; ++f) {
            std::string bytes(fileBytes, '\0');
            for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
                const std::uint64_t v = random();
                std::memcpy(bytes.data() + i, &v, 8);
            }
            writeFileBytes(content / ("Part" + std::to_string(f) + ".bin"), bytes);
        }
        const std::string name = "Release-" + std::to_string(r);
        shell(std::string(TAVREL_MAKE_RAR) + " " + quoted(content) + " " + quoted(work_ / "releases") + " " + name +
              " >/dev/null");
        shell("minisign -S -s " + quoted(work_ / "keys" / "tavrel.key") + " -m " +
              quoted(work_ / "releases" / (name + ".rar")) + " -t 'Tavrel fleet release " + std::to_string(r) +
              "' </dev/null >/dev/null");
        fs::remove_all(content);
    }

    void makeTemplateDatabase() const
    {
        const fs::path db = work_ / "template.fdb";
        isql("create database '" + db.string() + "' user 'SYSDBA' password '" + password() +
             "' default character set UTF8;\n"
             "create table TAVREL_PARAMS (NEWVERSIONPASS varchar(1024), DOUPDATE integer);\n"
             "insert into TAVREL_PARAMS values ('', 1);\ncommit;\nquit;\n");
    }

    void makeProgramFolder(const fs::path& folder) const
    {
        fs::create_directories(folder);
        fs::copy_file(TAVREL_UPDATE_EXE, folder / "tavrel-update");
        fs::copy_file(TAVREL_UNRAR_LIBRARY, folder / "libunrar.so");
        fs::copy_file(work_ / "template.fdb", folder / "urv.fdb");
        // "masterkey", scrambled as the connection dialog stores it.
        writeFileBytes(folder / "Tavrel.INI", "[LoginU]\nDB=0\nServer=\nDatabase=" + (folder / "urv.fdb").string() +
                                                  "\nUserName=SYSDBA\nPassword=55173415291f45173d\n\n"
                                                  "[Update]\nPublicKey=" +
                                                  publicKey_ + "\n");
    }

    fs::path work_;
    int count_;
    std::uintmax_t releaseBytes_;
    std::string publicKey_;
};

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
std::vector<AccessLogEntry> logSince(const NginxServer& server, std::size_t from)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::vector<AccessLogEntry> all = server.requests();
    return {all.begin() + std::min(from, all.size()), all.end()};
}

std::vector<AccessLogEntry> ofWorkstation(const std::vector<AccessLogEntry>& entries, int i)
{
    const std::string prefix = "/ws/" + twoDigits(i) + "/";
    std::vector<AccessLogEntry> own;
    for (const AccessLogEntry& e : entries)
        if (e.uri.rfind(prefix, 0) == 0)
            own.push_back(e);
    return own;
}

std::uint64_t sum(const std::vector<AccessLogEntry>& entries, std::uint64_t AccessLogEntry::*field)
{
    std::uint64_t total = 0;
    for (const AccessLogEntry& e : entries)
        total += e.*field;
    return total;
}

std::string statuses(const std::vector<AccessLogEntry>& entries)
{
    std::map<int, int> counts;
    for (const AccessLogEntry& e : entries)
        ++counts[e.status];
    std::string text;
    for (const auto& [status, n] : counts)
        text += (text.empty() ? "" : ", ") + std::to_string(status) + " x" + std::to_string(n);
    return text.empty() ? "none" : text;
}

std::string mib(double bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f MiB", bytes / (1 << 20));
    return text;
}

std::string fixed(double value, int decimals = 3)
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

int bench(const fs::path& work)
{
    const int n = envInt("N", 50);
    const int parallel = envInt("PARALLEL", 4);
    const int rounds = envInt("ROUNDS", 3);
    const int releaseMiB = envInt("RELEASE_MIB", 16);
    const int rateMiB = envInt("RATE_MIB", 4);
    Report report;

    Fleet fleet(work, n, releaseMiB);
    const double release = double(fleet.releaseBytes());
    report.line("fleet of " + std::to_string(n) + " workstations, signed release of " + mib(release) + ", " +
                std::to_string(parallel) + " at a time; work folder " + work.string());

    NginxServer origin(NginxOrigin{fleet.www()});
    fleet.publishRelease(1);
    fleet.publishLocations([&](int i) { return origin.url(Fleet::path(i)); });

    // The first release: no record yet, so each workstation fetches it.
    {
        Runs runs;
        forEachParallel(n, parallel,
                        [&](int i) { runs.add(runUpdater(fleet.programFolder(i), fleet.log("install", i))); });
        const std::vector<AccessLogEntry> served = logSince(origin, 0);
        report.line("install      " + runs.exits() + "; median " + fixed(runs.medianSeconds()) + " s; origin body " +
                    mib(double(sum(served, &AccessLogEntry::bodyBytes)) / n) + " per workstation (statuses " +
                    statuses(served) + ")");
        report.expectExits(runs, kInstalled, "install", fleet.log("install", 0));
    }

    // (a) Unchanged, A B paired per workstation and round: the check against
    // its twin that reads the database and stops (no location, exit 7).
    {
        const std::size_t mark = origin.requests().size();
        Runs checks;
        Runs baseline;
        for (int round = 0; round < rounds; ++round)
            forEachParallel(n, parallel, [&](int i) {
                checks.add(runUpdater(fleet.programFolder(i), fleet.log("unchanged", i)));
                baseline.add(runUpdater(fleet.baselineFolder(i), fleet.log("baseline", i)));
            });
        const std::vector<AccessLogEntry> served = logSince(origin, mark);
        std::vector<double> perWorkstation;
        for (int i = 0; i < n; ++i)
            perWorkstation.push_back(double(sum(ofWorkstation(served, i), &AccessLogEntry::bytesSent)) / rounds);
        const double bytes = median(perWorkstation);
        const double ratio = checks.medianSeconds() / baseline.medianSeconds();
        report.line("(a) unchanged  " + checks.exits() + " (baseline " + baseline.exits() + "); origin " +
                    fixed(bytes, 0) + " bytes per workstation and run, headers included (target <= 2048; statuses " +
                    statuses(served) + "); median " + fixed(checks.medianSeconds()) + " s vs start-up and database " +
                    fixed(baseline.medianSeconds()) + " s = " + fixed(ratio, 2) + " (target <= 1.2)");
        report.expectExits(checks, kUnchanged, "(a) unchanged", fleet.log("unchanged", 0));
        report.expectExits(baseline, kNoParameters, "(a) baseline", fleet.log("baseline", 0));
        report.expect(bytes <= 2048, "(a): " + fixed(bytes, 0) + " bytes per workstation, more than 2048");
        report.expect(ratio <= 1.2, "(a): time ratio " + fixed(ratio, 2) + ", more than 1.2");
    }

    // (b) A new release through a branch cache in front of the origin.
    {
        NginxServer cache(NginxCache{origin.port()});
        fleet.publishRelease(2);
        fleet.publishLocations([&](int) { return cache.url("/Release.rar"); });
        const std::size_t mark = origin.requests().size();
        Runs runs;
        forEachParallel(n, parallel,
                        [&](int i) { runs.add(runUpdater(fleet.programFolder(i), fleet.log("cache", i))); });
        const std::vector<AccessLogEntry> served = logSince(origin, mark);
        const std::vector<AccessLogEntry> cached = logSince(cache, 0);
        const double releases = double(sum(served, &AccessLogEntry::bodyBytes)) / release;
        report.line("(b) cache      " + runs.exits() + "; median " + fixed(runs.medianSeconds()) +
                    " s; origin served " + mib(double(sum(served, &AccessLogEntry::bodyBytes))) + " = " +
                    fixed(releases, 2) + " releases for " + std::to_string(n) +
                    " workstations (target about 1; origin statuses " + statuses(served) + "; cache statuses " +
                    statuses(cached) + ")");
        report.expectExits(runs, kInstalled, "(b) cache", fleet.log("cache", 0));
        report.expect(releases < 1.1, "(b): origin served " + fixed(releases, 2) + " releases");
    }

    // (c) Cut at half of the download, then resumed.
    {
        NginxServer slow(NginxOrigin{.root = fleet.www(), .rateLimit = std::uint64_t(rateMiB) << 20});
        fleet.publishRelease(3);
        fleet.publishLocations([&](int i) { return slow.url(Fleet::path(i)); });
        Runs cut;
        Runs resumed;
        std::vector<std::size_t> firstRunRequests(n, 0);
        std::vector<std::uintmax_t> onDisk(n, 0); // what the killed run had written
        forEachParallel(n, parallel, [&](int i) {
            const fs::path folder = fleet.programFolder(i);
            cut.add(runUpdater(folder, fleet.log("cut", i),
                               [&] { return double(onDisk[i] = downloadedBytes(folder)) >= release / 2; }));
            // The cut request is logged once nginx notices the closed connection.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
            std::vector<AccessLogEntry> own = ofWorkstation(slow.requests(), i);
            while (std::none_of(own.begin(), own.end(), [](const AccessLogEntry& e) { return !e.complete; }) &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                own = ofWorkstation(slow.requests(), i);
            }
            firstRunRequests[i] = own.size();
            resumed.add(runUpdater(folder, fleet.log("resume", i)));
        });
        const std::vector<AccessLogEntry> served = logSince(slow, 0);
        std::vector<double> cutAt;
        std::vector<double> sentAt;
        std::vector<double> rest;
        std::vector<AccessLogEntry> second;
        for (int i = 0; i < n; ++i) {
            const std::vector<AccessLogEntry> own = ofWorkstation(served, i);
            const auto split = own.begin() + std::min(firstRunRequests[i], own.size());
            const std::vector<AccessLogEntry> first(own.begin(), split);
            second.insert(second.end(), split, own.end());
            cutAt.push_back(double(onDisk[i]) / release);
            sentAt.push_back(double(sum(first, &AccessLogEntry::bodyBytes)) / release);
            const std::vector<AccessLogEntry> later(split, own.end());
            rest.push_back(double(sum(later, &AccessLogEntry::bodyBytes)) / release);
        }
        const double share = median(rest);
        report.line("(c) resume     cut runs " + cut.exits() + ", killed with median " + fixed(median(cutAt), 3) +
                    " of the release on the disk (" + fixed(median(sentAt), 3) +
                    " sent by the origin, the rest still in the sockets); second runs " + resumed.exits() +
                    ", median " + fixed(resumed.medianSeconds()) + " s, transferred median " + fixed(share, 3) +
                    " of the release (target <= 0.55; statuses " + statuses(second) + ")");
        report.expectExits(resumed, kInstalled, "(c) resumed run", fleet.log("resume", 0));
        report.expect(share <= 0.55, "(c): the resumed run transferred " + fixed(share, 3) + " of the release");
    }
    return report.finish();
}

} // namespace

int main(int argc, char** argv)
{
    try {
        if (argc > 1) {
            const fs::path work = fs::absolute(argv[1]);
            if (fs::exists(work) && !fs::is_empty(work))
                throw std::runtime_error("the work folder " + work.string() + " is not empty");
            fs::create_directories(work);
            return bench(work);
        }
        const testsupport::TempDir work("tavrel-fleet");
        return bench(work.path());
    } catch (const std::exception& e) {
        std::cerr << "fleet_bench: " << e.what() << std::endl;
        return 2;
    }
}
