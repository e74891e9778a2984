// The clock of minute-trigger-precise.exe: Windows' precise system time
// (Windows 8 and later), which reads to about a microsecond between timer
// ticks, so the trigger comes within microseconds of this PC's clock rather
// than up to a tick after it.
#include "platform.h"

#include <windows.h>

void ReadClock(ClockReading *tb)
{
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    // 100 ns units since 1601-01-01; whole milliseconds, truncated as
    // _ftime64's are, so a reading never runs ahead of the clock.
    const uint64_t since1601 = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const uint64_t since1970 = since1601 - 116444736000000000ULL;
    tb->time = static_cast<int64_t>(since1970 / 10000000);
    tb->millitm = static_cast<uint16_t>(since1970 % 10000000 / 10000);
}
