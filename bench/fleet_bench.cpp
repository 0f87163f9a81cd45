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
//   delta      (PHASES=delta; bench/fleet_delta.cpp) a release of 256 MiB
//              whose next release changes one file of 4 MiB, fetched as a delta
//
// Usage: fleet_bench [WORK_FOLDER]   (a fresh temporary folder by default,
// removed at the end). Environment: N (50), PARALLEL (4), ROUNDS (3),
// RELEASE_MIB (16), RATE_MIB (2, origin rate in (c), MiB/s), UPDATE_OPTIONS
// (--if-changed; empty: plain updates, the cost without the check), SIGNED
// (1; 0: no PublicKey in "Tavrel.INI").
// Exit 0 when every figure meets its target, 1 otherwise.
#include "bench/FleetBench.h"

#include <random>

using namespace fleetbench;
using testsupport::NginxCache;
using testsupport::NginxOrigin;

// The delta phases, in fleet_delta.cpp.
int deltaBench(const fs::path& work);

namespace {

class Fleet {
public:
    Fleet(const fs::path& work, int workstations, int releaseMiB, bool signedReleases)
        : work_(work), count_(workstations), releaseBytes_(std::uintmax_t(releaseMiB) << 20), signed_(signedReleases)
    {
        fs::create_directories(work_ / "www" / "ws");
        fs::create_directories(work_ / "logs");
        publicKey_ = makeKey(work_);
        for (int r = 1; r <= 3; ++r)
            makeRelease(r);
        makeTemplateDatabase(work_);
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
        for (int i = 0; i < count_; ++i)
            script +=
                publishIn(programFolder(i) / "urv.fdb", location(i)) + publishIn(baselineFolder(i) / "urv.fdb", "");
        isql(work_, script + "quit;\n");
    }

private:
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
        signRelease(work_, work_ / "releases" / (name + ".rar"), "Tavrel fleet release " + std::to_string(r));
        fs::remove_all(content);
    }

    // Without the key the check is a conditional request for the archive;
    // with it, the signature is fetched and compared.
    void makeProgramFolder(const fs::path& folder) const
    {
        fleetbench::makeProgramFolder(work_, folder, signed_ ? "PublicKey=" + publicKey_ + "\n" : std::string());
    }

    fs::path work_;
    int count_;
    std::uintmax_t releaseBytes_;
    bool signed_;
    std::string publicKey_;
};

int bench(const fs::path& work)
{
    const int n = envInt("N", 50);
    const int parallel = envInt("PARALLEL", 4);
    const int rounds = envInt("ROUNDS", 3);
    const int releaseMiB = envInt("RELEASE_MIB", 16);
    const int rateMiB = envInt("RATE_MIB", 2);
    Report report;

    const bool signedReleases = envInt("SIGNED", 1) != 0;
    Fleet fleet(work, n, releaseMiB, signedReleases);
    const double release = double(fleet.releaseBytes());
    report.line("fleet of " + std::to_string(n) + " workstations, " + (signedReleases ? "signed " : "") +
                "release of " + mib(release) + ", " + std::to_string(parallel) + " at a time; work folder " +
                work.string());

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
        std::vector<double> ofMissing; // fetched again / what the disk lacked at the kill
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
            if (double(onDisk[i]) < release)
                ofMissing.push_back(double(sum(later, &AccessLogEntry::bodyBytes)) / (release - double(onDisk[i])));
        }
        const double share = median(rest);
        report.line("(c) resume     cut runs " + cut.exits() + ", killed with median " + fixed(median(cutAt), 3) +
                    " of the release on the disk (" + fixed(median(sentAt), 3) +
                    " sent by the origin, the rest still in the sockets); second runs " + resumed.exits() +
                    ", median " + fixed(resumed.medianSeconds()) + " s, transferred median " + fixed(share, 3) +
                    " of the release (target <= 0.55), " + fixed(median(ofMissing), 3) +
                    " of what the disk lacked (statuses " + statuses(second) + ")");
        report.expectExits(resumed, kInstalled, "(c) resumed run", fleet.log("resume", 0));
        report.expect(share <= 0.55, "(c): the resumed run transferred " + fixed(share, 3) + " of the release");
    }
    return report.finish();
}

} // namespace

int main(int argc, char** argv)
{
    const char* phases = std::getenv("PHASES");
    const bool delta = phases && std::string(phases) == "delta";
    try {
        if (argc > 1) {
            const fs::path work = fs::absolute(argv[1]);
            if (fs::exists(work) && !fs::is_empty(work))
                throw std::runtime_error("the work folder " + work.string() + " is not empty");
            fs::create_directories(work);
            return delta ? deltaBench(work) : bench(work);
        }
        const testsupport::TempDir work("tavrel-fleet");
        return delta ? deltaBench(work.path()) : bench(work.path());
    } catch (const std::exception& e) {
        std::cerr << "fleet_bench: " << e.what() << std::endl;
        return 2;
    }
}
