// Writes what the Windows tests cannot see of a process from outside: the
// input mode of the console on its standard input, as a program there left
// it, its priority class and PATH, as the launcher started it, and the UTC
// time it reads, which shows whether the faked clock reaches programs under Wine.
// "probe hold FILE" instead holds FILE open, sharing nothing, as any user may
// hold a file they can read, until it is ended.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <windows.h>

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "hold") == 0) {
        if (CreateFileA(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE) return 1;
        std::printf("held\n");
        std::fflush(stdout);
        Sleep(INFINITE);
    }
    DWORD mode = 0;
    if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode))
        std::printf("console none");
    else
        std::printf("console 0x%lx", static_cast<unsigned long>(mode));
    std::printf(" priority 0x%lx", static_cast<unsigned long>(GetPriorityClass(GetCurrentProcess())));
    std::printf(" path %s", std::getenv("PATH") ? std::getenv("PATH") : "(none)");
    SYSTEMTIME utc;
    GetSystemTime(&utc);
    std::printf(" utc %04u-%02u-%02u %02u:%02u:%02u\n", utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute,
                utc.wSecond);
}
