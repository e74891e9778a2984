// The warming's inner parts, for its own files only: what each platform
// finds, and the walk a poll at a time over it.
#ifndef TRIGGER_WARMTH_WALK_H
#define TRIGGER_WARMTH_WALK_H

#include <cstddef>
#include <cstdint>

// Address ranges a loader mapped (each from the 64-byte line holding its
// first byte), walked one line a step, round robin.
struct WarmRanges {
    static const int Most = 128;
    uintptr_t next;  // the next line to warm,
    uintptr_t stop;  // the end of the range it is in,
    int range;       // and the range the walk goes to after it
    int ranges;
    uintptr_t begin[Most];
    uintptr_t end[Most];
};

// What the poll keeps warm. Each walk has at least one range.
struct TriggerWarmth {
    const void *entry;  // the trigger entry's code
    // The program's own code the call passes through before the entry, if
    // any: a line of each is warmed every poll, as are the entry's first four.
    static const int MostOwn = 2;
    const void *own[MostOwn];
    int owns;
    WarmRanges library;  // the library that holds the entry
    WarmRanges rest;     // everything else loaded: where the library's calls go on to
};

// How a platform finds the entry, the ranges of the library that holds it
// and those of the rest, and any code of its own on the way to the entry.
void FindTriggerRanges(TriggerWarmth *warmth);

// The platform's find, with the entry itself standing in for a walk that
// found nothing.
TriggerWarmth FindTriggerWarmth();

inline void AddOwnCode(TriggerWarmth *warmth, const void *code)
{
    if (warmth->owns < TriggerWarmth::MostOwn) warmth->own[warmth->owns++] = code;
}

// The line holding a range's first byte lies on a page of the range, so it
// is mapped too. Ranges beyond the most are left cold.
inline void AddRange(WarmRanges *walk, const void *start, size_t size)
{
    if (size == 0 || walk->ranges == WarmRanges::Most) return;
    const uintptr_t at = reinterpret_cast<uintptr_t>(start);
    walk->begin[walk->ranges] = at & ~static_cast<uintptr_t>(63);
    walk->end[walk->ranges] = at + size;
    ++walk->ranges;
}

// Out of line, as it runs only once a range: the poll's own path stays short.
__attribute__((noinline)) inline void StartNextRange(WarmRanges &walk)
{
    walk.next = walk.begin[walk.range];
    walk.stop = walk.end[walk.range];
    walk.range = walk.range + 1 < walk.ranges ? walk.range + 1 : 0;
}

// Only lines within the ranges: a prefetch into a gap between two would not
// fault, but could cost the poll a page walk for nothing.
inline void WarmNextLine(WarmRanges &walk)
{
    if (walk.next >= walk.stop) StartNextRange(walk);
    __builtin_prefetch(reinterpret_cast<const void *>(walk.next));
    walk.next += 64;
}

// The library's own lines come round every millisecond or so, the rest (a
// few megabytes) every few. Measured here, a C library lock called after a
// loop had spun prefetching the lock's first lines took 30-70 ns after
// 1-5 ms, 0.16 us after 10 ms, 0.5 us after 20 ms and 1.1 us after 50 ms,
// as cold as with no prefetch: whatever may be needed must come round
// within a few milliseconds.
inline void Warm(TriggerWarmth &warmth)
{
    WarmNextLine(warmth.library);
    WarmNextLine(warmth.rest);
    WarmNextLine(warmth.rest);
    for (int i = 0; i < warmth.owns; ++i) __builtin_prefetch(warmth.own[i]);
    // Four lines cover an entry's prologue and its first calls.
    for (int line = 0; line < 4; ++line) __builtin_prefetch(static_cast<const char *>(warmth.entry) + 64 * line);
}

#endif
