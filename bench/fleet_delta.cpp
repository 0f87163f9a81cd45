// The delta phases of fleet_bench (PHASES=delta): a release of FILES (64)
// files of 4 MiB, non-solid, whose next release changes one file, published
// with its .zck beside it. For a stored and a compressed archive:
//
//   bytes      what the delta fetches, against that file's share of the .zck
//              plus the .zck's header (target: at most 1.1 times)
//   loopback   the delta update against the whole update as it was before
//              deltas (DeltaUpdates=0), and the update of a workstation that
//              keeps no .zck yet (it fetches the whole .zck and rebuilds the
//              archive from it), A B C paired, RUNS (3) times, medians
//   slow link  the same from an origin limited to SLOW_MIB (10) MiB/s per
//              response, delta against the whole update, SLOW_RUNS (2) pairs
//   cache      (stored only) DELTA_N (50) workstations through the branch
//              cache, PARALLEL (4) at a time: what the origin served
//
// and for releases of 16 files of 1 MiB that share blocks, packed with
// matches, solid and not, what `zck_delta_size` says a delta of the changed
// file (other blocks, one more) fetches. Every
// workstation is the template folder (release 1 installed, its .zck kept)
// copied by hard links, which the update replaces by renames.
#include "bench/FleetBench.h"
#include "tests/support/RarWriter.h"

#include <random>

using namespace fleetbench;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;
using testsupport::NginxCache;
using testsupport::NginxOrigin;

namespace {

// The file that changes: one in the middle, so that a solid archive has as
// much after it as before.
int changedFile(int files) { return files / 2; }

// Program files compress to about half: random bytes of 16 values.
std::string fileBytes(int file, int version, std::size_t size)
{
    std::mt19937_64 random(static_cast<std::uint64_t>(file) * 1000 + static_cast<std::uint64_t>(version));
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        std::uint64_t v = random() & 0x0f0f0f0f0f0f0f0full;
        std::memcpy(bytes.data() + i, &v, 8);
    }
    return bytes;
}

