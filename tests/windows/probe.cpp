// Writes what the Windows tests cannot see of a process from outside: the
// input mode of the console on its standard input, as a program there left
// it, and its priority class, as the launcher started it.
#include <cstdio>

#include <windows.h>

int main()
{
    DWORD mode = 0;
    if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) std::printf("console none");
    else std::printf("console 0x%lx", static_cast<unsigned long>(mode));
    std::printf(" priority 0x%lx\n", static_cast<unsigned long>(GetPriorityClass(GetCurrentProcess())));
}
