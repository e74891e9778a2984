// Linux and other POSIX systems.
#include "platform.h"

#include <cstdio>

void PrepareConsole()
{
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

// Nothing to ask for: the kernel's clock already reads finer than 1 ms.
void RequestTimerResolution() {}

void ReadClock(ClockReading *tb)
{
    // Through libc rather than a raw system call, so clock-faking tools that
    // interpose on libc can drive the program in tests.
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tb->time = now.tv_sec;
    tb->millitm = static_cast<uint16_t>(now.tv_nsec / 1000000);
}

bool BreakDownUtc(int64_t ts, std::tm *out)
{
    const time_t t = static_cast<time_t>(ts);
    return gmtime_r(&t, out) != nullptr;
}
