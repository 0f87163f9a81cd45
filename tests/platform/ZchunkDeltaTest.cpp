// Delta fetches against a real nginx on loopback, with .zck files made by the
// publisher's zck tool from RAR archives made here.
#include "platform/HttpClient.h"
#include "platform/ZchunkDelta.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/NginxServer.h"
#include "tests/support/RarWriter.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>

namespace fs = std::filesystem;
using platform::ZchunkDeltaOutcome;
using testsupport::NginxCache;
using testsupport::NginxOrigin;
using testsupport::NginxServer;
using testsupport::readFileBytes;
using testsupport::writeFileBytes;

namespace {

constexpr int kFiles = 16;

// Incompressible, like the packed data of a compressed archive; sizes differ
// so that files do not line up with chunks.
std::string content(int file, int version, std::size_t size = 40000)
{
    std::mt19937 random(static_cast<unsigned>(file * 1000 + version));
    std::string data(size + static_cast<std::size_t>(file) * 3000, '\0');
    for (char& c : data)
        c = static_cast<char>(random());
    return data;
}

class ZchunkDeltaTest : public ::testing::Test {
protected:
    // A stored, non-solid release whose files in `changed` have new content.
    std::string release(const std::set<int>& changed)
    {
        tavrel::test::RarWriter writer(tavrel::test::RarFormat::Rar5);
        for (int i = 0; i < kFiles; ++i)
            writer.file("bin/file" + std::to_string(i) + ".dll", content(i, changed.count(i) ? 2 : 1, fileSize));
        const fs::path scratch = dir / "scratch";
        fs::create_directories(scratch);
        writer.write(scratch, "Release");
        return readFileBytes(scratch / "Release.rar");
    }

    // The .zck the zck tool makes of `archive`, written to `zck`.
    void zck(const std::string& archive, const fs::path& zck)
    {
        const fs::path source = dir / "scratch" / "source.rar";
        writeFileBytes(source, archive);
        const testsupport::ChildResult made =
            testsupport::ChildProcess::run({.program = "zck", .arguments = {"-o", zck.string(), source.string()}});
        ASSERT_EQ(made.exitCode(), 0) << made.err;
    }

    // The previous release kept in the update folder, and the next one published.
    void releases(const std::set<int>& changed)
    {
        fs::create_directories(site);
        fs::create_directories(updates);
        zck(release({}), updates / "Release.rar.zck");
        next = release(changed);
        writeFileBytes(site / "Release.rar", next);
        zck(next, site / "Release.rar.zck");
    }

    platform::ZchunkDeltaResult fetch(const NginxServer& server)
    {
        platform::ZchunkDeltaRequest request;
        request.http.url = server.url("/Release.rar.zck");
        request.http.userAgent = "ZchunkDeltaTest";
        request.keptZck = (updates / "Release.rar.zck").string();
        request.newZck = request.keptZck;
        request.archive = (updates / "Release.rar").string();
        return platform::fetchZchunkDelta(*client, request);
    }

