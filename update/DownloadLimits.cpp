#include "DownloadLimits.h"

#include "platform/DiskSpace.h"
#include "platform/FileOps.h"

namespace {

std::string mebibytes(std::uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

// "90 s", or "1.5 s" for a limit set in a fraction of a minute.
std::string seconds(std::chrono::milliseconds time)
{
    std::string text = std::to_string(time.count() / 1000);
    if (const auto rest = time.count() % 1000) {
        std::string fraction = std::to_string(1000 + rest).substr(1);
        fraction.erase(fraction.find_last_not_of('0') + 1);
        text += "." + fraction;
    }
    return text + " s";
}

} // namespace

std::string DownloadGuard::tooLarge(std::uint64_t size) const
{
    if (!limits_.maxBytes || size <= *limits_.maxBytes)
        return {};
    return "larger than " + mebibytes(*limits_.maxBytes) + ", the limit set by [" + kDownloadSection + "] " +
           kMaxDownloadKey + " of the settings file";
}

std::string DownloadGuard::lowOnSpace(std::uint64_t stillToCome) const
{
    const std::optional<std::uint64_t> available = platform::freeBytes(platform::fromPath(folder_));
    // A file system that cannot tell its free space is not held up by it.
    if (!available)
        return {};
    if (*available >= stillToCome && *available - stillToCome >= limits_.minFreeBytes)
        return {};
    return "only " + mebibytes(*available) + " free in " + folder_.string() + ", and " +
           mebibytes(limits_.minFreeBytes) + " must stay free";
}

std::string DownloadGuard::beforeBody(std::optional<std::uint64_t> announced, std::uint64_t held) const
{
    if (!announced)
        return lowOnSpace(0);
    std::string reason = tooLarge(*announced);
    return reason.empty() ? lowOnSpace(*announced > held ? *announced - held : 0) : reason;
}

std::string DownloadGuard::afterBlock(std::uint64_t written)
{
    std::string reason = tooLarge(written);
    if (!reason.empty() || written < nextSpaceCheck_)
        return reason;
    // Between two checks the download takes at most 4 MiB more, well within the margin.
    nextSpaceCheck_ = written + (4u << 20);
    return lowOnSpace(0);
}

std::string DownloadGuard::onTick(std::uint64_t received)
{
    using std::chrono::duration_cast;
    const Clock::time_point now = Clock::now();
    if (now - started_ >= limits_.overallTimeout)
        return "took longer than " + seconds(limits_.overallTimeout) + ", the limit set by [" + kDownloadSection +
               "] " + kDownloadTimeoutKey + " of the settings file";
    const auto window = now - windowStart_;
    if (limits_.lowSpeedBytesPerSecond == 0 || window < limits_.lowSpeedWindow)
        return {};
    const std::uint64_t elapsedMs =
        static_cast<std::uint64_t>(duration_cast<std::chrono::milliseconds>(window).count());
    const std::uint64_t bytes = received - windowStartBytes_;
    if (bytes * 1000 < limits_.lowSpeedBytesPerSecond * elapsedMs)
        return "slower than " + std::to_string(limits_.lowSpeedBytesPerSecond) + " bytes/s for " +
               std::to_string(elapsedMs / 1000) + " s (" + std::to_string(bytes) +
               " bytes received), the floor set by [" + kDownloadSection + "] " + kLowSpeedKey + " and " +
               kLowSpeedWindowKey + " of the settings file";
    windowStart_ = now;
    windowStartBytes_ = received;
    return {};
}
