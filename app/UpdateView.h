#pragma once
// What a front end shows of a running update: the renew button's state and
// the progress of fetching and unpacking. The dialog processes window events
// in the progress calls, which keeps it responsive during a long update.
#include "app/FetchObserver.h"

#include <cstdint>
#include <string>

class UpdateView : public FetchObserver {
public:
    // Disabled while an update runs, enabled again however it ended.
    // Must not throw: it also runs while an exception passes.
    virtual void setRenewEnabled(bool enabled) = 0;
    // While the archive is tested and unpacked: bytes of the archive done
    // in the current pass, and its total.
    virtual void unpackProgress(std::uint64_t done, std::uint64_t total)
    {
        (void)done;
        (void)total;
    }
    // Once the fetched release has been checked, before it is opened: a line
    // (UTF-8) saying whether its publisher's signature was verified, for logs
    // and the command line. The dialog shows nothing of it.
    virtual void releaseChecked(const std::string& note) { (void)note; }
};
