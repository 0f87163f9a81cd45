#include "update/DeltaFetch.h"

#include "platform/FileOps.h"
#include "update/PartialDownload.h"
#include "update/ReleaseLocation.h"

#ifdef TAVREL_WITH_ZCHUNK
#include "platform/HttpRanges.h"
#include "platform/ZchunkDelta.h"
#endif

#include <system_error>

namespace {

DeltaResult whole(FetchObserver& observer, const std::string& what, std::uint64_t fetched = 0,
                  DeltaResult result = DeltaResult::WholeNeeded)
{
    observer.fetchNote(what + "; fetching the whole archive; the delta saved 0 bytes" +
                       (fetched ? " (it fetched " + std::to_string(fetched) + " bytes in vain)" : std::string()));
    return result;
}

} // namespace

#ifndef TAVREL_WITH_ZCHUNK

bool deltaUpdatesBuiltIn() { return false; }

DeltaResult fetchDelta(TFetch&, platform::HttpClient&, FetchObserver& observer, const UpdateFolder&,
                       const DeltaRequest&)
{
    return whole(observer, "no delta update: this build has no zchunk library");
}

#else

bool deltaUpdatesBuiltIn() { return true; }

namespace {

// Room for the new .zck in the update folder and the rebuilt archive beside
// the local one, each about as large as the kept .zck: the margin a download
// keeps must hold for a delta too.
std::string roomForDelta(const UpdateFolder& folder, const DeltaRequest& request)
{
    std::error_code ec;
    const std::uint64_t kept = std::filesystem::file_size(folder.keptZck(), ec);
    if (ec)
        return {};
    DownloadLimits spaceOnly = request.limits;
    spaceOnly.maxBytes.reset(); // the cap is the archive's, checked below and once it is rebuilt
    std::string reason = DownloadGuard(spaceOnly, folder.root).beforeBody(kept);
    const std::filesystem::path archiveFolder = platform::toPath(platform::absolutePath(request.archive)).parent_path();
    return reason.empty() ? DownloadGuard(request.limits, archiveFolder).beforeBody(kept) : reason;
}

// Whether the server serves the .zck with ranges: its first byte, asked
// for before a .zck is made to build the next delta on.
bool zckServed(platform::HttpClient& http, const platform::HttpRequest& zck)
{
    struct Discard : platform::RangePieceSink {
        bool piece(std::uint64_t, const char*, std::size_t) override { return true; }
    } discard;
    return platform::fetchRanges(http, zck, {{0, 0}}, discard, 1).complete;
}

} // namespace

DeltaResult fetchDelta(TFetch& fetch, platform::HttpClient& http, FetchObserver& observer, const UpdateFolder& folder,
                       const DeltaRequest& request)
{
    if (!request.signatureChecked)
        return whole(observer, "no delta update: without a public key ([Update] PublicKey) nothing proves a "
                               "rebuilt archive to be the published one");
    // A whole download that was cut goes on where it stopped: it was begun
    // because no delta could be had.
    if (PartialDownload(folder).resumableFor(TFetch::requestUrl(request.source)))
        return whole(observer, "no delta update: a cut download of the whole archive is resumed");

    // The question whether anything changed comes first, so that an
    // unchanged release still costs one small answer.
    if (!request.options.ifNoneMatch.empty() || !request.options.ifModifiedSince.empty()) {
        DownloadOptions ask = request.options;
        ask.headOnly = true;
        ask.resumeIn.reset();
        switch (fetch.download(request.source, request.archive, ask)) {
        case FetchResult::NotModified: return DeltaResult::Unchanged;
        case FetchResult::Failed: return DeltaResult::Stopped;
        case FetchResult::Fetched: break;
        }
    }
    const platform::HttpRequest zck = fetch.httpRequest(besideRelease(request.source, true, ".zck"));
    if (!platform::isExistingFile(platform::fromPath(folder.keptZck()))) {
        if (!zckServed(http, zck))
            return whole(observer, "no delta update: no .zck is published at " + zck.url + " (or no ranges of it)", 0,
                         DeltaResult::WholeWithoutZck);
        return whole(observer, "no delta update: no .zck of the installed release is kept; one is made for the next");
    }
    if (const std::string reason = roomForDelta(folder, request); !reason.empty())
        return whole(observer, "no delta update: " + reason);

    platform::ZchunkDeltaRequest delta;
    delta.http = zck;
    delta.keptZck = platform::fromPath(folder.keptZck());
    delta.newZck = platform::fromPath(folder.pendingZck());
    delta.archive = platform::absolutePath(request.archive);
    // The speed floor and the time limit hold while chunks arrive; the
    // rebuild that follows them is local work (fetched == total).
    DownloadGuard guard(request.limits, folder.root);
    std::string stopReason;
    bool cancelled = false;
    delta.progress = [&](std::uint64_t fetched, std::uint64_t total) {
        if (stopReason.empty() && (total == 0 || fetched < total))
            stopReason = guard.onTick(fetched);
        if (!stopReason.empty())
            return false;
        cancelled = !observer.fetchProgress(fetched, total ? std::optional(total) : std::nullopt);
        return !cancelled;
    };
    const platform::ZchunkDeltaResult result = platform::fetchZchunkDelta(http, delta);
    switch (result.outcome) {
    case platform::ZchunkDeltaOutcome::Rebuilt: {
        const std::string tooLarge =
            DownloadGuard(request.limits, folder.root).beforeBody(result.archiveBytes, result.archiveBytes);
        if (!tooLarge.empty()) {
            platform::removeFile(delta.archive);
            platform::removeFile(delta.newZck);
            return whole(observer, "delta update refused: the rebuilt archive is " + tooLarge, result.bytesFetched);
        }
        observer.fetchNote("delta update: " + request.archive + " rebuilt from the kept .zck and " +
                           std::to_string(result.bytesFetched) + " bytes fetched of its " +
                           std::to_string(result.archiveBytes) + "; the delta saved " +
                           std::to_string(result.bytesSaved) + " bytes");
        return DeltaResult::Rebuilt;
    }
    case platform::ZchunkDeltaOutcome::NotWorthIt:
        return whole(observer, "delta update not worth it: " + result.reason, result.bytesFetched);
    case platform::ZchunkDeltaOutcome::Failed:
        if (result.notPublished)
            return whole(observer, "delta update failed: " + result.reason, result.bytesFetched,
                         DeltaResult::WholeWithoutZck);
        break;
    case platform::ZchunkDeltaOutcome::Cancelled:
        if (cancelled) {
            observer.fetchFailed("delta update of " + request.source + " cancelled");
            return DeltaResult::Stopped;
        }
        break;
    }
    return whole(observer, "delta update failed: " + (stopReason.empty() ? result.reason : "stopped: " + stopReason),
                 result.bytesFetched);
}

#endif
