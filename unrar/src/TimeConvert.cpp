#include "unrar/src/TimeConvert.h"

#include <ctime>

namespace unrar {

namespace {
constexpr int64_t kFiletimeUnixEpoch = 11644473600LL; // seconds from 1601 to 1970
}

uint64_t unixToFiletime(int64_t seconds, uint32_t nanoseconds)
{
    if (seconds < -kFiletimeUnixEpoch)
        return 0;
    return static_cast<uint64_t>(seconds + kFiletimeUnixEpoch) * 10000000ULL + nanoseconds / 100;
}

uint32_t unixToDosLocal(int64_t seconds)
{
    time_t t = static_cast<time_t>(seconds);
    struct tm tm {};
#ifdef _WIN32
    if (localtime_s(&tm, &t) != 0)
        return 0;
#else
    if (!localtime_r(&t, &tm))
        return 0;
#endif
    if (tm.tm_year < 80)
        return (1 << 21) | (1 << 16); // before 1980: the DOS epoch
    if (tm.tm_year > 80 + 127)
        tm.tm_year = 80 + 127;
    return static_cast<uint32_t>(tm.tm_year - 80) << 25 | static_cast<uint32_t>(tm.tm_mon + 1) << 21 |
           static_cast<uint32_t>(tm.tm_mday) << 16 | static_cast<uint32_t>(tm.tm_hour) << 11 |
           static_cast<uint32_t>(tm.tm_min) << 5 | static_cast<uint32_t>(tm.tm_sec / 2);
}

int64_t dosLocalToUnix(uint32_t dos)
{
    struct tm tm {};
    tm.tm_year = static_cast<int>((dos >> 25) & 0x7F) + 80;
    tm.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
    tm.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
    tm.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
    tm.tm_min = static_cast<int>((dos >> 5) & 0x3F);
    tm.tm_sec = static_cast<int>(dos & 0x1F) * 2;
    tm.tm_isdst = -1;
    time_t t = mktime(&tm);
    return t == static_cast<time_t>(-1) ? 0 : static_cast<int64_t>(t);
}

void filetimeToUnix(uint64_t filetime, int64_t& seconds, long& nanoseconds)
{
    seconds = static_cast<int64_t>(filetime / 10000000ULL) - kFiletimeUnixEpoch;
    nanoseconds = static_cast<long>(filetime % 10000000ULL) * 100;
}

} // namespace unrar