// Files that share much with each other, as the libraries of one program
// do: blocks of 4 KiB drawn from a pool of 64, so that a solid archive
// packs later files by matches into earlier ones. Version 2 draws other
// blocks and one more.
std::string pooledBytes(int file, int version, std::size_t size)
{
    constexpr std::size_t kBlock = 4096;
    static const std::vector<std::string> pool = [] {
        std::vector<std::string> blocks;
        for (int b = 0; b < 64; ++b)
            blocks.push_back(fileBytes(10'000 + b, 1, kBlock));
        return blocks;
    }();
    std::mt19937 random(static_cast<unsigned>(file * 1000 + version));
    std::string bytes;
    for (std::size_t n = size / kBlock + (version > 1); n > 0; --n)
        bytes += pool[random() % pool.size()];
    return bytes;
}

enum class Packing { Stored, Compressed, LzSolid, Lz };

// Release `version` (1, or 2 with the file changedFile() changed) into `folder`/`stem`.rar;
// `skipChanged` leaves that file out, to measure its share of the archive.
fs::path writeRelease(const fs::path& folder, const std::string& stem, Packing packing, int files, std::size_t size,
                      int version, bool skipChanged = false)
{
    RarWriter writer(RarFormat::Rar5);
    if (packing == Packing::LzSolid)
        writer.solid();
    for (int f = 0; f < files; ++f) {
        if (skipChanged && f == changedFile(files))
            continue;
        const std::string name = "bin/file" + twoDigits(f) + ".dll";
        const int v = f == changedFile(files) ? version : 1;
        std::string data =
            packing == Packing::Lz || packing == Packing::LzSolid ? pooledBytes(f, v, size) : fileBytes(f, v, size);
        switch (packing) {
        case Packing::Stored: writer.file(name, std::move(data)); break;
        case Packing::Compressed: writer.compressed(name, std::move(data)); break;
        case Packing::LzSolid:
        case Packing::Lz: writer.lzCompressed(name, std::move(data)); break;
        }
    }
    fs::create_directories(folder);
    writer.write(folder, stem);
    return folder / (stem + ".rar");
}

void makeZck(const fs::path& archive, const fs::path& zck)
{
    shell("zck -o " + quoted(zck) + " " + quoted(archive) + " >/dev/null");
}

// A number after `label` in a tool's output.
std::uint64_t numberAfter(const std::string& text, const std::string& label)
{
    const std::size_t at = text.find(label);
    if (at == std::string::npos)
        throw std::runtime_error("no \"" + label + "\" in: " + text);
    return std::stoull(text.substr(at + label.size()));
}

std::string toolOutput(const std::string& command, const fs::path& out)
{
    shell(command + " > " + quoted(out));
    return readFileBytes(out);
}

// A workstation folder made from the template by hard links; what a run
// writes in place (the database, the lock, the settings) gets its own file.
void copyWorkstation(const fs::path& from, const fs::path& to, const std::string& update)
{
    fs::remove_all(to);
    shell("cp -al " + quoted(from) + " " + quoted(to));
    for (const char* own : {"urv.fdb", ".tavrel-update/lock", "Tavrel.INI"})
        fs::remove(to / own);
    fs::copy_file(from / "urv.fdb", to / "urv.fdb");
    // Its own database; `update` goes at the end, into the section [Update].
    std::string settings = readFileBytes(from / "Tavrel.INI");
    settings.replace(settings.find(from.string() + "/urv.fdb"), from.string().size(), to.string());
    writeFileBytes(to / "Tavrel.INI", settings + update);
}

class DeltaBench {
public:
    DeltaBench(const fs::path& work, Report& report) : work_(work), report_(report)
    {
        fs::create_directories(work_ / "logs");
        publicKey_ = makeKey(work_);
        makeTemplateDatabase(work_);
    }

    void variant(const std::string& name, Packing packing, bool withCache)
    {
        const int files = envInt("FILES", 64);
        const std::size_t size = std::size_t(4) << 20;
        const fs::path dir = work_ / name;
        const fs::path site = dir / "www";
        fs::create_directories(site);
        const fs::path r1 = writeRelease(dir / "releases", "Release-1", packing, files, size, 1);
        const fs::path r2 = writeRelease(dir / "releases", "Release-2", packing, files, size, 2);
        const fs::path without = writeRelease(dir / "releases", "Without", packing, files, size, 2, true);
        for (const fs::path& r : {r1, r2}) {
            makeZck(r, r.string() + ".zck");
            signRelease(work_, r, "timestamp:" + std::to_string(1'800'000'000 + (r == r2)) + " Tavrel " + name);
        }
        const double archive = double(fs::file_size(r2));
        const std::string header =
            toolOutput("zck_read_header " + quoted(fs::path(r2.string() + ".zck")), dir / "header.txt");
        const double headerBytes = double(numberAfter(header, "Header size: "));
        const double dataBytes = double(numberAfter(header, "Data size: "));
        // The changed file's entry in the archive, and its part of the .zck's data.
        const double share = (archive - double(fs::file_size(without))) * dataBytes / archive;
        fs::remove(without);

        NginxServer origin(NginxOrigin{.root = site});
        const fs::path templ = dir / "template";
        publish(r1, site);
        makeProgramFolder(work_, templ, "PublicKey=" + publicKey_ + "\n");
        isql(work_, publishIn(templ / "urv.fdb", origin.url("/Release.rar")) + "quit;\n");
        const Run installed = runUpdater(templ, dir / "install", {}, {});
        if (installed.exitCode != kInstalled || !fs::exists(templ / ".tavrel-update" / "release.zck"))
            throw std::runtime_error(name + ": the first install failed: " + readFileBytes(dir / "install.err"));
        publish(r2, site);

        report_.line(name + ": archive " + mib(archive) + " (" + std::to_string(files) + " files), .zck " +
                     mib(double(fs::file_size(r2.string() + ".zck"))) + ", header " + fixed(headerBytes, 0) +
                     " bytes; the changed file's share of the .zck " + mib(share));

        // Loopback: A the delta, B the whole update before deltas, C a workstation without a .zck.
        const fs::path ws = dir / "ws";
        std::vector<double> a, b, c, fetched, fetchedWithout;
        const int runs = envInt("RUNS", 3);
        for (int round = 0; round < runs; ++round) {
            const std::size_t mark = origin.requests().size();
            a.push_back(timed(templ, ws, "", dir / "delta", name + " delta"));
            fetched.push_back(double(zckBytes(logSince(origin, mark))));
            b.push_back(timed(templ, ws, "DeltaUpdates=0\n", dir / "whole", name + " whole"));
            const std::size_t before = origin.requests().size();
            c.push_back(timed(templ, ws, "", dir / "without", name + " without a kept .zck", true));
            fetchedWithout.push_back(double(zckBytes(logSince(origin, before))));
        }
        const double bytes = median(fetched);
        const double ratio = bytes / (share + headerBytes);
        report_.line("  bytes     the delta fetched " + fixed(bytes, 0) + " bytes = " + fixed(ratio, 3) +
                     " x (share + header) (target <= 1.1); " + fixed(bytes / archive * 100, 2) + "% of the archive");
        report_.line("  loopback  delta " + fixed(median(a)) + " s, whole before deltas " + fixed(median(b)) +
                     " s = " + fixed(median(a) / median(b), 2) + " (target <= 1.0); without a kept .zck " +
                     fixed(median(c)) + " s = " + fixed(median(c) / median(b), 2) +
                     " of the whole before deltas, fetching " + fixed(median(fetchedWithout), 0) + " bytes");
        report_.expect(ratio <= 1.1, name + ": the delta fetched " + fixed(ratio, 3) + " x share + header");
        report_.expect(median(a) <= median(b), name + ": the delta update is slower than the whole one");

        // A slow link: the origin sends each response at SLOW_MIB MiB/s.
        {
            NginxServer slow(NginxOrigin{.root = site, .rateLimit = std::uint64_t(envInt("SLOW_MIB", 10)) << 20});
            isql(work_, publishIn(templ / "urv.fdb", slow.url("/Release.rar")) + "quit;\n");
            std::vector<double> sa, sb;
            for (int round = 0; round < envInt("SLOW_RUNS", 2); ++round) {
                sa.push_back(timed(templ, ws, "", dir / "slow-delta", name + " slow delta"));
                sb.push_back(timed(templ, ws, "DeltaUpdates=0\n", dir / "slow-whole", name + " slow whole"));
            }
            report_.line("  slow link " + std::to_string(envInt("SLOW_MIB", 10)) + " MiB/s: delta " +
                         fixed(median(sa)) + " s, whole " + fixed(median(sb)) +
                         " s = " + fixed(median(sa) / median(sb), 3));
        }
        if (withCache)
            throughCache(templ, dir, origin, bytes);
        fs::remove_all(ws);
    }

    // What deltas save in a solid archive against the same archive non-solid.
    void solid()
    {
        const fs::path dir = work_ / "solid";
        for (const auto& [name, packing] :
             {std::pair{"non-solid", Packing::Lz}, std::pair{"solid", Packing::LzSolid}}) {
            const fs::path r1 = writeRelease(dir / name, "Release-1", packing, 16, 1u << 20, 1);
            const fs::path r2 = writeRelease(dir / name, "Release-2", packing, 16, 1u << 20, 2);
            makeZck(r1, r1.string() + ".zck");
            makeZck(r2, r2.string() + ".zck");
            const std::string out = toolOutput("zck_delta_size " + quoted(fs::path(r1.string() + ".zck")) + " " +
                                                   quoted(fs::path(r2.string() + ".zck")),
                                               dir / "size.txt");
            const double fetch = double(numberAfter(out, "Would download "));
            const double whole = double(numberAfter(out, " of "));
            report_.line(std::string("solid     16 files of 1 MiB sharing blocks, packed with matches, ") + name +
                         ", file " + std::to_string(changedFile(16)) + " changed: " + fixed(fetch, 0) + " of " +
                         fixed(whole, 0) + " bytes = " + fixed(fetch / whole * 100, 1) + "% fetched");
        }
    }

private:
    // Puts `release` (.zck first, signature last) where the origin serves it.
    static void publish(const fs::path& release, const fs::path& site)
    {
        for (const std::string suffix : {".zck", "", ".minisig"}) {
            const fs::path staged = site / ("Release.rar" + suffix + ".new");
            fs::copy_file(release.string() + suffix, staged, fs::copy_options::overwrite_existing);
            fs::rename(staged, site / ("Release.rar" + suffix));
        }
    }

    static std::uint64_t zckBytes(const std::vector<AccessLogEntry>& served)
    {
        std::uint64_t bytes = 0;
        for (const AccessLogEntry& e : served)
            if (e.uri.find("Release.rar.zck") != std::string::npos)
                bytes += e.bodyBytes;
        return bytes;
    }

    // One update in a fresh copy of the template; its time in seconds.
    // `withoutBase`: no .zck kept, as on a new workstation.
    double timed(const fs::path& templ, const fs::path& ws, const std::string& update, const fs::path& log,
                 const std::string& what, bool withoutBase = false)
    {
        copyWorkstation(templ, ws, update);
        if (withoutBase)
            fs::remove(ws / ".tavrel-update" / "release.zck");
        const Run run = runUpdater(ws, log, {}, {});
        if (run.exitCode != kInstalled)
            report_.expect(false, what + ": exit " + std::to_string(run.exitCode) + ": " +
                                      readFileBytes(log.string() + ".err"));
        return run.seconds;
    }

    void throughCache(const fs::path& templ, const fs::path& dir, const NginxServer& origin, double oneDelta)
    {
        const int n = envInt("DELTA_N", 50);
        NginxServer cache(NginxCache{origin.port()});
        isql(work_, publishIn(templ / "urv.fdb", cache.url("/Release.rar")) + "quit;\n");
        const std::size_t mark = origin.requests().size();
        Runs runs;
        forEachParallel(n, envInt("PARALLEL", 4), [&](int i) {
            const fs::path ws = dir / ("cache-ws-" + twoDigits(i));
            copyWorkstation(templ, ws, "");
            runs.add(runUpdater(ws, dir / ("cache-" + twoDigits(i)), {}, {}));
            fs::remove_all(ws);
        });
        const std::vector<AccessLogEntry> served = logSince(origin, mark);
        const double body = double(sum(served, &AccessLogEntry::bodyBytes));
        const double zck = double(zckBytes(served));
        report_.line("  cache     " + std::to_string(n) + " workstations: " + runs.exits() + ", median " +
                     fixed(runs.medianSeconds()) + " s; the origin served " + mib(body) + " (.zck " + mib(zck) + " = " +
                     fixed(zck / oneDelta, 2) + " x one workstation's delta; statuses " + statuses(served) + ")");
        report_.expectExits(runs, kInstalled, "cache", dir / "cache-00");
    }

    fs::path work_;
    Report& report_;
    std::string publicKey_;
};

} // namespace

int deltaBench(const fs::path& work)
{
    Report report;
    report.line("delta updates; work folder " + work.string());
    DeltaBench bench(work, report);
    if (envInt("SOLID_ONLY", 0) == 0) {
        bench.variant("stored", Packing::Stored, envInt("CACHE", 1) != 0);
        bench.variant("compressed", Packing::Compressed, false);
    }
    bench.solid();
    return report.finish();
}
