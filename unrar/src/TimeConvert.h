#pragma once
// Conversions between the archive's time forms: MS-DOS local time, Unix
// seconds and Windows FILETIME (100 ns units since 1601, UTC).
#include <cstdint>

namespace unrar {

uint64_t unixToFiletime(int64_t seconds, uint32_t nanoseconds = 0);
uint32_t unixToDosLocal(int64_t seconds);
int64_t dosLocalToUnix(uint32_t dosTime);
// Splits a FILETIME into Unix seconds and nanoseconds.
void filetimeToUnix(uint64_t filetime, int64_t& seconds, long& nanoseconds);

} // namespace unrar
