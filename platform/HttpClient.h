#pragma once
// HTTP GET of one URL, streaming the body to a sink. The interface keeps the
// update run free of any particular client library.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// Receives the final response of one GET, after any redirects were followed.
class HttpBodySink {
public:
    virtual ~HttpBodySink() = default;
    // Called once, before the first body byte (or after the transfer when the
    // body is empty). `status` is the status code as decimal text. Returning
    // false stops the transfer without reading the body.
    virtual bool begin(const std::string& status, std::optional<std::uint64_t> contentLength) = 0;
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
    // GET `url` with `userAgent`. Proxies come from the environment, redirects
    // are followed, HTTPS certificates and host names are verified.
    virtual HttpResult get(const std::string& url, const std::string& userAgent, HttpBodySink& sink) = 0;
};

// The libcurl client.
std::unique_ptr<HttpClient> makeCurlHttpClient();

} // namespace platform
