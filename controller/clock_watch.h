// Says on standard error when the clock the triggers follow is not kept to
// UTC: every trigger line looks right whether or not the PC's clock is off,
// so the lines alone would hide a failure. Once at start, unless the clock is
// synchronised; then at each change of state that has held for a few minutes.
#ifndef CLOCK_WATCH_H
#define CLOCK_WATCH_H

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "platform.h"

enum class ClockState : uint8_t { Synchronised, NotSynchronised, Unknown };

// How many minute readings running a new state must show before it is
// reported. Whether Windows keeps its adjustment flag set between two
// corrections is not documented: a flag that drops now and then must not
// log a line every few minutes on a healthy PC.
constexpr int ClockChangeHeld = 3;

struct ClockWatch {
    ClockState reported = ClockState::Synchronised;  // as last said, or left unsaid at start
    ClockState pending = ClockState::Synchronised;   // a different state, read `held` times running
    int held = 0;
    char since[72] = "";  // the minute pending was first read, as a trigger line gives it
    char line[400] = "";
};

ClockState JudgeClock(const ClockSync &sync);

// What was read, in the words of the program's own lines ("reported maximum
// error 12 ms", "Windows Time running, clock not being adjusted"), for
// minute-trigger-check to say the same.
void DescribeClockSync(char *out, size_t size, const ClockSync &sync);

// The line (ending in "\n") that this reading calls for, or nullptr. At
// start minute is nullptr; after that it is the UTC minute just triggered.
const char *NextClockLine(ClockWatch *watch, const ClockSync &sync, const std::tm *minute);

// Reads the clock's state and writes NextClockLine's line, if any, to
// standard error. Allocates nothing.
void WatchClock(ClockWatch *watch, const std::tm *minute);

#endif
