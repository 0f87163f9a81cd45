#pragma once
// What the update folder knows of the release installed last: where it came
// from, what it was, and what identified it at its source. Written when an
// install has committed; read to tell whether the published release is
// still the same one, and whether a new one is older than it.
#include "update/Fetch.h"
#include "update/UpdateFolder.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <thread>

struct InstalledRelease {
    std::string location; // as the parameter table gave it
    bool http = false;
    std::uint64_t size = 0;
    std::string sha256; // lower-case hexadecimal
    // HTTP: the validators of the response that delivered it.
    std::string etag;
    std::string lastModified;
    // Copy: the source file's size and modification time when it was copied.
    std::optional<std::uint64_t> sourceSize;
    std::optional<std::int64_t> sourceModified; // nanoseconds since the file clock's epoch
    // The signature file that confirmed it, when a key was configured, and
    // the signing time its trusted comment carried ("timestamp:N").
    std::string signature;
    std::optional<std::int64_t> signedAt;
};

// The record of a release fetched from `location` that its source identified
// as `identity`, confirmed by `signature` (empty without a key) signed at
// `signedAt`; its size and digest are measured once it was installed.
InstalledRelease releaseRecord(const std::string& location, bool http, const SourceIdentity& identity,
                               const std::string& signature, std::optional<std::int64_t> signedAt);

// The SHA-256 of an archive, taken on a thread of its own from the moment it
// is made, so that it costs the run no time of its own: the test, the
// unpacking and the flush to the disk leave a core free meanwhile.
class ArchiveDigest {
public:
    explicit ArchiveDigest(std::filesystem::path file);
    // Stops it early when nobody asked for the result.
    ~ArchiveDigest();
    ArchiveDigest(const ArchiveDigest&) = delete;
    ArchiveDigest& operator=(const ArchiveDigest&) = delete;

    const std::filesystem::path& file() const { return file_; }
    // Waits for it; throws std::system_error when the file could not be read.
    std::string result();

private:
    std::filesystem::path file_;
    std::atomic<bool> stop_{false};
    std::string digest_;
    std::exception_ptr error_;
    std::thread thread_;
};

// Fills in the size and digest of the archive `digest` reads (as it is held open).
void measureArchive(InstalledRelease& release, ArchiveDigest& digest);

// Nothing when there is no record or it cannot be read.
std::optional<InstalledRelease> readInstalledRelease(const UpdateFolder& folder);

// Replaces the record by write-then-rename and brings it to the disk.
// Throws std::system_error when it cannot be written.
void writeInstalledRelease(const UpdateFolder& folder, const InstalledRelease& release);

// SHA-256 of a file's bytes, lower-case hexadecimal; throws std::system_error
// when it cannot be read, or is stopped (operation_canceled) once `stop` is set.
std::string fileSha256(const std::filesystem::path& file, const std::atomic<bool>* stop = nullptr);

// The signing time a minisign trusted comment carries: "timestamp:N", the
// tool's default, anywhere in the comment.
std::optional<std::int64_t> signingTime(const std::string& trustedComment);
