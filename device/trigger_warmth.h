// A minute of spinning pushes the trigger entry's code out of the CPU's
// caches, and fetching it back when second 0 comes made the trigger about
// half a microsecond later. Called on every poll, WarmTriggerEntry keeps the
// entry's first code lines cached without calling into the library before
// its time. Each platform finds the entry's code in a file of its own.
#ifndef TRIGGER_WARMTH_H
#define TRIGGER_WARMTH_H

void WarmTriggerEntry();

// Four lines cover an entry's prologue and its first calls. A prefetch is a
// hint: it never faults, and costs the poll about a nanosecond.
inline void WarmCode(const void *code)
{
    for (int line = 0; line < 4; ++line) __builtin_prefetch(static_cast<const char *>(code) + 64 * line);
}

#endif
