// A minute of spinning pushes the device library out of the CPU's caches and
// TLBs: the trigger entry's code, the PLT and GOT it calls on through, the
// static data it reads. Fetching all that back when second 0 comes made the
// trigger late by half a microsecond and more, the more so the more the
// library does before it reaches the device, which we cannot know. Called
// on every poll, WarmTriggerEntry keeps the entry's first code lines cached
// and walks the whole loaded library, one line a poll, round robin, without
// calling into it before its time. Each platform finds the library in a file
// of its own.
#ifndef TRIGGER_WARMTH_H
#define TRIGGER_WARMTH_H

#include <cstddef>
#include <cstdint>

void WarmTriggerEntry();

// Four lines cover an entry's prologue and its first calls. A prefetch is a
// hint: it never faults, and costs the poll about a nanosecond.
inline void WarmCode(const void *code)
{
    for (int line = 0; line < 4; ++line) __builtin_prefetch(static_cast<const char *>(code) + 64 * line);
}

// The library that holds the trigger entry, as it lies in memory: the
// address ranges its loader mapped (each from the 64-byte line holding its
// first byte), and how far the round robin has come.
struct LoadedLibrary {
    static const int MostRanges = 32;
    const void *entry;  // the trigger entry's code
    uintptr_t next;     // the next line to warm,
    uintptr_t stop;     // the end of the range it is in,
    int range;          // and the range the round robin goes to after it
    int ranges;
    uintptr_t begin[MostRanges];
    uintptr_t end[MostRanges];
};

// Fills in the entry and at least one range (the entry's own lines, if it
// finds nothing better); called once, at the first poll. Each platform's own.
void FindTriggerLibrary(LoadedLibrary *library);

// The line holding a range's first byte lies on a page of the range, so it
// is mapped too. Ranges beyond the most are left cold.
inline void AddRange(LoadedLibrary *library, const void *start, size_t size)
{
    if (size == 0 || library->ranges == LoadedLibrary::MostRanges) return;
    const uintptr_t at = reinterpret_cast<uintptr_t>(start);
    library->begin[library->ranges] = at & ~static_cast<uintptr_t>(63);
    library->end[library->ranges] = at + size;
    ++library->ranges;
}

// Out of line, as it runs only once a range: the poll's own path stays short.
__attribute__((noinline)) inline void StartNextRange(LoadedLibrary &library)
{
    if (library.ranges == 0) FindTriggerLibrary(&library);
    library.next = library.begin[library.range];
    library.stop = library.end[library.range];
    library.range = library.range + 1 < library.ranges ? library.range + 1 : 0;
}

// One more line of the library, going round all its ranges. It prefetches
// only lines within them: a prefetch into a gap between two would not fault,
// but could cost the poll a page walk for nothing.
inline void WarmNextLine(LoadedLibrary &library)
{
    if (library.next >= library.stop) StartNextRange(library);
    __builtin_prefetch(reinterpret_cast<const void *>(library.next));
    library.next += 64;
}

#endif
