// 32-bit Windows, with the Microsoft C runtime (msvcrt.dll, as MinGW-w64
// links it) and winmm. The clock is in a file of its own (windows_clock.cpp,
// or windows_precise_clock.cpp for minute-trigger-precise.exe).
#include "platform.h"

#include <cstdio>
#include <ctime>

#include <windows.h>
#include <mmsystem.h>

namespace {

HANDLE ConsoleInput = INVALID_HANDLE_VALUE;
DWORD SavedInputMode = 0;

// Runs on a thread of its own when Ctrl-C, Ctrl-Break or closing the window
// ends the program: the console may be a Command Prompt's, which should get
// its QuickEdit back. FALSE lets Windows go on to end the process.
BOOL WINAPI RestoreConsole(DWORD)
{
    SetConsoleMode(ConsoleInput, SavedInputMode | ENABLE_EXTENDED_FLAGS);
    return FALSE;
}

}  // namespace

void PrepareConsole()
{
    // Unbuffered, because the Microsoft C runtime has no line buffering: its
    // setvbuf documents _IOLBF as "the same as _IOFBF - Full Buffering" on
    // Win32, so the POSIX choice would hold trigger lines back until a whole
    // buffer fills, and a process ended from outside (the only way it ends)
    // takes them with it. Unbuffered, each line is in the log once printf
    // returns, and the few small writes a line costs come after the trigger,
    // once a minute. The size argument is checked for every buffered mode
    // (2 to INT_MAX, else the invalid parameter handler runs, which by
    // default ends the process); _IONBF is documented to ignore it, but an
    // in-range size costs nothing and holds on any runtime version. Wine's
    // runtime buffers a redirected stdout too: built with _IOLBF or with no
    // setvbuf, the log stays empty while the program runs there, so the Wine
    // test that reads the log during the run catches a wrong mode.
    std::setvbuf(stdout, nullptr, _IONBF, BUFSIZ);

    // QuickEdit, on by default since Windows 10, holds every write to the
    // console while a mouse selection is in its window: one click there and
    // the next trigger line, and so the trigger after it, waits. Off for as
    // long as the program runs; a standard input that is no console (a log,
    // the Task Scheduler without a window) has no such mode.
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || input == nullptr || !GetConsoleMode(input, &mode)) return;
    ConsoleInput = input;
    SavedInputMode = mode;
    SetConsoleCtrlHandler(RestoreConsole, TRUE);
    SetConsoleMode(input, (mode | ENABLE_EXTENDED_FLAGS) & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE));
}

// The default timer resolution is about 15.6 ms; ask for 1 ms. The request is
// kept for the life of the process. The loop never sleeps, but the default
// clock (_ftime64) moves only once a tick, so a granted request brings the
// trigger from up to 15.6 ms after the minute to up to about 1 ms.
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
