// The HTTP client of the platform (libcurl, or WinInet on Windows) against
// the loopback test server: what it asks a server for and what it reports of
// the answer, the part the download's resuming and its "nothing changed"
// check rest on.
#include "platform/HttpClient.h"
#include "tests/support/HttpTestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

// Requests name only what differs from the defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

struct Collected : platform::HttpBodySink {
    std::optional<platform::HttpResponseHead> head;
    std::string body;
    bool begin(const platform::HttpResponseHead& h) override
    {
        head = h;
        return true;
    }
    bool write(const char* data, std::size_t size) override
    {
        body.append(data, size);
        return true;
    }
};

std::string pattern(std::size_t from, std::size_t to)
{
    std::string s;
    for (std::size_t i = from; i < to; ++i)
        s.push_back(static_cast<char>(i % 251));
    return s;
}

class HttpClient : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = std::make_unique<testsupport::HttpTestServer>(); }
    static void TearDownTestSuite() { server.reset(); }

    static std::unique_ptr<testsupport::HttpTestServer> server;
    std::unique_ptr<platform::HttpClient> client = platform::makeHttpClient();
};
std::unique_ptr<testsupport::HttpTestServer> HttpClient::server;

TEST_F(HttpClient, ConditionsAndRangesReachTheServerAndItsAnswerIsReported)
{
    const std::string etag = "\"v1\"";
    const std::string modified = "Wed, 09 Dec 2026 10:00:00 GMT";
    struct Case {
        const char* name;
        platform::HttpRequest request;
        std::string status;
        std::string body;
        std::optional<std::uint64_t> rangeStart;
    };
    const std::string url = server->url("/versioned/1000");
    const Case cases[] = {
        {"unconditional", {.url = url}, "200", pattern(0, 1000), std::nullopt},
        {"If-None-Match of the copy held", {.url = url, .ifNoneMatch = etag}, "304", "", std::nullopt},
        {"If-Modified-Since of the copy held", {.url = url, .ifModifiedSince = modified}, "304", "", std::nullopt},
        {"another version held", {.url = url, .ifNoneMatch = "\"v0\""}, "200", pattern(0, 1000), std::nullopt},
        {"the rest of the same version",
         {.url = url, .rangeFrom = 600, .ifRange = etag},
         "206",
         pattern(600, 1000),
         600},
        {"the rest, the version named by its date",
         {.url = url, .rangeFrom = 10, .ifRange = modified},
         "206",
         pattern(10, 1000),
         10},
        {"the rest of a version replaced since",
         {.url = url, .rangeFrom = 600, .ifRange = "\"v0\""},
         "200",
         pattern(0, 1000),
         std::nullopt},
    };
    for (const Case& c : cases) {
        Collected sink;
        const platform::HttpResult result = client->get(c.request, sink);
        EXPECT_EQ(result.status, c.status) << c.name;
        EXPECT_TRUE(result.bodyComplete) << c.name << ": " << result.error;
        ASSERT_TRUE(sink.head) << c.name;
        EXPECT_EQ(sink.head->status, c.status) << c.name;
        EXPECT_EQ(sink.head->etag, etag) << c.name;
        EXPECT_EQ(sink.head->lastModified, modified) << c.name;
        EXPECT_TRUE(sink.body == c.body) << c.name << ": " << sink.body.size() << " bytes";
        EXPECT_EQ(sink.head->rangeStart, c.rangeStart) << c.name;
        if (c.rangeStart) {
            EXPECT_EQ(sink.head->completeLength, std::optional<std::uint64_t>(1000)) << c.name;
            EXPECT_EQ(sink.head->contentLength, std::optional<std::uint64_t>(1000 - *c.rangeStart)) << c.name;
        }
    }
}

TEST_F(HttpClient, ACappedDownloadTakesAsLongAsTheCapSaysAndFinishes)
{
    // 2 MiB at 512 KiB/s: 4 s.
    Collected sink;
    const auto started = std::chrono::steady_clock::now();
    const platform::HttpResult result = client->get(
        {.url = server->url("/ok/" + std::to_string(2 << 20)), .maxReceiveBytesPerSecond = 512 << 10}, sink);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_TRUE(result.bodyComplete) << result.error;
    EXPECT_EQ(sink.body.size(), 2u << 20);
    EXPECT_GT(seconds, 3.5);
    EXPECT_LT(seconds, 6.0);
}

TEST_F(HttpClient, AsksNoCacheOnTheWayToStepAside)
{
    Collected sink;
    const platform::HttpResult result = client->get({.url = server->url("/headers"), .userAgent = "tavrel-test"}, sink);
    ASSERT_TRUE(result.bodyComplete) << result.error;
    EXPECT_NE(sink.body.find("User-Agent: tavrel-test"), std::string::npos) << sink.body;
    EXPECT_EQ(sink.body.find("Pragma"), std::string::npos) << sink.body;
    EXPECT_EQ(sink.body.find("no-cache"), std::string::npos) << sink.body;
}

TEST_F(HttpClient, AModificationDateInTheFutureIsNeitherKeptNorSent)
{
    // The server's Date is its clock; without one, ours is.
    struct Case {
        const char* path;
        bool kept;
    };
    const Case cases[] = {
        {"/modified/-3600/0", true},   {"/modified/3600/0", false},    {"/modified/-3600/-7200", false},
        {"/modified/3600/7200", true}, {"/modified/-3600/none", true}, {"/modified/3600/none", false},
    };
    for (const Case& c : cases) {
        Collected sink;
        const platform::HttpResult result = client->get({.url = server->url(c.path)}, sink);
        ASSERT_TRUE(result.bodyComplete) << c.path << ": " << result.error;
        EXPECT_EQ(!sink.head->lastModified.empty(), c.kept) << c.path << ": " << sink.head->lastModified;
    }

    // One kept before such dates were refused is not sent either.
    for (const auto& [date, sent] :
         {std::pair{"Wed, 09 Dec 2026 10:00:00 GMT", true}, std::pair{"Sat, 01 Jan 2500 00:00:00 GMT", false}}) {
        Collected sink;
        const platform::HttpResult result =
            client->get({.url = server->url("/headers"), .ifModifiedSince = date}, sink);
        ASSERT_TRUE(result.bodyComplete) << result.error;
        EXPECT_EQ(sink.body.find("If-Modified-Since") != std::string::npos, sent) << date << ": " << sink.body;
    }
}

TEST_F(HttpClient, ASinkThatDeclinesTheBodyGetsNone)
{
    struct Declining : Collected {
        bool begin(const platform::HttpResponseHead& h) override
        {
            head = h;
            return false;
        }
    } sink;
    const platform::HttpResult result = client->get({.url = server->url("/endless")}, sink);
    EXPECT_EQ(result.status, "200");
    EXPECT_FALSE(result.bodyComplete);
    EXPECT_TRUE(sink.body.empty());
}

} // namespace
