// The updater as a fleet runs it at every logon, against nginx: an unchanged
// release costs one small answer, a cut download resumes with the rest, and
// a branch office's cache fetches a release from the origin once.
#include "tests/app/CliFixture.h"
#include "tests/support/MinisignKeys.h"
#include "tests/support/NginxServer.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <sys/wait.h>

using namespace clitest;
using testsupport::AccessLogEntry;
using testsupport::NginxCache;
using testsupport::NginxOrigin;
using testsupport::NginxServer;

namespace {

class Fleet : public Cli {
protected:
    // "Release.rar": the program and `padding` bytes of data, stored.
    void makeRelease(const std::string& programText, std::uint64_t padding)
    {
        RarWriter(RarFormat::Rar5)
            .file("Tavrel.exe", programText)
            .generated("Data.bin", padding, tavrel::test::fillPattern)
            .write(site.path(), "Release");
        releaseSize = fs::file_size(site.path() / "Release.rar");
    }

    // The requests for the release, in order.
    static std::vector<AccessLogEntry> releaseRequests(const NginxServer& server, std::size_t atLeast)
    {
        std::vector<AccessLogEntry> found;
        for (const AccessLogEntry& e : server.waitForRequests(atLeast))
            if (e.uri == "/Release.rar")
                found.push_back(e);
        return found;
    }

    fs::path updateFolder() const { return program / ".tavrel-update"; }

