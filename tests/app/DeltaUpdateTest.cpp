// Delta updates and the rate cap as a workstation meets them, against nginx:
// a release published with its .zck costs the chunks that changed; whatever
// goes wrong with the delta, the whole archive is fetched once and installed;
// a capped download takes its time without being given up as too slow.
#include "tests/app/CliFixture.h"
#include "tests/support/MinisignKeys.h"
#include "tests/support/NginxServer.h"

#include <csignal>
#include <random>
#include <set>

using namespace clitest;
using testsupport::AccessLogEntry;
using testsupport::NginxOrigin;
using testsupport::NginxServer;

namespace {

constexpr int kFiles = 16;
constexpr std::size_t kFileSize = 128 * 1024;

// Incompressible, as the packed data of a compressed archive is.
std::string fileContent(int file, int version)
{
    std::mt19937 random(static_cast<unsigned>(file * 1000 + version));
    std::string data(kFileSize + static_cast<std::size_t>(file) * 1000, '\0');
    for (char& c : data)
        c = static_cast<char>(random());
    return data;
}

class Delta : public Cli {
protected:
    // A stored, non-solid release; the files in `changed` have their version 2.
    void makeRelease(const std::string& programText, const std::set<int>& changed, const fs::path& into)
    {
        RarWriter writer(RarFormat::Rar5);
        writer.file("Tavrel.exe", programText);
        for (int i = 0; i < kFiles; ++i)
            writer.file("bin/file" + std::to_string(i) + ".dll", fileContent(i, changed.count(i) ? 2 : 1));
        writer.write(into, "Release");
    }

    static void zck(const fs::path& archive, const fs::path& to)
    {
        const testsupport::ChildResult made =
            ChildProcess::run({.program = "zck", .arguments = {"-o", to.string(), archive.string()}});
        ASSERT_EQ(made.exitCode(), 0) << made.err;
    }

    // Publishes the release with its signature and, unless `withZck` is
    // false, its .zck, in the order the README gives.
    void publishRelease(const std::string& programText, const std::set<int>& changed, bool withZck = true)
    {
        makeRelease(programText, changed, site.path());
        if (withZck)
            zck(site.path() / "Release.rar", site.path() / "Release.rar.zck");
        else
            fs::remove(site.path() / "Release.rar.zck");
        key.sign(site.path() / "Release.rar", site.path() / "Release.rar.minisig", true,
                 "timestamp:" + std::to_string(signedAt++) + "\tfile:Release.rar\thashed");
    }

    void useKey(const std::string& more = "")
    {
        writeSettings(db->path().string(), "[Update]\nPublicKey=" + key.publicKeyLine() + "\n" + more);
    }

    // Release 1.0, signed, installed from `origin`: its .zck is kept.
    void installFirstRelease(const NginxServer& origin)
    {
        useKey();
        publishRelease("Tavrel 1.0", {});
        publish(origin.url("/Release.rar"), "1");
        const CliRun r = run();
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }

    static std::vector<AccessLogEntry> requestsFor(const NginxServer& server, const std::string& uri)
    {
        std::vector<AccessLogEntry> found;
        for (const AccessLogEntry& e : server.requests())
            if (e.uri == uri)
                found.push_back(e);
        return found;
    }

    fs::path kept() const { return program / ".tavrel-update" / "release.zck"; }

