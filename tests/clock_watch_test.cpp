// What the program says of the clock's synchronisation, from made-up readings:
// Windows' (the end-to-end tests run the kernel's), and the documented lines.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "clock_watch.h"

namespace {

using S = ClockSync;
S Kernel(long maxerror_us, int error = 0)
{
    return {S::Kernel, error, maxerror_us, {}, {}};
}
S Windows(S::Adjusting adjusting, S::Service service)
{
    return {S::Windows, 0, 0, adjusting, service};
}
std::string Line(const char *line)
{
    return line != nullptr ? line : "";
}

// The lines a file quotes, "Clock: ..." or "Clock at ...", leading blanks dropped.
std::set<std::string> Quoted(const char *path)
{
    std::ifstream in(std::string(SOURCE_DIR "/") + path);
    std::set<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        line.erase(0, line.find_first_not_of(' '));
        if (line.rfind("Clock: ", 0) == 0 || line.rfind("Clock at ", 0) == 0) lines.insert(line);
    }
    return lines;
}

}  // namespace

// The rules, reading by reading: a row's readings are its start's, then one
// a minute (minute 1, 2, ...). The kernel's: S synchronised (12.001 ms), N
// not (16 s), U refused. Windows': s adjusted with Windows Time stopped, u
// Windows Time unreadable, v the adjustment unreadable. Said: "reading:state",
// then "@minute first read"; the start is reading 0, A "synchronised again".
TEST(ClockWatch, SaysAChangeOnceItHeldThreeReadingsDatedAtTheFirst)
{
    const std::map<char, S> reading = {{'S', Kernel(12001)},
                                       {'N', Kernel(16000000)},
                                       {'U', Kernel(-1, EPERM)},
                                       {'s', Windows(S::Adjusted, S::NotRunning)},
                                       {'u', Windows(S::NotAdjusted, S::ServiceUnreadable)},
                                       {'v', Windows(S::AdjustmentUnreadable, S::Running)}};
    const std::pair<const char *, const char *> rows[] = {
        {"SSSS", ""},
        {"NNNN", "0:N"},
        {"SNNNNN", "3:N@1"},  // said at the third, once
        {"SNNSNN", ""},
        {"SNNSNNN", "6:N@4"},
        {"UNNSSS", "0:U 5:S@3"},  // a flicker restarts the count
        {"NSSSNNN", "0:N 3:A@1 6:N@4"},
        {"Nsss", "0:N 3:A@1"},
        {"suuv", "3:U@1"},
    };
    for (const auto &[readings, expected] : rows) {
        ClockWatch watch;
        std::string said;
        for (int i = 0; readings[i] != '\0'; ++i) {
            std::tm minute{};
            minute.tm_year = 126, minute.tm_mon = 11, minute.tm_mday = 9, minute.tm_min = i;
            const std::string line = Line(NextClockLine(&watch, reading.at(readings[i]), i == 0 ? nullptr : &minute));
            if (line.empty()) continue;
            said += (said.empty() ? "" : " ") + std::to_string(i) + ':' +
                    (line.find(" again ") != std::string::npos          ? 'A'
                     : line.find(": synchronised") != std::string::npos ? 'S'
                     : line.find(": not ") != std::string::npos         ? 'N'
                                                                        : 'U');
            if (i > 0) said += '@' + std::to_string(std::stoi(line.substr(21, 2)));  // "Clock at 20261209 00:MM:00"
        }
        EXPECT_EQ(expected, said) << readings;
    }
}

// README.md's "What it prints", the manual page (the kernel's lines) and
// minute-trigger-INSTALL.txt (Windows') quote, byte for byte, the lines said
// at these starts and at these changes, read at 14:25 on 2026-12-09, and no
// others.
TEST(ClockWatch, TheDocumentationQuotesTheLinesAsPrinted)
{
    const S examples[][2] = {
        {Kernel(16000000), Kernel(12000)},
        {Kernel(-1, EPERM), Kernel(16000000)},
        {Windows(S::NotAdjusted, S::NotRunning), Windows(S::Adjusted, S::Running)},
        {Windows(S::NotAdjusted, S::Missing), Windows(S::NotAdjusted, S::Running)},
    };
    std::tm minute{};
    minute.tm_year = 126, minute.tm_mon = 11, minute.tm_mday = 9, minute.tm_hour = 14, minute.tm_min = 25;
    std::set<std::string> kernel, windows;
    for (const auto &[start, then] : examples) {
        ClockWatch watch;
        std::string said = Line(NextClockLine(&watch, start, nullptr));
        for (int i = 0; i < ClockChangeHeld; ++i) said += Line(NextClockLine(&watch, then, &minute));
        std::istringstream lines(said);
        for (std::string line; std::getline(lines, line);) (start.keeper == S::Kernel ? kernel : windows).insert(line);
    }
    EXPECT_EQ(kernel, Quoted("packaging/minute-trigger.8"));
    EXPECT_EQ(windows, Quoted("packaging/windows/minute-trigger-INSTALL.txt"));
    kernel.insert(windows.begin(), windows.end());
    EXPECT_EQ(kernel, Quoted("README.md"));
}

// The loop skips a poll whose time cannot be broken down rather than use
// calendar fields left from before; that rests on the clock seam saying so.
// No clock the end-to-end tests can fake gives such a time: only a direct
// call reaches it. (Its 64-bit times are checked there, past 2038.)
TEST(Platform, BreakDownUtcSaysWhenItCannot)
{
    std::tm utc{};
    EXPECT_FALSE(BreakDownUtc(INT64_MAX, &utc)) << "a year past what the calendar fields hold";
}
