// Linux and other POSIX systems.
#include "platform.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

// A standard descriptor left closed by whoever started us would be handed to
// the next file opened, most likely by the device library: the trigger lines
// would then be written into its log or its device. This runs from the
// program's pre-initialisation array, before any library's own start-up code
// (a library may open its device there), while descriptors 0 to 2 are still
// the ones we were started with.
static void OpenClosedStandardDescriptors(int, char **, char **)
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        // The lower ones are open by now, so open() hands out exactly fd.
        if (fcntl(fd, F_GETFD) < 0) open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
}
__attribute__((section(".preinit_array"),
               used)) static void (*const OpenDescriptorsFirst)(int, char **, char **) = OpenClosedStandardDescriptors;

void PrepareConsole()
{
    // A reader that goes away (`minute-trigger | head`) must cost only the
    // lines it would have read, not the triggers: by default the next write
    // would kill the process, and systemd counts that as a clean stop.
    std::signal(SIGPIPE, SIG_IGN);
    // Line buffering would do for the trigger line, but writes the banner's
    // empty line apart from the rest of it.
    std::setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
}

// Nothing to do: idle suspend is held off by the service's inhibitor
// (packaging/minute-trigger.service), and a terminal has no selection that
// holds output.
void KeepLoopUndisturbed() {}

// Nothing to ask for: the kernel's clock already reads finer than 1 ms.
void RequestTimerResolution() {}

void ReadClock(ClockReading *tb)
{
    // Through libc rather than a raw system call, so clock-faking tools that
    // interpose on libc can drive the program in tests.
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tb->time = now.tv_sec;
    tb->millitm = static_cast<uint16_t>(now.tv_nsec / 1000000);
}

bool BreakDownUtc(int64_t ts, std::tm *out)
{
    const time_t t = static_cast<time_t>(ts);
    return gmtime_r(&t, out) != nullptr;
}
