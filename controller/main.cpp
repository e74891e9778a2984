// minute-trigger: starts the waveform generator's waveform at the start of
// every UTC minute. Start-up finds, opens and loads the device; the loop then
// spins on the clock and triggers at second 0.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "AWG10K.h"
#include "clock_watch.h"
#include "platform.h"
#include "trigger_warmth.h"
#include "waveform_path.h"

int main()
{
    int32_t Number = 0;
    uint8_t DeviceID = 0;
    char FilePath[48];
    static_assert(sizeof WaveformPath == sizeof FilePath, "the waveform path fills FilePath exactly");

    PrepareConsole();

    if (AWG10K_GetNumberOfDevices(&Number) != 0) {
        printf("AWG10K_GetNumberOfDevices() Error");
        return 1;
    }
    if (Number == 0) {
        printf("DeviceNumber=0");
        return 1;
    }
    if (AWG10K_Open(&DeviceID) != 0) {
        printf("AWG10K_Open() Error");
        return 1;
    }
    // The library gets a writable copy, filled only now: it may write into it.
    memcpy(FilePath, WaveformPath, sizeof FilePath);
    if (AWG10K_SetFile(DeviceID, FilePath) != 0) {
        AWG10K_Close(DeviceID);
        printf("AWG10K_SetFile() Error");
        return 1;
    }

    KeepLoopUndisturbed();
    // No poll produces 999, so a start during second 0 triggers at once.
    int32_t PreviousSecond = 999;
    RequestTimerResolution();
    printf("\n");
    printf("Triggering loop will start within a minute: \n\n");
    // Each line in one write, so a process ended from outside never leaves
    // half of one in a log.
    fflush(stdout);
    // Every trigger line looks right however far this PC's clock is from
    // UTC: say so at once when it is not kept to it, and after each trigger
    // when that changes. Never while the loop waits for a boundary.
    ClockWatch Clock;
    WatchClock(&Clock, nullptr);

    // Spins without pause: any sleep would make the trigger late by up to
    // the scheduler's wake-up granularity.
    for (;;) {
        WarmTriggerPath();
        ClockReading tb;
        ReadClock(&tb);
        const int64_t ts = tb.time;
        std::tm utc;
        if (!BreakDownUtc(ts, &utc)) {
            continue;  // no usable reading this poll; the next one will do
        }
        const int32_t Year = utc.tm_year + 1900;
        const int32_t Month = utc.tm_mon + 1;
        const int32_t Day = utc.tm_mday;

        // Milliseconds are truncated away, never rounded up: 12:34:59.999 is
        // still second 59, so the trigger never comes early.
        const double SecondsOfDay = utc.tm_hour * 3600.0 + utc.tm_min * 60.0 + utc.tm_sec + tb.millitm / 1000.0;
        const int32_t Whole = static_cast<int32_t>(SecondsOfDay);
        const int32_t Hour = Whole / 3600;
        const int32_t Minute = Whole % 3600 / 60;
        const int32_t Second = Whole % 60;

        if (Second == 0 && Second != PreviousSecond) {
            // Trigger first: the console must never delay the device.
            const int32_t Status = AWG10K_Trigger(DeviceID);
            printf("Trigger: %4d%02d%02d %02d:%02d:%02d  \n", Year, Month, Day, Hour, Minute, Second);
            fflush(stdout);
            // The line above stays one a minute whatever happened, since logs are
            // read that way; a failure goes beside it, never retried: a second
            // try would come late and could start the waveform off the minute.
            // Flushed as the trigger line is: a standard error that leads to a
            // file is fully buffered under the Microsoft C runtime.
            if (Status != 0) {
                fputs("AWG10K_Trigger() Error\n", stderr);
                fflush(stderr);
            }
            WatchClock(&Clock, &utc);
        }
        PreviousSecond = Second;
    }
}
