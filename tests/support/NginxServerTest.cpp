// The test nginx does what the update tests rely on: validators and their
// absence, ranges and their refusal, a rate limit that lets a client cut a
// download, a cache that fetches from the origin once, and an access log
// that tells each of these apart.
#include "tests/support/NginxServer.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <thread>

using testsupport::AccessLogEntry;
using testsupport::NginxCache;
using testsupport::NginxForwardProxy;
using testsupport::NginxOrigin;
using testsupport::NginxServer;
using testsupport::TempDir;

namespace {

struct Response {
    long status = 0;
    std::string body;
    std::map<std::string, std::string> headers; // names in lower case
};

struct Transfer {
    Response response;
    std::size_t abortAfter = 0;
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    transfer->response.body.append(data, size * count);
    if (transfer->abortAfter > 0 && transfer->response.body.size() >= transfer->abortAfter)
        return 0; // ends the transfer: the client hangs up part-way
    return size * count;
}

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user)
{
    const std::string line(data, size * count);
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        value.erase(value.find_last_not_of("\r\n") + 1);
        static_cast<Transfer*>(user)->response.headers[name] = value;
    }
    return size * count;
}

// One GET with extra request headers; `abortAfter` > 0 hangs up after that many body bytes.
Response get(const std::string& url, const std::vector<std::string>& headers = {}, std::size_t abortAfter = 0,
             const std::string& proxy = {})
{
    Transfer transfer;
    transfer.abortAfter = abortAfter;
    CURL* curl = curl_easy_init();
    curl_slist* list = nullptr;
    for (const std::string& h : headers)
        list = curl_slist_append(list, h.c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, proxy.empty() ? "*" : "");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &transfer.response.status);
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return transfer.response;
}

std::string patterned(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7919) >> 5);
    return bytes;
}

class NginxServerTest : public ::testing::Test {
protected:
    NginxServerTest() { testsupport::writeFileBytes(www_ / "Release.rar", release_); }

    TempDir www_{"tavrel-nginx-www"};
    const std::string release_ = patterned(1 << 20);
};

TEST_F(NginxServerTest, OriginAnswersConditionalAndRangeRequestsAndLogsThem)
{
    NginxServer origin(NginxOrigin{www_.path()});
    const std::string url = origin.url("/Release.rar");

    const Response full = get(url);
    EXPECT_EQ(full.status, 200);
    EXPECT_EQ(full.body, release_);
    const std::string etag = full.headers.at("etag");
    const std::string lastModified = full.headers.at("last-modified");
    ASSERT_FALSE(etag.empty());
    ASSERT_FALSE(lastModified.empty());

    EXPECT_EQ(get(url, {"If-None-Match: " + etag}).status, 304);
    EXPECT_EQ(get(url, {"If-Modified-Since: " + lastModified}).status, 304);
    const Response rest = get(url, {"Range: bytes=1000-", "If-Range: " + etag});
    EXPECT_EQ(rest.status, 206);
    EXPECT_EQ(rest.body, release_.substr(1000));
    EXPECT_EQ(get(url, {"Range: bytes=1000-", "If-Range: \"another\""}).status, 200);

    const std::vector<AccessLogEntry> log = origin.waitForRequests(5);
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0].method, "GET");
    EXPECT_EQ(log[0].uri, "/Release.rar");
    EXPECT_EQ(log[0].status, 200);
    EXPECT_EQ(log[0].bodyBytes, release_.size());
    EXPECT_TRUE(log[0].complete);
    EXPECT_EQ(log[1].status, 304);
    EXPECT_EQ(log[1].bodyBytes, 0u);
    EXPECT_GT(log[1].bytesSent, 0u);     // its headers
    EXPECT_EQ(log[1].ifNoneMatch, etag); // its quotes come back from nginx's escaping
    EXPECT_EQ(log[2].ifModifiedSince, lastModified);
    EXPECT_EQ(log[3].status, 206);
    EXPECT_EQ(log[3].range, "bytes=1000-");
    EXPECT_EQ(log[3].ifRange, etag);
    EXPECT_EQ(log[3].bodyBytes, release_.size() - 1000);
    EXPECT_EQ(log[4].bodyBytes, release_.size());
    EXPECT_EQ(testsupport::bodyBytesServed(log, "/Release.rar"), 3 * release_.size() - 1000);
}

