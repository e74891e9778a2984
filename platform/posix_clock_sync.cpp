// The clock's discipline as the kernel keeps it (Linux; the BSDs share the
// interface), read through the C library, never by a raw system call, so a
// test can stand in for the kernel's answer as libfaketime stands in for the
// clock.
#include "platform.h"

#include <cerrno>
#include <sys/timex.h>

void ReadClockSync(ClockSync *sync)
{
    timex tx{};  // modes 0: read, change nothing; no privilege needed
    *sync = ClockSync{};
    sync->keeper = ClockSync::Kernel;
    sync->error = ntp_adjtime(&tx) < 0 ? errno : 0;
    sync->maxerror_us = tx.maxerror;
}
