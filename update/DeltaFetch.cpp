#include "update/DeltaFetch.h"

#include "platform/FileOps.h"
#include "platform/SharedFolder.h"
#include "update/PartialDownload.h"
#include "update/ReleaseLocation.h"

#ifdef TAVREL_WITH_ZCHUNK
#include "platform/ZchunkDelta.h"
#endif

#include <cstdio>
#include <optional>
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
    std::uint64_t kept = std::filesystem::file_size(folder.keptZck(), ec);
    if (ec)
        kept = 0; // a whole .zck to come: at least the margin must be there
    DownloadLimits spaceOnly = request.limits;
    spaceOnly.maxBytes.reset(); // the cap is the archive's, checked below and once it is rebuilt
    std::string reason = DownloadGuard(spaceOnly, folder.root).beforeBody(kept);
    const std::filesystem::path archiveFolder = platform::toPath(platform::absolutePath(request.archive)).parent_path();
    return reason.empty() ? DownloadGuard(request.limits, archiveFolder).beforeBody(kept) : reason;
}

// A .zck with no chunk, the base of a workstation that keeps none (a new
// one, or one whose publisher began publishing .zck files): it fetches the
// whole .zck and rebuilds the archive from it. That is no more than the
// archive (less where zstd compresses it), and the .zck for the next delta
// comes with it instead of being made afterwards (compressing the archive).
class EmptyBase {
public:
    explicit EmptyBase(const UpdateFolder& folder)
        : nothing_(folder.root / ".empty.part-base"), zck_(folder.root / ".empty.zck.part-base")
    {
        std::error_code ec;
        platform::createSharedFolders(folder.root, ec); // a run without the lock has none yet
        writeEmpty();
        error_ = platform::makeZchunk(platform::fromPath(nothing_), platform::fromPath(zck_));
    }
    ~EmptyBase()
    {
        std::error_code ignored;
        std::filesystem::remove(nothing_, ignored);
        std::filesystem::remove(zck_, ignored);
    }
    EmptyBase(const EmptyBase&) = delete;
    EmptyBase& operator=(const EmptyBase&) = delete;

    const std::string& error() const { return error_; }
    std::string path() const { return platform::fromPath(zck_); }

private:
    void writeEmpty()
    {
        std::FILE* file = std::fopen(platform::fromPath(nothing_).c_str(), "wb");
        if (file)
            std::fclose(file);
    }

    std::filesystem::path nothing_;
    std::filesystem::path zck_;
    std::string error_;
};

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
    if (const std::string reason = roomForDelta(folder, request); !reason.empty())
        return whole(observer, "no delta update: " + reason);

    platform::ZchunkDeltaRequest delta;
    delta.http = fetch.httpRequest(besideRelease(request.source, true, ".zck"));
    delta.keptZck = platform::fromPath(folder.keptZck());
    std::optional<EmptyBase> empty;
    if (!platform::isExistingFile(delta.keptZck)) {
        empty.emplace(folder);
        if (!empty->error().empty())
            return whole(observer, "no delta update: no .zck of the installed release is kept: " + empty->error());
        delta.keptZck = empty->path();
        delta.maxMissingPercent = 101; // all of it is missing: worth it while the .zck is not larger than the archive
    }
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
        observer.fetchNote(
            "delta update: " + request.archive + " rebuilt from " +
            (empty ? "the whole .zck (no .zck of the installed release is kept), " : "the kept .zck and ") +
            std::to_string(result.bytesFetched) + " bytes fetched of its " + std::to_string(result.archiveBytes) +
            "; the delta saved " + std::to_string(result.bytesSaved) + " bytes");
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
