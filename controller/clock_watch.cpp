#include "clock_watch.h"

#include "layout.h"

#include <cstdio>
#include <cstring>

namespace {

// The kernel marks its clock unsynchronised when the maximum error it keeps
// reaches 16 s; it adds 500 us a second to it between a daemon's updates.
// STA_UNSYNC and TIME_ERROR alone would call a clock that chronyd keeps
// without rtcsync unsynchronised, though its maximum error is a true bound.
constexpr long KernelLimitUs = 16000000;

// Where the Windows package's INSTALL.txt, shipped beside the programs,
// says what to do.
const char WindowsAdvice[] = "; see \"Keeping the clock on UTC\" in " LAYOUT_INSTALL_TXT;

// A bound, rounded up, in the unit that keeps it short.
void FormatBound(char *out, size_t size, long us)
{
    if (us < 1000)
        snprintf(out, size, "%ld us", us);
    else if (us < 10000000)
        snprintf(out, size, "%ld ms", (us + 999) / 1000);
    else
        snprintf(out, size, "%ld s", (us + 999999) / 1000000);
}

// What was read, in words: the kernel's figure, or what Windows said.
void FormatDetail(char *out, size_t size, const ClockSync &sync, ClockState state)
{
    char bound[32];
    if (sync.keeper == ClockSync::Kernel) {
        FormatBound(bound, sizeof bound, sync.maxerror_us);
        if (state == ClockState::Unknown)
            snprintf(out, size, "ntp_adjtime: %s", strerror(sync.error));
        else if (state == ClockState::Synchronised)
            snprintf(out, size, "reported maximum error %s", bound);
        else
            snprintf(out, size, "kernel: maximum error %s", bound);
        return;
    }
    char service[64] = "";
    switch (sync.service) {
        case ClockSync::Running: snprintf(service, sizeof service, "Windows Time running"); break;
        case ClockSync::NotRunning: snprintf(service, sizeof service, "Windows Time not running"); break;
        case ClockSync::Missing: snprintf(service, sizeof service, "no Windows Time service"); break;
        case ClockSync::ServiceUnreadable:
            snprintf(service, sizeof service, "Windows Time unreadable, error %d", sync.error);
            break;
    }
    const char *adjusting = sync.adjusting == ClockSync::Adjusted      ? "clock being adjusted"
                            : sync.adjusting == ClockSync::NotAdjusted ? "clock not being adjusted"
                                                                       : "clock adjustment unreadable";
    snprintf(out, size, "%s, %s", service, adjusting);
}

// was: the state reported before, for a change; nullptr at start.
const char *Describe(ClockWatch *watch, const ClockSync &sync, ClockState state, const ClockState *was)
{
    char when[96] = "Clock";
    if (was != nullptr) snprintf(when, sizeof when, "Clock at %s", watch->since);
    char detail[128];
    FormatDetail(detail, sizeof detail, sync, state);
    const char *advice = sync.keeper == ClockSync::Windows ? WindowsAdvice : "";
    switch (state) {
        case ClockState::Synchronised:
            snprintf(watch->line, sizeof watch->line, "%s: synchronised%s (%s)\n", when,
                     was != nullptr && *was == ClockState::NotSynchronised ? " again" : "", detail);
            break;
        case ClockState::NotSynchronised:
            snprintf(watch->line, sizeof watch->line,
                     "%s: not synchronised (%s); triggers follow this PC's clock, which may be off UTC by seconds%s\n",
                     when, detail, advice);
            break;
        case ClockState::Unknown:
            snprintf(watch->line, sizeof watch->line,
                     "%s: synchronisation unknown (%s); triggers follow this PC's clock, unchecked against UTC%s\n",
                     when, detail, advice);
            break;
    }
    return watch->line;
}

}  // namespace

ClockState JudgeClock(const ClockSync &sync)
{
    if (sync.keeper == ClockSync::Kernel) {
        if (sync.error != 0) return ClockState::Unknown;
        return sync.maxerror_us < KernelLimitUs ? ClockState::Synchronised : ClockState::NotSynchronised;
    }
    // Adjusted: some time service (Windows Time or another) disciplines the
    // clock now. Not adjusted, with Windows Time there to ask: nothing keeps
    // the clock but Windows Time's steps, a week apart by default on a PC in
    // no domain. Where there is no Windows Time at all (Wine), or it cannot
    // be read, nothing can be said.
    if (sync.adjusting == ClockSync::Adjusted) return ClockState::Synchronised;
    if (sync.adjusting == ClockSync::NotAdjusted &&
        (sync.service == ClockSync::Running || sync.service == ClockSync::NotRunning))
        return ClockState::NotSynchronised;
    return ClockState::Unknown;
}

void DescribeClockSync(char *out, size_t size, const ClockSync &sync)
{
    FormatDetail(out, size, sync, JudgeClock(sync));
}

const char *NextClockLine(ClockWatch *watch, const ClockSync &sync, const std::tm *minute)
{
    const ClockState now = JudgeClock(sync);
    if (minute == nullptr) {
        watch->reported = watch->pending = now;
        watch->held = 0;
        return now == ClockState::Synchronised ? nullptr : Describe(watch, sync, now, nullptr);
    }
    if (now == watch->reported) {
        watch->held = 0;
        return nullptr;
    }
    if (watch->held == 0 || now != watch->pending) {
        watch->pending = now;
        watch->held = 0;
        snprintf(watch->since, sizeof watch->since, "%4d%02d%02d %02d:%02d:%02d", minute->tm_year + 1900,
                 minute->tm_mon + 1, minute->tm_mday, minute->tm_hour, minute->tm_min, minute->tm_sec);
    }
    if (++watch->held < ClockChangeHeld) return nullptr;
    const ClockState was = watch->reported;
    watch->reported = now;
    watch->held = 0;
    return Describe(watch, sync, now, &was);
}

void WatchClock(ClockWatch *watch, const std::tm *minute)
{
    ClockSync sync;
    ReadClockSync(&sync);
    // The whole line at once, then flushed: the Microsoft C runtime buffers
    // a standard error that leads to a file (the launcher's log) as fully
    // as standard output, and a kill, the program's only end, would lose it.
    if (const char *line = NextClockLine(watch, sync, minute)) {
        fputs(line, stderr);
        fflush(stderr);
    }
}
