#pragma once
// HTTP GET of one URL, streaming the body to a sink. The interface keeps the
// update run free of any particular client library.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Bytes `first` to `last` of a resource, both included.
struct ByteRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t size() const { return last - first + 1; }
};

struct HttpRequest {
    std::string url;
    std::string userAgent;
    // "http://host:port" of a proxy for this request; empty: the proxies of
    // the environment (http_proxy, https_proxy, all_proxy, no_proxy).
    std::string proxy;
    // Validators of a copy already held: the server answers 304 without a
    // body when the resource still matches them.
    std::string ifNoneMatch;
    std::string ifModifiedSince;
    // Asks for the body from this byte on (a 206 answer), but only while the
    // resource is still the one `ifRange` names (an entity tag or a date);
    // otherwise the server sends the whole body with 200. 0: the whole body.
    std::uint64_t rangeFrom = 0;
    std::string ifRange;
    // Asks for these ranges instead (rangeFrom 0): one range comes back as a
    // 206 of that range, several as a 206 "multipart/byteranges", and a
    // server that ignores them sends the whole body with 200. HttpRanges.h
    // reads such answers.
    std::vector<ByteRange> ranges;
    // The body arrives at most this fast, in bytes per second; 0: no limit.
    std::uint64_t maxReceiveBytesPerSecond = 0;
    // Asks caches on the way for the origin's answer, not a copy they keep
    // (Cache-Control: no-cache, and Pragma for HTTP/1.0 caches).
    bool pastCaches = false;
};

// The head of the final response, after any redirects were followed.
struct HttpResponseHead {
    std::string status; // the status code as decimal text
    std::optional<std::uint64_t> contentLength;
    std::string etag;         // as sent, quotes and weakness mark included
    std::string lastModified; // as sent
    // Of a 206 answer: where the body starts and the resource's whole length.
    std::optional<std::uint64_t> rangeStart;
    std::optional<std::uint64_t> completeLength;
    std::string contentType; // as sent; a multipart answer names its boundary here
};

// Receives the final response of one GET.
class HttpBodySink {
public:
    virtual ~HttpBodySink() = default;
    // Called once, before the first body byte (or after the transfer when the
    // body is empty). Returning false stops the transfer without reading the body.
    virtual bool begin(const HttpResponseHead& head) = 0;
    // The next bytes of the body; returning false aborts the transfer.
    virtual bool write(const char* data, std::size_t size) = 0;
    // Asked about once a second while the transfer runs, data or not;
    // returning false abandons it.
    virtual bool stillWanted() { return true; }
};

struct HttpResult {
    // Status code of the final response as decimal text; empty when no
    // response arrived (no connection, name not resolved, TLS refused).
    std::string status;
    // True when the whole body arrived: the connection did not break off and
    // no fewer bytes came than the response announced.
    bool bodyComplete = false;
    // Why the transfer failed, for diagnostics; empty on success.
    std::string error;
    // The URL could not be parsed; nothing was sent.
    bool malformedUrl = false;
};

class HttpClient {
public:
    virtual ~HttpClient() = default;
    // GET as `request` says. Redirects are followed, HTTPS certificates and
    // host names are verified, and nothing is added that keeps a cache on
    // the way from answering.
    virtual HttpResult get(const HttpRequest& request, HttpBodySink& sink) = 0;
};

// The system's client: WinInet on Windows, libcurl elsewhere.
std::unique_ptr<HttpClient> makeHttpClient();

} // namespace platform
