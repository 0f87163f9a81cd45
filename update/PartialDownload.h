#pragma once
// An HTTP download of the release that stopped before its end (a broken
// connection, a kill, Ctrl-C, a full disk), kept in the update folder with
// what identified the release when it began, so that the next run fetches
// only the rest. A kept part is used only for the same location and while
// the server says the release is still the same; otherwise it is dropped.
#include "update/UpdateFolder.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

class PartialDownload {
public:
    explicit PartialDownload(UpdateFolder folder) : folder_(std::move(folder)) {}
    ~PartialDownload() { close(); }
    PartialDownload(const PartialDownload&) = delete;
    PartialDownload& operator=(const PartialDownload&) = delete;

    // What a kept part offers for `url`: its length and the validator for
    // If-Range. Nothing (and the part is removed) when there is no part, it
    // belongs to another location, has no validator to resume by, or is
    // older than kPartialDownloadMaxAge.
    struct Resumable {
        std::uint64_t size = 0;
        std::string ifRange;
    };
    std::optional<Resumable> resumableFor(const std::string& url);

    // Starts the part anew for the release the server now sends, remembering
    // its validators; throws std::system_error when the file cannot be made.
    void start(const std::string& url, const std::string& etag, const std::string& lastModified);
    // Goes on at the end of the kept part.
    void append();
    // Adds body bytes; a short write (full disk) throws std::system_error.
    void write(const char* data, std::size_t size);
    // Closes the part, keeping it for the next run.
    void close();
    // The whole release has arrived: moves it to `target`, replacing it, and
    // forgets the part. Throws std::system_error on failure.
    void finish(const std::string& target);
    // Drops the part and what was kept of it.
    void discard();

private:
    void open(const char* mode);

    UpdateFolder folder_;
    std::FILE* file_ = nullptr;
};

// A part older than this is not resumed: the release has most likely moved on.
inline constexpr std::chrono::hours kPartialDownloadMaxAge{72};

// Removes a kept part unless it is of `url` (empty: of no location) and
// younger than kPartialDownloadMaxAge.
void discardStalePartialDownload(const UpdateFolder& folder, const std::string& url);