    testsupport::SodiumKey key;
    testsupport::TempDir site{"tavrel-delta-site"};
    std::int64_t signedAt = 1'800'000'000;
};

TEST_F(Delta, ARebuiltReleaseIsInstalledOrTheWholeArchiveOnce)
{
    struct Case {
        const char* name;
        std::set<int> changed; // files of release 2.0 that differ from 1.0
        const char* zckFault;  // "none", "missing", "corrupt chunk", "other archive"
        bool ranges;           // the server answers Range
        std::string settings;  // more of [Update]
        bool withKey;
        const char* line; // on standard error
        bool whole;       // the whole archive was fetched
        bool keeps;       // a .zck of release 2.0 is kept afterwards
    };
    const Case cases[] = {
        {"delta", {5}, "none", true, "", true, "the delta saved", false, true},
        {"no .zck published", {5}, "missing", true, "", true, "no .zck is published", true, false},
        {"a chunk that does not match", {5}, "corrupt chunk", true, "", true, "do not match their digest", true, true},
        {"a .zck of another archive", {5}, "other archive", true, "", true, "not confirmed", true, true},
        {"a server without ranges", {5}, "none", false, "", true, "delta update failed", true, true},
        {"nearly everything changed",
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14},
         "none",
         true,
         "",
         true,
         "delta update not worth it",
         true,
         true},
        {"deltas turned off", {5}, "none", true, "DeltaUpdates=0\n", true, "", true, false},
        {"no key", {5}, "none", true, "", false, "without a public key", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(program / ".tavrel-update");
        writeFileBytes(program / "Tavrel.exe", "old program");
        c.withKey ? useKey(c.settings) : writeSettings(db->path().string(), "[Update]\n" + c.settings);

        // 1.0 on a workstation that keeps no .zck yet.
        publishRelease("Tavrel 1.0", {});
        CliRun r;
        {
            const NginxServer first(NginxOrigin{.root = site.path()});
            publish(first.url("/Release.rar"), "1");
            r = run();
            ASSERT_EQ(r.exitCode, 0) << r.err;
            // Without a .zck kept, the whole .zck rebuilds the archive and stays the base.
            if (c.withKey && c.settings.empty()) {
                EXPECT_EQ(readFileBytes(kept()), readFileBytes(site.path() / "Release.rar.zck"));
                EXPECT_TRUE(requestsFor(first, "/Release.rar").empty());
            }
        }
        const NginxServer origin(NginxOrigin{.root = site.path(), .ranges = c.ranges});
        publish(origin.url("/Release.rar"), "1");

        publishRelease("Tavrel 2.0", c.changed, std::string(c.zckFault) != "missing");
        const std::string published = readFileBytes(site.path() / "Release.rar");
        const std::string publishedZck = readFileBytes(site.path() / "Release.rar.zck");
        if (std::string(c.zckFault) == "corrupt chunk") {
            std::string bytes = publishedZck;
            const std::size_t at = bytes.find(fileContent(5, 2).substr(60000, 64));
            ASSERT_NE(at, std::string::npos);
            bytes[at] = static_cast<char>(bytes[at] ^ 1);
            writeFileBytes(site.path() / "Release.rar.zck", bytes);
        } else if (std::string(c.zckFault) == "other archive") {
            const fs::path other = site.path() / "other";
            fs::create_directories(other);
            makeRelease("Tavrel 6.6", c.changed, other);
            zck(other / "Release.rar", site.path() / "Release.rar.zck");
        }

        r = run();
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "Tavrel 2.0");
        EXPECT_EQ(readFileBytes(program / "bin" / "file5.dll"), fileContent(5, 2));
        if (*c.line) {
            EXPECT_TRUE(contains(r.err, c.line)) << r.err;
        }
        EXPECT_TRUE(fs::is_empty(work));

        const std::vector<AccessLogEntry> served = origin.waitForRequests(c.withKey ? 2 : 1);
        std::uint64_t archiveBytes = 0;
        std::uint64_t zckBytes = 0;
        int wholeDownloads = 0;
        for (const AccessLogEntry& e : served) {
            if (e.uri == "/Release.rar") {
                archiveBytes += e.bodyBytes;
                wholeDownloads += e.status == 200;
            }
            if (e.uri == "/Release.rar.zck")
                zckBytes += e.bodyBytes;
        }
        EXPECT_EQ(wholeDownloads, c.whole ? 1 : 0);
        EXPECT_EQ(archiveBytes, c.whole ? published.size() : 0u);
        if (!c.whole) { // one file of 16 changed: its chunks, the header and a chunk at each edge
            EXPECT_LT(zckBytes, published.size() / 5);
        }
        if (!c.withKey || !c.settings.empty()) {
            EXPECT_EQ(zckBytes, 0u);
        }

        // The base of the next delta is the installed release's .zck, and
        // nothing else is left; where none is published none is kept.
        if (c.keeps) {
            zck(site.path() / "Release.rar", root / "expected.zck");
            EXPECT_EQ(readFileBytes(kept()), readFileBytes(root / "expected.zck"));
        } else {
            EXPECT_FALSE(fs::exists(kept()));
        }
        std::vector<std::string> left = updateFolderContent();
        left.erase(std::remove(left.begin(), left.end(), "release.zck"), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"installed", "lock"}));
    }
}

