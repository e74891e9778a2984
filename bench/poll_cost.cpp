// What one pass of the trigger loop costs, beside a bare clock read: the
// floor under the trigger's lateness, since a boundary can fall just after a
// read and is only seen by the next one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>

#include "platform.h"
#include "trigger_warmth.h"

static void ClockRead(benchmark::State &state)
{
    for (auto _ : state) {
        timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        benchmark::DoNotOptimize(now);
    }
}
BENCHMARK(ClockRead);

static void BreakDown(benchmark::State &state)
{
    int64_t ts = 1798761600;
    for (auto _ : state) {
        std::tm utc;
        benchmark::DoNotOptimize(BreakDownUtc(ts++, &utc));
        benchmark::DoNotOptimize(utc);
    }
}
BENCHMARK(BreakDown);

static void WarmEntry(benchmark::State &state)
{
    for (auto _ : state) WarmTriggerPath();
}
BENCHMARK(WarmEntry);

// The loop body of controller/main.cpp up to the trigger decision.
static void Poll(benchmark::State &state)
{
    for (auto _ : state) {
        WarmTriggerPath();
        ClockReading tb;
        ReadClock(&tb);
        std::tm utc;
        if (!BreakDownUtc(tb.time, &utc)) continue;
        const double seconds = utc.tm_hour * 3600.0 + utc.tm_min * 60.0 + utc.tm_sec + tb.millitm / 1000.0;
        benchmark::DoNotOptimize(static_cast<int32_t>(seconds) % 60);
    }
}
BENCHMARK(Poll);

BENCHMARK_MAIN();
