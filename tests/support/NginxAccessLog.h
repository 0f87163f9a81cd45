#pragma once
// The access log of the test nginx: one line per request, tab-separated
// fields in nginx's default escaping (a tab or quote in a value becomes
// \xHH), parsed back into what a test asserts on.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

struct AccessLogEntry {
    std::string method;
    std::string uri; // as requested, query included
    int status = 0;
    std::uint64_t bodyBytes = 0; // body bytes sent, headers not counted
    std::uint64_t bytesSent = 0; // all bytes sent, headers included
    bool complete = false;       // false: the connection ended before the whole response was sent
    // Request headers; empty when absent.
    std::string range;
    std::string ifNoneMatch;
    std::string ifModifiedSince;
    std::string ifRange;
    // For the caching proxy: HIT, MISS, REVALIDATED, STALE, UPDATING...; empty on an origin.
    std::string cacheStatus;
};

// The log_format line (for the http block) that the parser reads, named `name`.
std::string accessLogFormat(const std::string& name);

// Parses a whole log; throws std::runtime_error on a line of another format.
std::vector<AccessLogEntry> parseAccessLog(const std::string& text);
std::vector<AccessLogEntry> readAccessLog(const std::filesystem::path& file);

// Sum of body bytes of the entries whose URI is `uri` (all entries when empty).
std::uint64_t bodyBytesServed(const std::vector<AccessLogEntry>& entries, const std::string& uri = {});

} // namespace testsupport
