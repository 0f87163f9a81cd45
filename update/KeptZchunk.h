#pragma once
// The .zck of the installed release, kept in the update folder as the base
// of the next delta update. A delta leaves the new release's .zck pending;
// for a whole archive it is made here, on a thread of its own while the
// release is tested and installed. Either replaces the kept one only once the
// install has committed: a release that was refused or failed to install
// must not become the base. A run that installs without deltas (turned off,
// no key, a copy) removes the kept one, which then only takes room.
#include "update/DownloadLimits.h"
#include "update/FetchObserver.h"
#include "update/UpdateFolder.h"

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

class KeptZchunk {
public:
    // `wanted`: the release installed by this run is to be kept as a base.
    KeptZchunk(UpdateFolder folder, bool wanted) : folder_(std::move(folder)), wanted_(wanted) {}
    // Stops the making and removes the pending .zck, unless committed.
    ~KeptZchunk();
    KeptZchunk(const KeptZchunk&) = delete;
    KeptZchunk& operator=(const KeptZchunk&) = delete;

    bool wanted() const { return wanted_; }
    // The publisher publishes no .zck: none is made, and a kept one goes.
    void notPublished() { wanted_ = false; }
    // A delta rebuilt the archive: its .zck is pending.
    void rebuilt() { pending_ = true; }
    // The whole archive at `archive` (held open for the run) was confirmed:
    // its .zck is made, when there is room for it beside the margin of `limits`.
    void makeFrom(const std::string& archive, const DownloadLimits& limits, FetchObserver& notes);
    // The pending .zck of a release that was refused goes.
    void discardPending();
    // After the install committed: the pending .zck becomes the kept one.
    void commit(FetchObserver& notes);

private:
    void stop();

    UpdateFolder folder_;
    bool wanted_;
    bool pending_ = false; // a delta's .zck lies pending
    std::thread making_;
    std::atomic<bool> stop_{false};
    std::string madeError_; // why the making failed; set by the thread
};
