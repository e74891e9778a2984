// What the trigger loop needs from the operating system, and nothing more.
// Each platform supplies these in files of its own (Windows keeps its clock
// in a file apart, so that two programs can differ in the clock alone); the
// main function does not know which it was linked with.
#ifndef PLATFORM_H
#define PLATFORM_H

#include <cstdint>
#include <ctime>

struct ClockReading {
    int64_t time;      // seconds since 1970-01-01 00:00 UTC
    uint16_t millitm;  // 0..999, truncated: a reading never runs ahead of the clock
};

// Before the first call into the device library: makes the standard streams
// safe to write to for good. Trigger lines must reach a redirected log as they
// happen (the process is only ever ended from outside, and a buffered line
// would die with it), and nothing about where they go may stop or misdirect a
// trigger, as far as the platform lets it: a closed descriptor or a reader
// that went away on POSIX, a mouse selection in a Windows console.
void PrepareConsole();

// Asks for a 1 ms timer resolution; the result does not matter to the loop.
void RequestTimerResolution();

void ReadClock(ClockReading *tb);

// Fills *out with the UTC calendar fields of ts; false if it cannot.
bool BreakDownUtc(int64_t ts, std::tm *out);

#endif
