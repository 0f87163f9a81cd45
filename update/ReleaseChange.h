#pragma once
// Where the release comes from and whether it changed: asked of the source
// without fetching the release, by the runs that update only a changed
// release (--if-changed) or only tell (--check).
#include "update/Fetch.h"
#include "update/InstalledRelease.h"
#include "update/UpdateSetup.h"

#include <optional>
#include <string>

enum class ReleaseChange {
    Same,    // the published release is the installed one
    Differs, // it is another one, or nothing tells what was installed
    Unknown, // only the conditional download (set into the options) can tell
    Failed,  // the source could not be asked; the user has been told
};

// Whether the release published at `source` differs from `installed`. With a
// key configured (`signatureDecides`) the published signature alone answers;
// a copy answers by size and time, an HTTP server by its validators, which
// go into `options` for the download that follows.
ReleaseChange askReleaseChange(TFetch& fetch, platform::Messages& messages, const UpdateSetup& setup,
                               const std::string& source, const std::optional<InstalledRelease>& installed,
                               bool signatureDecides, DownloadOptions& options);
