#pragma once
// What the update folder knows of the release installed last: where it came
// from, what it was, and what identified it at its source. Written when an
// install has committed; read to tell whether the published release is
// still the same one, and whether a new one is older than it.
#include "update/Fetch.h"
#include "update/UpdateFolder.h"

#include <cstdint>
#include <optional>
#include <string>

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
// `signedAt`; its size and digest are measured once it was tested.
InstalledRelease releaseRecord(const std::string& location, bool http, const SourceIdentity& identity,
                               const std::string& signature, std::optional<std::int64_t> signedAt);
// Fills in the size and digest of the archive `file` (as it is held open).
void measureArchive(InstalledRelease& release, const std::filesystem::path& file);

// Nothing when there is no record or it cannot be read.
std::optional<InstalledRelease> readInstalledRelease(const UpdateFolder& folder);

// Replaces the record by write-then-rename and brings it to the disk.
// Throws std::system_error when it cannot be written.
void writeInstalledRelease(const UpdateFolder& folder, const InstalledRelease& release);

// SHA-256 of a file's bytes; throws std::system_error when it cannot be read.
std::string fileSha256(const std::filesystem::path& file);

// The signing time a minisign trusted comment carries: "timestamp:N", the
// tool's default, anywhere in the comment.
std::optional<std::int64_t> signingTime(const std::string& trustedComment);
