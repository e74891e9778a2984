// Spins on the clock as the trigger loop does and reports the longest gap
// between two reads: time the core was taken away. A boundary that falls in
// such a gap is late by up to its length. Short benchmark runs rarely meet a
// gap that comes once a second (a real-time task's throttling), so this
// watches one loop for whole seconds.
//
//   spin_stalls SECONDS
#include <cstdio>
#include <cstdlib>
#include <ctime>

static long long Now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

int main(int argc, char **argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 0;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: spin_stalls SECONDS\n");
        return 2;
    }
    const long long start = Now(), end = start + static_cast<long long>(seconds * 1e9);
    long long previous = start, longest = 0, overMillisecond = 0;
    for (long long now = start; now < end; previous = now) {
        now = Now();
        if (now - previous > longest) longest = now - previous;
        if (now - previous > 1000000) ++overMillisecond;
    }
    std::printf("longest stall %.3f ms, %lld over 1 ms\n", longest / 1e6, overMillisecond);
    return 0;
}
