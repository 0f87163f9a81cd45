#pragma once
// Brings the release archive to a local file: a copy from a path or an HTTP
// download. Knows nothing of archives; it moves bytes and says whether that
// worked, and what identified the release at its source.
#include "platform/HttpClient.h"
#include "platform/Messages.h"
#include "update/DownloadLimits.h"
#include "update/FetchObserver.h"
#include "update/UpdateFolder.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// What identified a fetched release at its source.
struct SourceIdentity {
    std::string etag; // HTTP validators of the response
    std::string lastModified;
    std::optional<std::uint64_t> size;    // copy: the source file's size
    std::optional<std::int64_t> modified; // and its modification time
};

// What identifies a file that is copied: its size and modification time;
// nothing of either when it cannot be read.
SourceIdentity copiedFileIdentity(const std::filesystem::path& file);

// How one download goes about it.
struct DownloadOptions {
    // Where a download that stops is kept to be resumed, and resumed from.
    std::optional<UpdateFolder> resumeIn;
    // Validators of the copy installed: the server may answer that the
    // release is still the same (304), and nothing is fetched.
    std::string ifNoneMatch;
    std::string ifModifiedSince;
    // Stop once the answer's head is known: whether there is something new.
    bool headOnly = false;
    // The origin's answer, not a cache's copy: see HttpRequest::pastCaches.
    bool pastCaches = false;
};

enum class FetchResult { Fetched, NotModified, Failed };

class TFetch {
public:
    TFetch(platform::Messages& messages, platform::HttpClient& http, FetchObserver* observer = nullptr)
        : messages_(messages), http_(http), observer_(observer)
    {}

    // Bounds every later download and request (the rate cap); a download that
    // would pass them stops and fails.
    void setLimits(const DownloadLimits& limits) { limits_ = limits; }
    const DownloadLimits& limits() const { return limits_; }
    // The proxy of later downloads; empty: the environment's.
    void setProxy(const std::string& proxy) { proxy_ = proxy; }

    // Copies the file `Src` to `Dest`, replacing `Dest`. A missing source (or
    // a folder) is reported in a message box; a failed copy only returns false.
    bool GetNetFile(const std::string& Src, const std::string& Dest);

    // Downloads `fileURL` into `FileName`. True when the final status was
    // "200" or "302" and the whole body is in the file. Any other status, no
    // answer, or a body that broke off returns false and leaves `FileName` as
    // it was. Blanks and non-ASCII letters of `fileURL` are percent-encoded;
    // a location that still is no URL is reported in a message box. Failing
    // to write the local file throws std::system_error.
    bool GetInetFile(const std::string& fileURL, const std::string& FileName, bool pastCaches = false);

    // The whole of a small file (a signature) at `location`, downloaded when
    // `http` is set, else read, kept in memory; nothing, with the reason
    // given to the observer, when it cannot be had or is larger than
    // `limit`. Writes no file.
    std::optional<std::string> readSmallFile(const std::string& location, bool http, std::size_t limit);

    // Asks whether the release at `source` can be had, without fetching it:
    // the head of the HTTP answer, or what lies at the copy's path. A
    // failure is reported as the fetch would report it.
    bool askSource(const std::string& source, bool http);

    // GetInetFile with conditions: a 304 to the installed copy's validators
    // is NotModified, a kept part is resumed (206) or started anew (200).
    // With headOnly, Fetched means the server has a release to send.
    FetchResult download(const std::string& fileURL, const std::string& FileName, const DownloadOptions& options);

    // The URL a location is requested as: blanks and non-ASCII letters escaped.
    static std::string requestUrl(const std::string& fileURL);
    // A request for `location` as every download of the run makes it: user
    // agent, proxy and rate cap.
    platform::HttpRequest httpRequest(const std::string& location) const
    {
        return requestFor(requestUrl(location), false);
    }

    // What identified the release fetched last at its source.
    const SourceIdentity& identity() const { return identity_; }

private:
    bool progress(std::uint64_t done, std::optional<std::uint64_t> total);
    void failed(const std::string& reason);
    // One request; nothing when it must be made again without the kept part.
    // A copy's source that is no regular file is reported; false then.
    bool copyableSource(const std::string& Src);
    platform::HttpRequest requestFor(const std::string& url, bool pastCaches) const;
    std::optional<FetchResult> request(const std::string& fileURL, const std::string& url, const std::string& FileName,
                                       const DownloadOptions& options, bool resume);

    platform::Messages& messages_;
    platform::HttpClient& http_;
    FetchObserver* observer_;
    DownloadLimits limits_;
    std::string proxy_;
    SourceIdentity identity_;
};
