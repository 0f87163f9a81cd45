#pragma once
// A cap on the rate a body is received at, for clients that pace their own
// reads (libcurl has the cap built in), and the speed floor that goes with it.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace platform {

// Tells a reader how long to wait after each block so that, counted from its
// start, the body does not arrive faster than the cap.
class ReceivePacer {
public:
    using Clock = std::chrono::steady_clock;

    explicit ReceivePacer(std::uint64_t bytesPerSecond) : rate_(bytesPerSecond) {}

    // After `bytes` more arrived: how long to wait before reading on.
    Clock::duration after(std::uint64_t bytes)
    {
        received_ += bytes;
        if (rate_ == 0)
            return Clock::duration::zero();
        const auto due = start_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                      static_cast<double>(received_) / static_cast<double>(rate_)));
        const auto now = Clock::now();
        return due > now ? due - now : Clock::duration::zero();
    }

    // The largest block to ask for at once: a tenth of a second's worth,
    // so that the pace is even, and at least 1 KiB.
    std::size_t blockSize(std::size_t largest) const
    {
        if (rate_ == 0)
            return largest;
        return static_cast<std::size_t>(std::clamp<std::uint64_t>(rate_ / 10, 1024, largest));
    }

private:
    std::uint64_t rate_;
    std::uint64_t received_ = 0;
    Clock::time_point start_ = Clock::now();
};

// The speed floor below which a download capped at `cap` bytes per second
// counts as trickling: at most half the cap, so that a download held back by
// its own cap is never given up for it. 0 for either: no cap, or no floor.
inline std::uint64_t speedFloorUnderCap(std::uint64_t floor, std::uint64_t cap)
{
    return cap == 0 ? floor : std::min(floor, cap / 2);
}

} // namespace platform
