// What the trigger loop needs from the operating system, and nothing more.
// Each platform supplies these in files of its own; the main function does
// not know which it was linked with.
#ifndef PLATFORM_H
#define PLATFORM_H

#include <cstdint>
#include <ctime>

struct ClockReading {
    int64_t time;      // seconds since 1970-01-01 00:00 UTC
    uint16_t millitm;  // 0..999, truncated: a reading never runs ahead of the clock
};

// Before the first call into the device library: makes the standard streams
// safe to write to for good. Standard output is fully buffered, and the loop
// flushes it once a line is whole, so that each line leaves in one write: the
// process is only ever ended from outside, and a line written in pieces could
// be cut there. Nothing about where the lines go may stop or misdirect a
// trigger, as far as the platform lets it: a closed descriptor or a reader
// that went away on POSIX.
void PrepareConsole();

// Once start-up has succeeded, and only then, since a failed start must leave
// the machine as it found it: keeps the platform's own doings (idle sleep,
// power throttling, a mouse selection in a Windows console) from stopping or
// slowing a loop that is to run for good.
void KeepLoopUndisturbed();

// Asks for a 1 ms timer resolution; the result does not matter to the loop.
void RequestTimerResolution();

void ReadClock(ClockReading *tb);

// Fills *out with the UTC calendar fields of ts; false if it cannot.
bool BreakDownUtc(int64_t ts, std::tm *out);

// What this platform can read of whether something keeps its clock to UTC:
// the trigger is only as close to UTC as the clock it follows. Facts alone;
// what they mean and what to say of them is decided in
// controller/clock_watch.cpp, where the decision can be tested anywhere.
struct ClockSync {
    enum Keeper : uint8_t { Kernel, Windows } keeper;
    // Kernel: 0, or the errno of a refused read; the maximum error it
    // reports, in microseconds.
    // Windows: 0, or GetLastError() of a Windows Time state that could not be read.
    int error;
    long maxerror_us;
    // Windows: whether a time service is adjusting the clock's rate now.
    enum Adjusting : uint8_t { Adjusted, NotAdjusted, AdjustmentUnreadable } adjusting;
    // Windows: the state of the Windows Time service.
    enum Service : uint8_t { Running, NotRunning, Missing, ServiceUnreadable } service;
};

// Cheap (about a microsecond on Linux), but not free: called only after a
// trigger, never while the loop waits for one.
void ReadClockSync(ClockSync *sync);

#endif
