// The clock of minute-trigger.exe: the C runtime's _ftime64, which moves once
// a system timer tick (1 ms once timeBeginPeriod(1) is granted, 15.6 ms
// otherwise), so a trigger comes up to a tick after the minute.
#include "platform.h"

#include <sys/timeb.h>

void ReadClock(ClockReading *tb)
{
    __timeb64 now;
    _ftime64(&now);
    tb->time = now.time;
    tb->millitm = now.millitm;
}
