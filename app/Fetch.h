#pragma once
// Brings the release archive to a local file: a copy from a path or an HTTP
// download. Knows nothing of archives; it moves bytes and says whether that
// worked.
#include "app/DownloadLimits.h"
#include "app/FetchObserver.h"
#include "platform/HttpClient.h"
#include "platform/Messages.h"

#include <string>

class TFetch {
public:
    TFetch(platform::Messages& messages, platform::HttpClient& http, FetchObserver* observer = nullptr)
        : messages_(messages), http_(http), observer_(observer)
    {}

    // Bounds every later download; a download that would pass them stops and fails.
    void setLimits(const DownloadLimits& limits) { limits_ = limits; }

    // Copies the file `Src` to `Dest`, replacing `Dest`. A missing source (or
    // a folder) is reported in a message box; a failed copy only returns false.
    bool GetNetFile(const std::string& Src, const std::string& Dest);

    // Downloads `fileURL` into `FileName`. True when the final status was
    // "200" or "302" and the whole body is in the file. Any other status, no
    // answer, or a body that broke off returns false and leaves `FileName` as
    // it was. Blanks and non-ASCII letters of `fileURL` are percent-encoded;
    // a location that still is no URL is reported in a message box. Failing
    // to write the local file throws std::system_error.
    bool GetInetFile(const std::string& fileURL, const std::string& FileName);

private:
    bool progress(std::uint64_t done, std::optional<std::uint64_t> total);
    void failed(const std::string& reason);

    platform::Messages& messages_;
    platform::HttpClient& http_;
    FetchObserver* observer_;
    DownloadLimits limits_;
};