// A delta that is cut short changes nothing: the kept .zck stays the base,
// and the next run rebuilds the release from it.
TEST_F(Delta, AnInterruptedDeltaLeavesTheBaseAndTheNextRunRebuilds)
{
    {
        const NginxServer origin(NginxOrigin{.root = site.path()});
        ASSERT_NO_FATAL_FAILURE(installFirstRelease(origin));
    }
    const std::string base = readFileBytes(kept());
    publishRelease("Tavrel 2.0", {3, 9});
    // Slow enough that the chunks take seconds.
    const NginxServer slow(NginxOrigin{.root = site.path(), .rateLimit = 32 * 1024});
    publish(slow.url("/Release.rar"), "1");

    ChildProcess interrupted = start("interrupted");
    bool fetching = false;
    for (int i = 0; i < 400 && !fetching; ++i) {
        for (const auto& entry : fs::directory_iterator(program / ".tavrel-update"))
            fetching = fetching || entry.path().filename().string().rfind(".release.zck.new.part-", 0) == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(fetching);
    const auto signalled = std::chrono::steady_clock::now();
    interrupted.signal(SIGINT);
    const testsupport::ChildResult ended = interrupted.wait();
    EXPECT_EQ(ended.exitCode(), 9) << ended.err;
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(3));
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "Tavrel 1.0");
    EXPECT_EQ(readFileBytes(kept()), base);
    EXPECT_EQ(updateFolderContent(), (std::vector<std::string>{"installed", "lock", "release.zck"}));
    EXPECT_TRUE(fs::is_empty(work));

    const NginxServer origin(NginxOrigin{.root = site.path()});
    publish(origin.url("/Release.rar"), "1");
    const CliRun r = run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "the delta saved")) << r.err;
    EXPECT_EQ(readFileBytes(program / "bin" / "file9.dll"), fileContent(9, 2));
    EXPECT_TRUE(requestsFor(origin, "/Release.rar").empty());
}

// A cut whole download goes on where it stopped rather than starting a delta.
TEST_F(Delta, ACutWholeDownloadIsResumed)
{
    const NginxServer origin(NginxOrigin{.root = site.path()});
    ASSERT_NO_FATAL_FAILURE(installFirstRelease(origin));
    publishRelease("Tavrel 2.0", {3});
    const std::string published = readFileBytes(site.path() / "Release.rar");
    const testsupport::ChildResult head =
        ChildProcess::run({.program = "curl", .arguments = {"-sfI", origin.url("/Release.rar")}, .out = root / "head"});
    ASSERT_EQ(head.exitCode(), 0);
    const std::size_t etagAt = head.out.find("ETag: ");
    ASSERT_NE(etagAt, std::string::npos);
    const std::string etag = head.out.substr(etagAt + 6, head.out.find('\r', etagAt) - etagAt - 6);
    writeFileBytes(program / ".tavrel-update" / "download.part", published.substr(0, published.size() / 2));
    writeFileBytes(program / ".tavrel-update" / "download.info",
                   "tavrel partial download 1\nurl=" + origin.url("/Release.rar") + "\netag=" + etag + "\n");
    const std::size_t before = origin.requests().size();

    const CliRun r = run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "a cut download of the whole archive is resumed")) << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "Tavrel 2.0");
    const std::vector<AccessLogEntry> asked = requestsFor(origin, "/Release.rar");
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.back().status, 206);
    EXPECT_EQ(asked.back().bodyBytes, published.size() - published.size() / 2);
    EXPECT_EQ(origin.waitForRequests(before + 2).size(), before + 2); // the rest and the signature
}

// A cap of 512 KiB/s holds a release of about 2.2 MiB back for 4 s or so, and
// a speed floor set above the cap does not give the capped download up.
TEST_F(Delta, ACappedDownloadTakesItsTimeAndIsNotGivenUpAsTooSlow)
{
    writeSettings(db->path().string(), "[Update]\nMaxRateKB=512\nLowSpeedKB=1024\nLowSpeedSec=1\n");
    makeRelease("Tavrel 2.0", {}, site.path());
    const std::uint64_t size = fs::file_size(site.path() / "Release.rar");
    const NginxServer origin(NginxOrigin{.root = site.path()});
    publish(origin.url("/Release.rar"), "1");

    const auto started = std::chrono::steady_clock::now();
    const CliRun r = run();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "Tavrel 2.0");
    // At most 512 KiB in each second after the first byte; 0.8 of it leaves room for how each client counts.
    EXPECT_GE(seconds, 0.8 * double(size) / (512 * 1024)) << size << " bytes";
}

} // namespace
