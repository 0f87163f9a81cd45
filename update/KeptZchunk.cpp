#include "update/KeptZchunk.h"

#include "platform/FileOps.h"
#include "platform/SharedFolder.h"

#ifdef TAVREL_WITH_ZCHUNK
#include "platform/ZchunkDelta.h"
#endif

#include <system_error>

namespace fs = std::filesystem;

KeptZchunk::~KeptZchunk()
{
    stop();
    discardPending();
}

void KeptZchunk::stop()
{
    if (!making_.joinable())
        return;
    stop_ = true;
    making_.join();
}

void KeptZchunk::discardPending()
{
    stop();
    pending_ = false;
    std::error_code ignored;
    fs::remove(folder_.pendingZck(), ignored);
}

void KeptZchunk::makeFrom(const std::string& archive, const DownloadLimits& limits, FetchObserver& notes)
{
    discardPending();
    if (!wanted_)
        return;
#ifdef TAVREL_WITH_ZCHUNK
    std::error_code ec;
    const std::uint64_t size = fs::file_size(platform::toPath(archive), ec);
    DownloadLimits spaceOnly = limits;
    spaceOnly.maxBytes.reset();
    const std::string noRoom = ec ? ec.message() : DownloadGuard(spaceOnly, folder_.root).beforeBody(size);
    if (!noRoom.empty()) {
        notes.fetchNote("no .zck is kept for the next delta update: " + noRoom);
        return;
    }
    stop_ = false;
    madeError_.clear();
    pending_ = true;
    making_ = std::thread([this, archive] {
        madeError_ = platform::makeZchunk(archive, platform::fromPath(folder_.pendingZck()), &stop_);
    });
#else
    (void)archive;
    (void)limits;
    (void)notes;
#endif
}

void KeptZchunk::commit(FetchObserver& notes)
{
    if (making_.joinable())
        making_.join();
    std::error_code ec;
    if (pending_ && madeError_.empty()) {
        fs::rename(folder_.pendingZck(), folder_.keptZck(), ec);
        if (!ec) {
            // Another user of a shared program folder builds the next delta on it.
            platform::shareWithFolder(folder_.keptZck());
            pending_ = false;
            return;
        }
        notes.fetchNote("no .zck is kept for the next delta update: " + ec.message());
    } else if (pending_) {
        notes.fetchNote("no .zck is kept for the next delta update: " + madeError_);
    }
    discardPending();
    // Without deltas the .zck of an older release only takes room. With
    // them it stays the base: a chunk taken from it is checked against the
    // new release's digests, so an older base costs bytes, never soundness.
    if (!wanted_)
        fs::remove(folder_.keptZck(), ec);
}
