// What the program says of the clock's synchronisation, from made-up
// readings: when it speaks, what it calls each reading, and that the
// documentation shows the very lines it prints.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "clock_watch.h"

namespace {

ClockSync Kernel(long maxerror_us, int error = 0) { return {ClockSync::Kernel, error, maxerror_us, {}, {}}; }
ClockSync Windows(ClockSync::Adjusting adjusting, ClockSync::Service service)
{
    return {ClockSync::Windows, 0, 0, adjusting, service};
}

std::tm Minute(int minute)
{
    std::tm m{};
    m.tm_year = 126, m.tm_mon = 11, m.tm_mday = 9, m.tm_hour = 14, m.tm_min = minute;
    return m;
}

std::string Line(const char *line) { return line == nullptr ? "" : line; }

const ClockSync Synced = Kernel(12000), Unsynced = Kernel(16000000), Refused = Kernel(-1, EPERM);

}  // namespace

// The kernel's clock counts as synchronised below 16 s of maximum error,
// whatever its STA_UNSYNC bit says; Windows' only while a time service
// adjusts it, and cannot be judged without a Windows Time service to ask.
TEST(ClockWatch, JudgesEachReading)
{
    EXPECT_EQ(ClockState::Synchronised, JudgeClock(Kernel(15999999)));
    EXPECT_EQ(ClockState::NotSynchronised, JudgeClock(Kernel(16000000)));
    EXPECT_EQ(ClockState::Unknown, JudgeClock(Refused));
    using S = ClockSync;
    EXPECT_EQ(ClockState::Synchronised, JudgeClock(Windows(S::Adjusted, S::NotRunning)));
    EXPECT_EQ(ClockState::NotSynchronised, JudgeClock(Windows(S::NotAdjusted, S::Running)));
    EXPECT_EQ(ClockState::NotSynchronised, JudgeClock(Windows(S::NotAdjusted, S::NotRunning)));
    EXPECT_EQ(ClockState::Unknown, JudgeClock(Windows(S::NotAdjusted, S::Missing)));
    EXPECT_EQ(ClockState::Unknown, JudgeClock(Windows(S::NotAdjusted, S::ServiceUnreadable)));
    EXPECT_EQ(ClockState::Unknown, JudgeClock(Windows(S::AdjustmentUnreadable, S::Running)));
}

// Silent at a synchronised start; a change is said once three readings
// running have shown it, with the first one's minute; a flicker is not.
TEST(ClockWatch, SaysAChangeOnlyOnceItHasHeldThreeMinutes)
{
    ClockWatch watch;
    EXPECT_EQ("", Line(NextClockLine(&watch, Synced, nullptr)));
    const struct {
        ClockSync reading;
        std::string line;
    } minutes[] = {
        {Unsynced, ""}, {Unsynced, ""}, {Synced, ""},  // 1-3: a flicker of two minutes
        {Unsynced, ""}, {Refused, ""},                 // 4-5: neither held
        {Unsynced, ""}, {Unsynced, ""},                // 6-8: held from 14:06
        {Unsynced, "Clock at 20261209 14:06:00: not synchronised (kernel: maximum error 16 s); triggers follow "
                   "this PC's clock, which may be off UTC by seconds\n"},
        {Unsynced, ""}, {Synced, ""}, {Synced, ""},    // 9-11; the bound is rounded up, never down
        {Kernel(12001), "Clock at 20261209 14:10:00: synchronised again (reported maximum error 13 ms)\n"},
        {Synced, ""},
    };
    int minute = 1;
    for (const auto &m : minutes) {
        const std::tm when = Minute(minute++);
        EXPECT_EQ(m.line, Line(NextClockLine(&watch, m.reading, &when))) << "minute " << minute - 1;
    }
}

// README's "What it prints", the manual page and INSTALL.txt quote the lines
// byte for byte: each quoted line is printed just so.
TEST(ClockWatch, TheDocumentationQuotesTheLinesAsPrinted)
{
    const auto read = [](const char *path) {
        std::ifstream in(std::string(SOURCE_DIR "/") + path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string readme = read("README.md"), manual = read("packaging/minute-trigger.8"),
                      install = read("packaging/windows/INSTALL.txt");
    using S = ClockSync;
    const struct {
        ClockSync start, then;
        bool windows;
    } examples[] = {
        {Unsynced, Synced, false},
        {Refused, Unsynced, false},
        {Windows(S::NotAdjusted, S::NotRunning), Windows(S::Adjusted, S::Running), true},
        {Windows(S::NotAdjusted, S::Missing), Windows(S::NotAdjusted, S::Running), true},
    };
    for (const auto &e : examples) {
        ClockWatch watch;
        std::string lines[1 + ClockChangeHeld];
        lines[0] = Line(NextClockLine(&watch, e.start, nullptr));
        for (int minute = 25; minute < 25 + ClockChangeHeld; ++minute) {
            const std::tm when = Minute(minute);
            lines[1] = Line(NextClockLine(&watch, e.then, &when));
        }
        for (int i = 0; i < 2; ++i) {
            const std::string line = lines[i].substr(0, lines[i].size() - 1);
            EXPECT_NE(std::string::npos, readme.find(line)) << "README.md lacks " << line;
            const std::string &other = e.windows ? install : manual;
            EXPECT_NE(std::string::npos, other.find(line)) << (e.windows ? "INSTALL.txt" : "the manual page")
                                                           << " lacks " << line;
        }
    }
}
