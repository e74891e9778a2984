// 32-bit Windows, with the Microsoft C runtime (msvcrt.dll, as MinGW-w64
// links it) and winmm.
#include "platform.h"

#include <cstdio>
#include <ctime>
#include <sys/timeb.h>

#include <windows.h>
#include <mmsystem.h>

void PrepareConsole()
{
    // Unbuffered, because the Microsoft C runtime has no line buffering: its
    // setvbuf documents _IOLBF as "the same as _IOFBF - Full Buffering" on
    // Win32, so the POSIX choice would hold trigger lines back until a whole
    // buffer fills, and a process ended from outside (the only way it ends)
    // takes them with it. Unbuffered, each line is in the log once printf
    // returns, and the few small writes a line costs come after the trigger,
    // once a minute. The size argument is checked for every buffered mode
    // (2 to INT_MAX, else the invalid parameter handler runs, which by
    // default ends the process); _IONBF is documented to ignore it, but an
    // in-range size costs nothing and holds on any runtime version. Wine's
    // runtime reproduces neither rule, so a Wine run cannot prove this.
    std::setvbuf(stdout, nullptr, _IONBF, BUFSIZ);
}

// The default timer resolution is about 15.6 ms; ask for 1 ms. The request is
// kept for the life of the process, and whether it was granted does not
// matter: the loop never sleeps, it only reads the clock.
void RequestTimerResolution()
{
    (void)timeBeginPeriod(1);
}

void ReadClock(ClockReading *tb)
{
    __timeb64 now;
    _ftime64(&now);
    tb->time = now.time;
    tb->millitm = now.millitm;
}

bool BreakDownUtc(int64_t ts, std::tm *out)
{
    const __time64_t t = ts;
    // The runtime's own per-thread buffer: copied out at once.
    const std::tm *utc = _gmtime64(&t);
    if (utc == nullptr) return false;
    *out = *utc;
    return true;
}
