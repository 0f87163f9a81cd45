#pragma once
// Byte ranges of one resource over any HttpClient: the answers a server may
// give (one range, several as multipart/byteranges, or the whole body when it
// ignores ranges) read into pieces at their offsets.
#include "HttpClient.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// "FIRST-LAST,FIRST-LAST" of a Range header after "bytes=".
std::string rangeSpec(const std::vector<ByteRange>& ranges);

// Receives the bytes of the ranges asked for, in the order they arrive.
class RangePieceSink {
public:
    virtual ~RangePieceSink() = default;
    // `size` bytes of the resource from `offset` on; false stops the fetch.
    virtual bool piece(std::uint64_t offset, const char* data, std::size_t size) = 0;
    // Asked about once a second; false abandons the fetch.
    virtual bool stillWanted() { return true; }
};

struct RangeFetchResult {
    bool complete = false; // every byte of every range arrived
    std::string status;    // of the last response
    // Why not complete; empty when it is.
    std::string error;
    // The server answered a single range with the whole body (200): it does
    // not serve ranges.
    bool rangesRefused = false;
    std::uint64_t bodyBytes = 0; // bytes of bodies received, framing included
    int requests = 0;
};

// Fetches `ranges` (sorted, not overlapping) of `request.url`, up to
// `perRequest` of them in one request. A server that answers several ranges
// with 200 (it allows one per request, or none) is asked for one at a time
// from then on; one range answered with 200 ends the fetch, and so does any
// other answer that is not a 206. Bytes outside the ranges are not passed on.
RangeFetchResult fetchRanges(HttpClient& client, const HttpRequest& request, const std::vector<ByteRange>& ranges,
                             RangePieceSink& sink, std::size_t perRequest = 64);

} // namespace platform