TEST_F(NginxServerTest, OriginWithoutValidatorsAnswersEveryRequestInFull)
{
    NginxServer origin(NginxOrigin{.root = www_.path(), .validators = false});
    const std::string url = origin.url("/Release.rar");

    const Response full = get(url);
    EXPECT_EQ(full.status, 200);
    EXPECT_EQ(full.headers.count("etag"), 0u);
    EXPECT_EQ(full.headers.count("last-modified"), 0u);
    EXPECT_EQ(get(url, {"If-Modified-Since: Fri, 01 Jan 2100 00:00:00 GMT"}).status, 200);
    EXPECT_EQ(get(url, {"If-None-Match: \"6578f2a1-100000\""}).status, 200);
}

TEST_F(NginxServerTest, OriginIgnoringRangesSendsTheWholeFile)
{
    NginxServer origin(NginxOrigin{.root = www_.path(), .ranges = false});
    const Response response = get(origin.url("/Release.rar"), {"Range: bytes=1000-"});
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body.size(), release_.size());
}

TEST_F(NginxServerTest, RateLimitLetsAClientHangUpPartWayAndTheLogSaysSo)
{
    NginxServer origin(NginxOrigin{.root = www_.path(), .rateLimit = 256 * 1024});
    const Response cut = get(origin.url("/Release.rar"), {}, 64 * 1024);
    EXPECT_LT(cut.body.size(), release_.size());

    const std::vector<AccessLogEntry> log = origin.waitForRequests(1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_FALSE(log[0].complete);
    EXPECT_LT(log[0].bodyBytes, release_.size());
}

TEST_F(NginxServerTest, RestartCutsADownloadInFlightAndServesAgainOnTheSamePort)
{
    NginxServer origin(NginxOrigin{.root = www_.path(), .rateLimit = 256 * 1024});
    const std::string url = origin.url("/Release.rar");
    Response cut;
    {
        std::jthread client([&] { cut = get(url); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // into the transfer
        origin.restart();
    }
    EXPECT_GT(cut.body.size(), 0u);
    EXPECT_LT(cut.body.size(), release_.size());
    const std::string from = std::to_string(cut.body.size());
    EXPECT_EQ(get(url, {"Range: bytes=" + from + "-" + std::to_string(cut.body.size() + 999)}).body,
              release_.substr(cut.body.size(), 1000));

    // nginx logs no line for the requests its shutdown cuts.
    const std::vector<AccessLogEntry> log = origin.waitForRequests(1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].status, 206);
}

TEST_F(NginxServerTest, ForwardProxyPassesRequestsToTheServerTheyName)
{
    NginxServer origin(NginxOrigin{www_.path()});
    NginxServer proxy(NginxForwardProxy{});
    const Response response = get(origin.url("/Release.rar"), {}, 0, proxy.url(""));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, release_);

    const std::vector<AccessLogEntry> passed = proxy.waitForRequests(1);
    ASSERT_EQ(passed.size(), 1u);
    EXPECT_EQ(passed[0].bodyBytes, release_.size());
    EXPECT_EQ(origin.waitForRequests(1).size(), 1u);
}

TEST_F(NginxServerTest, CacheFetchesFromTheOriginOnceForConcurrentAndLaterClients)
{
    // Slow enough that the four first requests overlap: they wait for one fetch.
    NginxServer origin(NginxOrigin{.root = www_.path(), .rateLimit = 4 * 1024 * 1024});
    NginxServer cache(NginxCache{origin.port()});
    const std::string url = cache.url("/Release.rar");

    std::vector<Response> concurrent(4);
    {
        std::vector<std::jthread> clients;
        for (Response& r : concurrent)
            clients.emplace_back([&r, &url] { r = get(url); });
    }
    for (const Response& r : concurrent) {
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body, release_);
    }
    const Response later = get(url);
    EXPECT_EQ(later.body, release_);
    const std::string etag = later.headers.at("etag");
    EXPECT_EQ(get(url, {"If-None-Match: " + etag}).status, 304);
    const Response rest = get(url, {"Range: bytes=1000-", "If-Range: " + etag});
    EXPECT_EQ(rest.status, 206);
    EXPECT_EQ(rest.body, release_.substr(1000));

    const std::vector<AccessLogEntry> served = origin.waitForRequests(1);
    ASSERT_EQ(served.size(), 1u);
    EXPECT_EQ(served[0].bodyBytes, release_.size());
    const std::vector<AccessLogEntry> answered = cache.waitForRequests(7);
    ASSERT_EQ(answered.size(), 7u);
    EXPECT_EQ(std::count_if(answered.begin(), answered.end(),
                            [](const AccessLogEntry& e) { return e.cacheStatus == "MISS"; }),
              1);
}

} // namespace