    testsupport::TempDir dir{"tavrel-zck"};
    const fs::path site = dir / "site";
    const fs::path updates = dir / "updates";
    std::string next;
    std::size_t fileSize = 40000;
    std::unique_ptr<platform::HttpClient> client = platform::makeHttpClient();
};

TEST_F(ZchunkDeltaTest, ChangedFilesCostTheirChunksAndRebuildTheArchiveExactly)
{
    // Two files far apart, so that the missing chunks are several ranges.
    releases({3, 12});
    const std::string published = readFileBytes(site / "Release.rar.zck");
    for (const bool oneRange : {false, true}) {
        SCOPED_TRACE(oneRange ? "one range per request" : "several ranges per request");
        zck(release({}), updates / "Release.rar.zck");
        NginxServer server(NginxOrigin{.root = site, .oneRangePerRequest = oneRange});
        const platform::ZchunkDeltaResult result = fetch(server);
        ASSERT_EQ(result.outcome, ZchunkDeltaOutcome::Rebuilt) << result.reason;
        EXPECT_EQ(readFileBytes(updates / "Release.rar"), next);
        EXPECT_EQ(readFileBytes(updates / "Release.rar.zck"), published);
        EXPECT_EQ(result.archiveBytes, next.size());
        // Two files of 16, with the chunks they share with their neighbours.
        EXPECT_LT(result.bytesFetched, next.size() / 4);
        EXPECT_GE(result.bytesFetched, content(3, 2).size() + content(12, 2).size());
        EXPECT_EQ(result.bytesSaved, result.archiveBytes - result.bytesFetched);

        const auto requests = server.waitForRequests(3);
        std::uint64_t served = 0;
        bool severalInOne = false;
        int whole = 0; // a request for several ranges answered with the whole file, then one at a time
        for (const auto& entry : requests) {
            severalInOne |= entry.range.find(',') != std::string::npos && entry.status == 206;
            whole += entry.status == 200;
            served += entry.status == 206 ? entry.bodyBytes : 0;
        }
        EXPECT_EQ(severalInOne, !oneRange);
        EXPECT_EQ(whole, oneRange ? 1 : 0);
        EXPECT_GE(served, result.missingBytes);
        EXPECT_EQ(std::distance(fs::directory_iterator(updates), fs::directory_iterator()), 2) << "stray files";
    }
}

TEST_F(ZchunkDeltaTest, WorkstationsBehindTheBranchCacheCostTheOriginTheChangedSlicesOnce)
{
    // 8 MiB in slices of 1 MiB; one file of 512 KiB changes.
    fileSize = 512 << 10;
    releases({8});
    NginxServer origin(NginxOrigin{.root = site});
    NginxServer cache(NginxCache{.originPort = origin.port()});
    const std::string kept = readFileBytes(updates / "Release.rar.zck");
    for (int workstation = 0; workstation < 5; ++workstation) {
        writeFileBytes(updates / "Release.rar.zck", kept);
        const platform::ZchunkDeltaResult result = fetch(cache);
        ASSERT_EQ(result.outcome, ZchunkDeltaOutcome::Rebuilt) << result.reason;
        EXPECT_EQ(readFileBytes(updates / "Release.rar"), next);
    }
    // The header's slice, the one or two of the changed file, and the
    // first slice of a request for several ranges, which the cache answers whole.
    const auto served = origin.requests();
    std::set<std::string> slices;
    for (const auto& entry : served)
        EXPECT_TRUE(slices.insert(entry.range).second) << entry.range << " fetched twice";
    EXPECT_LE(testsupport::bodyBytesServed(served), 4u << 20);
}

// After a whole download the workstation makes the .zck itself: the chunks
// must be the publisher's, or the next delta matches none.
TEST_F(ZchunkDeltaTest, AZckMadeOnTheWorkstationIsThePublishersByteForByte)
{
    releases({});
    const fs::path made = updates / "made.zck";
    EXPECT_EQ(platform::makeZchunk((site / "Release.rar").string(), made.string()), "");
    EXPECT_EQ(readFileBytes(made), readFileBytes(site / "Release.rar.zck"));
    EXPECT_NE(platform::makeZchunk((site / "missing.rar").string(), made.string()).find("missing.rar"),
              std::string::npos);
    EXPECT_EQ(readFileBytes(made), readFileBytes(site / "Release.rar.zck"));
}

TEST_F(ZchunkDeltaTest, UnchangedReleaseCostsItsHeaderOnly)
{
    releases({});
    NginxServer server(NginxOrigin{.root = site});
    const platform::ZchunkDeltaResult result = fetch(server);
    ASSERT_EQ(result.outcome, ZchunkDeltaOutcome::Rebuilt) << result.reason;
    EXPECT_EQ(readFileBytes(updates / "Release.rar"), next);
    EXPECT_EQ(result.missingBytes, 0u);
    EXPECT_LT(result.bytesFetched, 4096u);
}

// Each failure leaves the archive and the kept .zck that stood before, and says why.
TEST_F(ZchunkDeltaTest, FailureKeepsWhatStoodAndSaysWhy)
{
    struct Case {
        const char* name;
        bool ranges;
        bool corrupt;
        bool published;
        const char* reason;
    };
    const Case cases[] = {
        {"server without ranges", false, false, true, "serves no ranges"},
        {"corrupted chunk", true, true, true, "do not match their digest"},
        {"no .zck published", true, false, false, "no .zck is published"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The last file changes, and the last byte of its chunk is spoilt.
        releases({5, kFiles - 1});
        if (c.corrupt) {
            std::string zck = readFileBytes(site / "Release.rar.zck");
            zck.back() = static_cast<char>(zck.back() ^ 0x55);
            writeFileBytes(site / "Release.rar.zck", zck);
        }
        if (!c.published)
            fs::remove(site / "Release.rar.zck");
        writeFileBytes(updates / "Release.rar", "the archive that stood");
        const std::string kept = readFileBytes(updates / "Release.rar.zck");

        NginxServer server(NginxOrigin{.root = site, .ranges = c.ranges});
        const platform::ZchunkDeltaResult result = fetch(server);
        EXPECT_EQ(result.outcome, ZchunkDeltaOutcome::Failed);
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
        EXPECT_EQ(readFileBytes(updates / "Release.rar"), "the archive that stood");
        EXPECT_EQ(readFileBytes(updates / "Release.rar.zck"), kept);
        EXPECT_EQ(std::distance(fs::directory_iterator(updates), fs::directory_iterator()), 2) << "stray files";
        // A whole body refused is not read.
        EXPECT_LT(result.bytesFetched, next.size() / 4);
    }
}

TEST_F(ZchunkDeltaTest, NothingToBuildOnMeansTheWholeArchive)
{
    std::set<int> all;
    for (int i = 0; i < kFiles; ++i)
        all.insert(i);
    releases(all);
    {
        NginxServer server(NginxOrigin{.root = site});
        const platform::ZchunkDeltaResult result = fetch(server);
        EXPECT_EQ(result.outcome, ZchunkDeltaOutcome::NotWorthIt);
        EXPECT_NE(result.reason.find("over 80%"), std::string::npos) << result.reason;
        EXPECT_FALSE(fs::exists(updates / "Release.rar"));
    }
    fs::remove(updates / "Release.rar.zck");
    NginxServer server(NginxOrigin{.root = site});
    const platform::ZchunkDeltaResult result = fetch(server);
    EXPECT_EQ(result.outcome, ZchunkDeltaOutcome::NotWorthIt);
    EXPECT_EQ(result.bytesFetched, 0u);
    EXPECT_TRUE(server.requests().empty());
}

} // namespace