    testsupport::TempDir site{"tavrel-fleet-site"};
    std::uint64_t releaseSize = 0;
};

TEST_F(Fleet, AnUnchangedReleaseCostsOneSmallAnswerAndANewOneIsInstalled)
{
    makeRelease("Tavrel 2.0", 1u << 20);
    const NginxServer origin(NginxOrigin{.root = site.path()});
    publish(origin.url("/Release.rar"), "1");

    CliRun r = run({"--if-changed"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "Tavrel 2.0");

    const auto before = folderState(program);
    for (const char* option : {"--if-changed", "--check"}) {
        r = run({option});
        EXPECT_EQ(r.exitCode, 13) << option << ": " << r.err;
        EXPECT_EQ(folderState(program), before) << option;
        EXPECT_TRUE(fs::is_empty(work)) << option;
    }
    // A part of this very location, kept longer than three days, goes too.
    writeFileBytes(updateFolder() / "download.part", "part of the release");
    writeFileBytes(updateFolder() / "download.info",
                   "tavrel partial download 1\nurl=" + origin.url("/Release.rar") + "\netag=\"1\"\n");
    fs::last_write_time(updateFolder() / "download.info", fs::file_time_type::clock::now() - std::chrono::hours(73));
    EXPECT_EQ(run({"--check"}).exitCode, 13);
    EXPECT_FALSE(fs::exists(updateFolder() / "download.part"));
    EXPECT_FALSE(fs::exists(updateFolder() / "download.info"));
    std::vector<AccessLogEntry> asked = releaseRequests(origin, 4);
    ASSERT_EQ(asked.size(), 4u);
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(asked[i].status, 304);
        EXPECT_EQ(asked[i].bodyBytes, 0u);
        EXPECT_FALSE(asked[i].ifNoneMatch.empty());
        EXPECT_LE(asked[i].bytesSent, 2048u);
    }

    // A new release: --check tells and changes nothing, --if-changed installs it.
    makeRelease("Tavrel 2.1", (1u << 20) + 1);
    EXPECT_EQ(run({"--check"}).exitCode, 0);
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "Tavrel 2.0");
    // A part kept for another location goes at the start of the next run.
    writeFileBytes(updateFolder() / "download.part", "part of another release");
    writeFileBytes(updateFolder() / "download.info",
                   "tavrel partial download 1\nurl=http://elsewhere/Release.rar\netag=\"1\"\n");
    r = run({"--if-changed"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "Tavrel 2.1");
    EXPECT_FALSE(fs::exists(updateFolder() / "download.part"));
    const std::vector<AccessLogEntry> all = releaseRequests(origin, 6);
    ASSERT_EQ(all.size(), 6u);
    EXPECT_EQ(all.back().status, 200);
    EXPECT_EQ(all.back().bodyBytes, releaseSize);
}

// With a key, the small signature alone says whether the release is new; a
// location with a query has its signature before the query.
TEST_F(Fleet, ASignedReleaseIsAskedForByItsSignatureAloneAlsoWithAQuery)
{
    const testsupport::SodiumKey key;
    makeRelease("Tavrel 2.0", 1u << 20);
    key.sign(site.path() / "Release.rar", site.path() / "Release.rar.minisig", true,
             "timestamp:1800000000\tfile:Release.rar\thashed");
    const NginxServer origin(NginxOrigin{.root = site.path()});
    writeSettings(db->path().string(), "[Update]\nPublicKey=" + key.publicKeyLine() + "\n");
    publish(origin.url("/Release.rar?v=2"), "1");

    CliRun r = run({"--if-changed"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "Tavrel 2.0");
    const std::size_t first = origin.waitForRequests(2).size();
    r = run({"--if-changed"});
    EXPECT_EQ(r.exitCode, 13) << r.err;
    const std::vector<AccessLogEntry> all = origin.waitForRequests(first + 1);
    ASSERT_EQ(all.size(), first + 1);
    EXPECT_EQ(all.back().uri, "/Release.rar.minisig?v=2");
    EXPECT_EQ(all.back().status, 200);
    EXPECT_LE(all.back().bytesSent, 2048u);
}

// A signed release replaced as the README says (archive first, signature
// last, each renamed into place) behind the branch cache: while the cache
// still holds the old archive beside the new signature, a run says
// "unchanged" or installs the new release, never refuses the pair. A pair
// that does not hold at the origin is still refused.
TEST_F(Fleet, AReleaseReplacedBehindTheBranchCacheIsNeverRefused)
{
    const testsupport::SodiumKey key;
    const fs::path next = site.path() / "next";
    fs::create_directories(next);
    std::int64_t signedAt = 1'800'000'000;
    // Releases are published seconds apart, not within one second: files
    // renamed into place in the same second with the same size would carry
    // the same validators, and the cache's revalidation would rightly take
    // the new signature for the old one.
    auto publishedAt = fs::file_time_type::clock::now() - std::chrono::hours(1);
    const auto publishSigned = [&](const std::string& programText, bool forged = false) {
        RarWriter(RarFormat::Rar5)
            .file("Tavrel.exe", programText)
            .generated("Data.bin", (3u << 20) + static_cast<std::uint64_t>(signedAt % 1000), tavrel::test::fillPattern)
            .write(next, "Release");
        if (forged)
            writeFileBytes(next / "Other.rar", "another archive");
        key.sign(next / (forged ? "Other.rar" : "Release.rar"), next / "Release.rar.minisig", true,
                 "timestamp:" + std::to_string(signedAt) + "\tfile:Release.rar\thashed");
        signedAt += 100;
        publishedAt += std::chrono::seconds(10);
        fs::last_write_time(next / "Release.rar", publishedAt);
        fs::last_write_time(next / "Release.rar.minisig", publishedAt);
        fs::rename(next / "Release.rar", site.path() / "Release.rar");
        fs::rename(next / "Release.rar.minisig", site.path() / "Release.rar.minisig");
    };
    const NginxServer origin(NginxOrigin{.root = site.path()});
    const NginxServer cache(NginxCache{.originPort = origin.port(), .validFor = "3s"});
    // nginx keeps time in whole seconds: 3 s of validity may last almost 4.
    const auto letCacheExpire = [] { std::this_thread::sleep_for(std::chrono::milliseconds(4500)); };
    // The cache renews its copy of the archive alone, as a workstation
    // fetching only the archive (one without a key) makes it do.
    const auto renewCachedArchive = [&] {
        const testsupport::ChildResult r =
            ChildProcess::run({.program = "curl", .arguments = {"-sf", "-o", "/dev/null", cache.url("/Release.rar")}});
        ASSERT_EQ(r.exitCode(), 0);
    };
    writeSettings(db->path().string(), "[Update]\nPublicKey=" + key.publicKeyLine() + "\n");
    publish(cache.url("/Release.rar"), "1");

    publishSigned("Tavrel 2.0");
    CliRun r = run({"--if-changed"});
    ASSERT_EQ(r.exitCode, 0) << r.err;

    // Replaced while the cache still holds the old signature: unchanged, and
    // the next run once the cache has asked the origin again installs it.
    publishSigned("Tavrel 2.1");
    r = run({"--if-changed"});
    EXPECT_EQ(r.exitCode, 13) << r.err;
    letCacheExpire();
    r = run({"--if-changed"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "Tavrel 2.1");

    // The cache holds the old archive beside the new signature: installed,
    // by a workstation that has a release and by a new one.
    for (const char* release : {"Tavrel 2.2", "Tavrel 2.3"}) {
        const bool newWorkstation = std::string(release) == "Tavrel 2.3";
        SCOPED_TRACE(newWorkstation ? "new workstation" : "updated workstation");
        letCacheExpire();
        renewCachedArchive();
        publishSigned(release);
        if (newWorkstation) {
            fs::remove(updateFolder() / "installed");
            writeFileBytes(program / "Tavrel.exe", "old program");
        }
        r = run(newWorkstation ? std::vector<std::string>{} : std::vector<std::string>{"--if-changed"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), release);
    }
    // Each of them got the old archive first (HIT), then asked past the cache.
    std::vector<std::string> archiveAnswers;
    for (const AccessLogEntry& e : cache.requests())
        if (e.uri == "/Release.rar")
            archiveAnswers.push_back(e.cacheStatus);
    EXPECT_EQ(std::count(archiveAnswers.begin(), archiveAnswers.end(), "BYPASS"), 2)
        << testing::PrintToString(archiveAnswers);

    // A signature of another archive, as the origin serves it, is refused.
    letCacheExpire();
    publishSigned("Tavrel 6.6", true);
    r = run({"--if-changed"});
    EXPECT_EQ(r.exitCode, 10) << r.err;
    EXPECT_TRUE(contains(r.err, "не подтверждена")) << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "Tavrel 2.3");
    EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(Fleet, AServerWithoutValidatorsAlwaysDeliversTheRelease)
{
    makeRelease("Tavrel 2.0", 4096);
    const NginxServer origin(NginxOrigin{.root = site.path(), .validators = false});
    publish(origin.url("/Release.rar"), "1");
    for (int i = 0; i < 2; ++i) {
        writeFileBytes(program / "Tavrel.exe", "old program");
        const CliRun r = run({"--if-changed"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "Tavrel 2.0");
    }
    for (const AccessLogEntry& e : releaseRequests(origin, 2)) {
        EXPECT_EQ(e.status, 200);
        EXPECT_EQ(e.bodyBytes, releaseSize);
    }
}

TEST_F(Fleet, ACutDownloadResumesWithTheRestOrStartsOverWhenItMust)
{
    struct Case {
        const char* name;
        bool ranges;          // the server answers Range
        bool replaced;        // the release is replaced between the two runs
        int status;           // of the second run's request
        const char* installs; // Tavrel.exe afterwards
    };
    const Case cases[] = {
        {"resumed", true, false, 206, "Tavrel 2.0"},
        {"server ignores ranges", false, false, 200, "Tavrel 2.0"},
        {"release replaced meanwhile", true, true, 200, "Tavrel 3.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        makeRelease("Tavrel 2.0", 2u << 20);
        const NginxServer origin(NginxOrigin{.root = site.path(), .ranges = c.ranges, .rateLimit = 1u << 20});
        publish(origin.url("/Release.rar"), "1");
        writeFileBytes(program / "Tavrel.exe", "old program");

        // Killed once about half of the release has arrived.
        ChildProcess cut = start("cut");
        const fs::path part = updateFolder() / "download.part";
        for (int i = 0; i < 400; ++i) {
            std::error_code ec;
            if (fs::file_size(part, ec) >= (1u << 20) && !ec)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        cut.signal(SIGKILL);
        cut.wait();
        const std::uint64_t kept = fs::file_size(part);
        ASSERT_GT(kept, 0u);
        ASSERT_LT(kept, releaseSize);
        if (c.replaced) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1100)); // another modification second
            makeRelease("Tavrel 3.0", (2u << 20) + 7);
        }

        const CliRun r = run();
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), c.installs);
        EXPECT_FALSE(fs::exists(part));
        EXPECT_FALSE(fs::exists(program / "NewExe.zip"));
        const std::vector<AccessLogEntry> asked = releaseRequests(origin, 2);
        ASSERT_EQ(asked.size(), 2u);
        EXPECT_EQ(asked[1].status, c.status);
        EXPECT_EQ(asked[1].range, "bytes=" + std::to_string(kept) + "-");
        EXPECT_EQ(asked[1].bodyBytes, c.status == 206 ? releaseSize - kept : releaseSize);
        fs::remove(updateFolder() / "installed");
    }
}

TEST_F(Fleet, ABranchCacheFetchesTheReleaseFromTheOriginOnce)
{
    makeRelease("Tavrel 2.0", 1u << 20);
    const NginxServer origin(NginxOrigin{.root = site.path()});
    const NginxServer cache(NginxCache{.originPort = origin.port()});
    struct Way {
        const char* name;
        std::string location;
        std::string settings;  // section [Update]
        std::string httpProxy; // the environment's http_proxy
    };
    const Way ways[] = {
        {"the branch's URL", cache.url("/Release.rar"), "", ""},
        {"the origin's URL through [Update] Proxy=", origin.url("/Release.rar"), "Proxy=" + cache.url(""), ""},
        {"the origin's URL through http_proxy", origin.url("/Release.rar"), "", cache.url("")},
    };
    // The test servers keep loopback off proxies (no_proxy), which the
    // updater honours as every program does; here it must not.
    const std::string noProxy = std::getenv("no_proxy") ? std::getenv("no_proxy") : "";
    ::unsetenv("no_proxy");
    ::unsetenv("NO_PROXY");
    int runs = 0;
    for (const Way& way : ways) {
        writeSettings(db->path().string(), "[Update]\n" + way.settings + "\n");
        if (way.httpProxy.empty())
            ::unsetenv("http_proxy");
        else
            ::setenv("http_proxy", way.httpProxy.c_str(), 1);
        publish(way.location, "1");
        for (int i = 0; i < 3; ++i, ++runs) {
            writeFileBytes(program / "Tavrel.exe", "old program");
            fs::remove(updateFolder() / "installed");
            const CliRun r = run({"--if-changed"});
            EXPECT_EQ(r.exitCode, 0) << way.name << ": " << r.err;
            EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "Tavrel 2.0") << way.name;
        }
    }
    ::unsetenv("http_proxy");
    ::setenv("no_proxy", noProxy.c_str(), 1);
    ::setenv("NO_PROXY", noProxy.c_str(), 1);
    EXPECT_EQ(cache.waitForRequests(static_cast<std::size_t>(runs)).size(), static_cast<std::size_t>(runs));
    EXPECT_EQ(testsupport::bodyBytesServed(origin.requests(), "/Release.rar"), releaseSize);
}

} // namespace
