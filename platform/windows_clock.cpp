// The clock the loop reads on Windows: the precise system time where Windows
// has it (8 and later), which reads to about a microsecond between timer
// ticks, so the trigger comes within microseconds of this PC's clock; else
// (Windows 7) the C runtime's _ftime64, which moves once a timer tick, so a
// trigger comes up to a tick after the minute: 1 ms once timeBeginPeriod(1)
// is granted, 15.6 ms otherwise.
#include "platform.h"

#include <sys/timeb.h>
#include <windows.h>

// The entry looked up. A test build names one no Windows exports, and so runs
// on _ftime64 as Windows 7 does: no Windows, nor Wine, can be made to hide a
// kernel32 entry from a program, and a switch the shipped program read at run
// time could be set by accident.
#ifndef PRECISE_CLOCK_ENTRY
#define PRECISE_CLOCK_ENTRY "GetSystemTimePreciseAsFileTime"
#endif

namespace {

using PreciseReader = void(WINAPI *)(FILETIME *);

// Looked up, not imported, so that the program still loads on Windows 7.
// Chosen once, before main runs: a poll pays one well-predicted branch.
PreciseReader LookUpPrecise()
{
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return kernel32 == nullptr ? nullptr
                               : reinterpret_cast<PreciseReader>(
                                     reinterpret_cast<void (*)()>(GetProcAddress(kernel32, PRECISE_CLOCK_ENTRY)));
}
const PreciseReader Precise = LookUpPrecise();

}  // namespace

void ReadClock(ClockReading *tb)
{
    if (Precise != nullptr) {
        FILETIME now;
        Precise(&now);
        // 100 ns units since 1601-01-01; whole milliseconds, truncated as
        // _ftime64's are, so a reading never runs ahead of the clock.
        const uint64_t since1601 = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        const uint64_t since1970 = since1601 - 116444736000000000ULL;
        tb->time = static_cast<int64_t>(since1970 / 10000000);
        tb->millitm = static_cast<uint16_t>(since1970 % 10000000 / 10000);
        return;
    }
    __timeb64 now;
    _ftime64(&now);
    tb->time = now.time;
    tb->millitm = now.millitm;
}
