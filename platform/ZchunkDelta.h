#pragma once
// A release fetched as the difference to the one before. The publisher puts
// Release.rar.zck (made by the zck tool) beside Release.rar; a workstation
// that kept the previous release's .zck fetches the new one's header, copies
// the chunks it already has, fetches only the missing ones with Range
// requests, checks every chunk's digest and rebuilds Release.rar byte for
// byte. Whatever goes wrong, the caller fetches the whole archive instead.
#include "HttpClient.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

struct ZchunkDeltaRequest {
    // The URL of Release.rar.zck, with the user agent, proxy and rate cap of
    // the run; its ranges are set here.
    HttpRequest http;
    std::string keptZck; // the previous release's .zck; may be missing
    std::string newZck;  // where the new .zck is kept for the next time; may be keptZck
    std::string archive; // the rebuilt archive; replaced only once whole and checked
    // Missing chunks above this share of the archive, in per cent, are not
    // worth fetching in pieces.
    unsigned maxMissingPercent = 80;
    std::size_t rangesPerRequest = 64;
    // Bytes fetched so far and the bytes the delta will fetch in all (0
    // until the header is read); false cancels. Also called about once a second.
    std::function<bool(std::uint64_t fetched, std::uint64_t total)> progress;
};

enum class ZchunkDeltaOutcome {
    Rebuilt,    // the archive stands rebuilt, the new .zck kept
    NotWorthIt, // nothing to build on, or too much missing: fetch the whole archive
    Failed,     // fetch the whole archive, once
    Cancelled,  // progress said stop
};

struct ZchunkDeltaResult {
    ZchunkDeltaOutcome outcome = ZchunkDeltaOutcome::Failed;
    std::uint64_t bytesFetched = 0; // bodies received over HTTP, header and chunks
    std::uint64_t archiveBytes = 0; // the new archive's size, once the header is read
    std::uint64_t missingBytes = 0; // bytes of chunks the kept .zck did not have
    std::uint64_t bytesSaved = 0;   // archiveBytes less bytesFetched, when rebuilt
    std::string reason;             // one line why, unless rebuilt
    bool notPublished = false;      // the server has no .zck (404)
};

// Never throws for what the server, the network or the files do: each ends
// in a result with its reason. Nothing stands half-written at `archive` or
// `newZck`; a file already there stays until its replacement is whole.
ZchunkDeltaResult fetchZchunkDelta(HttpClient& client, const ZchunkDeltaRequest& request);

// Makes the .zck of `archive` at `zck` as the publisher's zck tool does with
// its defaults (the same library, the same bytes), so that a workstation
// that fetched a whole archive keeps a .zck for the next delta without
// fetching one. Replaces `zck` only when whole; an empty text on success,
// else why not. Setting `stop` ends it early (a run that was interrupted).
std::string makeZchunk(const std::string& archive, const std::string& zck, const std::atomic<bool>* stop = nullptr);

} // namespace platform
