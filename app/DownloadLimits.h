#pragma once
// Bounds of one download, so that a server sending an endless body cannot
// fill the disk: the file system must keep a margin of free space, and the
// settings file may cap the archive's size.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

struct DownloadLimits {
    // Free space that must remain on the file system holding the archive.
    std::uint64_t minFreeBytes = 64ull << 20;
    // Largest archive accepted; nothing means no cap.
    std::optional<std::uint64_t> maxBytes;
};

// Where the settings file caps the size of a download, in whole MiB; a
// missing or empty key or 0 means no cap.
inline constexpr const char* kDownloadSection = "Update";
inline constexpr const char* kMaxDownloadKey = "MaxDownloadMB";

// Watches one download into `folder` against `limits`. Each check returns
// why the download must stop, or an empty text to go on.
class DownloadGuard {
public:
    DownloadGuard(DownloadLimits limits, std::filesystem::path folder) : limits_(limits), folder_(std::move(folder)) {}

    // Before the body, with the length the server announced (if any).
    std::string beforeBody(std::optional<std::uint64_t> announced) const;
    // After `written` bytes of the body have been stored. The free space is
    // asked for every few MiB only: on a network share that is a round trip.
    std::string afterBlock(std::uint64_t written);

private:
    std::string tooLarge(std::uint64_t size) const;
    std::string lowOnSpace(std::uint64_t stillToCome) const;

    DownloadLimits limits_;
    std::filesystem::path folder_;
    std::uint64_t nextSpaceCheck_ = 0; // bytes written when the free space is asked next
};
