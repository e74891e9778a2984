// A minute of spinning pushes the device library out of the CPU's caches and
// TLBs: the trigger entry's code, the PLT and GOT it calls on through, the
// static data it reads, and the C library code it calls (a lock, say) before
// it reaches the device. Fetching all that back when second 0 comes made the
// trigger late by half a microsecond to two, the more so the more the
// library does first, which we cannot know. So the loop calls this every
// poll: it prefetches the entry's first code lines and a few more lines of
// the library and of everything else loaded, round robin, without calling
// into the library before its time. A prefetch never faults, and the whole
// call costs the poll a few nanoseconds.
#ifndef TRIGGER_WARMTH_H
#define TRIGGER_WARMTH_H

void WarmTriggerPath();

#endif
