// Writes what the Windows tests cannot see of a process from outside: the
// input mode of the console it shares (its standard input's), "none" where
// that is no console, and its own priority class, both in hex. Run in the
// console a program ran in, it shows what the program left behind; started
// by the launcher in the program's place, how the launcher starts programs.
#include <cstdio>

#include <windows.h>

int main()
{
    DWORD mode = 0;
    const unsigned long priority = GetPriorityClass(GetCurrentProcess());
    if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) {
        std::printf("console 0x%lx priority 0x%lx\n", static_cast<unsigned long>(mode), priority);
    } else {
        std::printf("console none priority 0x%lx\n", priority);
    }
    return 0;
}
