#pragma once
// The release fetched as the difference to the installed one. The publisher
// puts Release.rar.zck beside Release.rar, and the update folder keeps the
// installed release's .zck (KeptZchunk), so only the chunks it lacks are
// fetched, with Range requests, and Release.rar is rebuilt from them byte
// for byte; the run then checks it as a downloaded archive. Whatever keeps
// the delta from a rebuilt archive, the run fetches the whole archive
// instead. One line says how it went and how many bytes the delta saved.
#include "platform/HttpClient.h"
#include "update/DownloadLimits.h"
#include "update/Fetch.h"
#include "update/FetchObserver.h"
#include "update/UpdateFolder.h"

#include <string>

enum class DeltaResult {
    Rebuilt,     // the archive stands rebuilt, its .zck pending in the update folder
    Unchanged,   // the installed release's validators still hold (304): nothing to fetch
    WholeNeeded, // fetch the whole archive; the line said why
    // Fetch the whole archive, and keep no .zck for it: the publisher
    // publishes none (or the server sends no ranges), so it would only cost
    // the making and the room.
    WholeWithoutZck,
    Stopped,     // cancelled, interrupted, or the source could not be asked: the fetch failed
};

struct DeltaRequest {
    std::string source;  // the release's location, as the parameter table gave it
    std::string archive; // the local archive the rebuilt one replaces
    // The installed release's validators: a 304 to them ends the run
    // before anything of the delta is asked for.
    DownloadOptions options;
    DownloadLimits limits;
    // Only a signature over the rebuilt archive proves it to be the published
    // one byte for byte: without a key no delta is tried.
    bool signatureChecked = false;
};

// Whether this build fetches deltas (libzck was there to build with).
bool deltaUpdatesBuiltIn();

DeltaResult fetchDelta(TFetch& fetch, platform::HttpClient& http, FetchObserver& observer, const UpdateFolder& folder,
                       const DeltaRequest& request);
