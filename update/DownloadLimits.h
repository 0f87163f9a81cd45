#pragma once
// Bounds of one download, so that a server sending an endless body cannot
// fill the disk: the file system must keep a margin of free space, and the
// settings file may cap the archive's size.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

struct DownloadLimits {
    // Free space that must remain on the file system holding the archive.
    std::uint64_t minFreeBytes = 64ull << 20;
    // Largest archive accepted; nothing means no cap.
    std::optional<std::uint64_t> maxBytes;
    // A download whose average speed stays below this floor over a whole
    // window is given up: a server that trickles must not hold the updater
    // and its lock forever. 0 turns the floor off.
    std::uint64_t lowSpeedBytesPerSecond = 1024;
    std::chrono::milliseconds lowSpeedWindow = std::chrono::seconds(60);
    // No download, however fast, takes longer than this.
    std::chrono::milliseconds overallTimeout = std::chrono::hours(10);
    // Every request of a run receives at most this many bytes per second,
    // so that a fleet's logons do not fill a branch's line; 0: no cap.
    std::uint64_t maxBytesPerSecond = 0;
};

// Where the settings file caps the size of a download, in whole MiB; a
// missing or empty key or 0 means no cap.
inline constexpr const char* kDownloadSection = "Update";
inline constexpr const char* kMaxDownloadKey = "MaxDownloadMB";
// Minutes a download may take at most (a decimal number).
inline constexpr const char* kDownloadTimeoutKey = "DownloadTimeoutMin";
// The speed floor in KiB/s and the window in seconds over which it holds.
inline constexpr const char* kLowSpeedKey = "LowSpeedKB";
inline constexpr const char* kLowSpeedWindowKey = "LowSpeedSec";
// The rate cap in KiB/s; missing, empty or 0: none.
inline constexpr const char* kMaxRateKey = "MaxRateKB";

// Watches one download into `folder` against `limits`. Each check returns
// why the download must stop, or an empty text to go on.
class DownloadGuard {
public:
    DownloadGuard(DownloadLimits limits, std::filesystem::path folder) : limits_(limits), folder_(std::move(folder)) {}

    // Before the body, with the archive's whole length when the server
    // announced it, and the bytes of it already held (a resumed download).
    std::string beforeBody(std::optional<std::uint64_t> announced, std::uint64_t held = 0) const;
    // After `written` bytes of the body have been stored. The free space is
    // asked for every few MiB only: on a network share that is a round trip.
    std::string afterBlock(std::uint64_t written);
    // About once a second, data or not, with the bytes this download
    // received so far: whether it is too slow or has taken too long.
    std::string onTick(std::uint64_t received);

private:
    std::string tooLarge(std::uint64_t size) const;
    std::string lowOnSpace(std::uint64_t stillToCome) const;

    using Clock = std::chrono::steady_clock;

    DownloadLimits limits_;
    std::filesystem::path folder_;
    std::uint64_t nextSpaceCheck_ = 0; // bytes written when the free space is asked next
    Clock::time_point started_ = Clock::now();
    Clock::time_point windowStart_ = started_;
    std::uint64_t windowStartBytes_ = 0;
};
