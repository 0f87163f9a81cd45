#pragma once
// What a front end shows of a running update: the renew button's state and
// the progress of fetching and unpacking. The dialog processes window events
// in the progress calls, which keeps it responsive during a long update.
#include "update/FetchObserver.h"

#include <cstdint>
#include <string>

class UpdateView : public FetchObserver {
public:
    // Disabled while an update runs, enabled again however it ended.
    // Must not throw: it also runs while an exception passes.
    virtual void setRenewEnabled(bool enabled) = 0;
    // While the archive is unpacked: bytes of the archive done in this pass,
    // and its total (0 when the listing could not tell it).
    virtual void unpackProgress(std::uint64_t done, std::uint64_t total)
    {
        (void)done;
        (void)total;
    }
    // The same while the archive is tested, before anything is unpacked.
    virtual void testProgress(std::uint64_t done, std::uint64_t total) { unpackProgress(done, total); }
    // Right before the release is fetched, once the run's settings were found
    // usable: its location (8-bit) and whether it is downloaded or copied.
    virtual void fetchStarting(const std::string& location, bool http)
    {
        (void)location;
        (void)http;
    }
    // Once the fetched release has been checked, before it is opened: a line
    // (UTF-8) saying whether its publisher's signature was verified, for logs
    // and the command line. The dialog shows nothing of it.
    virtual void releaseChecked(const std::string& note) { (void)note; }
};
