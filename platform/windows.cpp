// 32-bit Windows, with the Microsoft C runtime (msvcrt.dll, as MinGW-w64
// links it) and winmm. The clock is in a file of its own (windows_clock.cpp),
// as is what the program reads of its synchronisation.
#include "platform.h"

#include <cstdio>
#include <ctime>

#include <windows.h>
#include <mmsystem.h>

namespace {

HANDLE ConsoleInput = INVALID_HANDLE_VALUE;
DWORD SavedInputMode = 0;

// Runs on a thread of its own when Ctrl-C, Ctrl-Break, closing the window,
// logging off or shutting down ends the program: the console may be a
// Command Prompt's, which should get its QuickEdit back. FALSE lets Windows
// go on to end the process.
BOOL WINAPI RestoreConsole(DWORD)
{
    SetConsoleMode(ConsoleInput, SavedInputMode | ENABLE_EXTENDED_FLAGS);
    return FALSE;
}

}  // namespace

void PrepareConsole()
{
    // Fully buffered, with the loop flushing each whole line: one WriteFile a
    // line. The Microsoft C runtime has no line buffering (its setvbuf takes
    // _IOLBF as "the same as _IOFBF - Full Buffering" on Win32), and it lends
    // printf a buffer only for a stream whose mode was never set, so an
    // unbuffered stream goes out a character at a time: about 30 writes a
    // trigger line, of which a process ended from outside, its only end,
    // could leave half in the log. The size is checked for every buffered
    // mode (2 to INT_MAX, else the invalid parameter handler runs, which by
    // default ends the process). Wine's runtime buffers a redirected stdout
    // too: a missing flush leaves the log empty while the program runs there,
    // which the Wine test that reads the log during the run catches.
    std::setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
}

namespace {

// QuickEdit, on by default since Windows 10, holds every write to the
// console while a mouse selection is in its window: one click there and the
// next trigger line, and so the trigger after it, waits. Off for as long as
// the loop runs, and put back when Windows tells the program it is being
// ended; a standard input that is no console (a log, the Task Scheduler
// without a window) has no such mode.
void TurnQuickEditOff()
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || input == nullptr || !GetConsoleMode(input, &mode)) return;
    ConsoleInput = input;
    SavedInputMode = mode;
    SetConsoleCtrlHandler(RestoreConsole, TRUE);
    SetConsoleMode(input, (mode | ENABLE_EXTENDED_FLAGS) & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE));
}

// Windows 11 lets a process whose window is minimised or hidden lose its
// timer resolution (timeBeginPeriod's documentation) and run it at a lower
// quality of service: efficient cores, lower clocks. Both are opted out of.
// SetProcessInformation is looked up, not imported, so the program still
// starts on Windows 7, which lacks it; the power-throttling class came with
// Windows 10 1709 and the timer flag with Windows 11, and Windows 10 is
// reported to refuse the whole call when the timer flag is set, hence two
// calls. What either returns changes nothing the loop does.
void OptOutOfPowerThrottling()
{
    using Setter = decltype(&SetProcessInformation);
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) return;
    const Setter set =
        reinterpret_cast<Setter>(reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "SetProcessInformation")));
    if (set == nullptr) return;
    const ULONG rules[] = {PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION, PROCESS_POWER_THROTTLING_EXECUTION_SPEED};
    for (const ULONG rule : rules) {
        PROCESS_POWER_THROTTLING_STATE state = {};
        state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
        state.ControlMask = rule;
        state.StateMask = 0;  // the rule in ControlMask is not to be applied
        (void)set(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state);
    }
}

}  // namespace

void KeepLoopUndisturbed()
{
    // Idle sleep counts only a user's input as activity, not a busy
    // processor, so a PC left at a default power plan would go to sleep under
    // the loop. The system is kept awake, not the display, for as long as
    // this thread, the loop's, runs.
    (void)SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    OptOutOfPowerThrottling();
    TurnQuickEditOff();
    // Started by the launcher (start /B), a program ignores Ctrl-C unless it
    // asks for it back; without this, only Ctrl-Break would stop it there.
    SetConsoleCtrlHandler(nullptr, FALSE);
}

// The default timer resolution is about 15.6 ms; ask for 1 ms. The request is
// kept for the life of the process. The loop never sleeps, but on Windows 7
// its clock (_ftime64) moves only once a tick, so a granted request brings the
// trigger from up to 15.6 ms after the minute to up to about 1 ms there.
void RequestTimerResolution()
{
    (void)timeBeginPeriod(1);
}

bool BreakDownUtc(int64_t ts, std::tm *out)
{
    const __time64_t t = ts;
    // The runtime's own per-thread buffer: copied out at once.
    const std::tm *utc = _gmtime64(&t);
    if (utc == nullptr) return false;
    *out = *utc;
    return true;
}
