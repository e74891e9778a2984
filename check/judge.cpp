// The checks both systems share (the clock, the last trigger) and the report.
#include "judge.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// A trigger line is written just after second 0, and the next is due a
// minute later: older than this, a minute was missed, or the program stopped.
constexpr int64_t TriggerLate = 75;

std::string Ago(int64_t seconds)
{
    char text[48];
    if (seconds < 120)
        snprintf(text, sizeof text, "%lld s ago", static_cast<long long>(seconds));
    else if (seconds < 7200)
        snprintf(text, sizeof text, "%lld min ago", static_cast<long long>(seconds / 60));
    else if (seconds < 172800)
        snprintf(text, sizeof text, "%lld h ago", static_cast<long long>(seconds / 3600));
    else
        snprintf(text, sizeof text, "%lld days ago", static_cast<long long>(seconds / 86400));
    return text;
}

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's
// days_from_civil): timegm is neither standard nor in Microsoft's C runtime.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

Finding JudgeClockLine(const ClockSync &sync, const std::string &keeper, const std::string &fix)
{
    char detail[128];
    DescribeClockSync(detail, sizeof detail, sync);
    const std::string by = keeper.empty() ? "" : ", kept by " + keeper;
    const bool windows = sync.keeper == ClockSync::Windows;
    switch (JudgeClock(sync)) {
        case ClockState::Synchronised:
            return {Verdict::Ok, std::string("clock: synchronised (") + detail + ")" + by, ""};
        case ClockState::NotSynchronised:
            return {Verdict::Fail,
                    std::string("clock: not synchronised (") + detail + ")" + by +
                        "; triggers follow this PC's clock, which may be off UTC by seconds",
                    fix};
        case ClockState::Unknown: break;
    }
    return {Verdict::Unknown, std::string("clock: synchronisation unknown (") + detail + ")" + by,
            windows ? "w32tm /query /status shows the source and the last synchronisation"
                    : "timedatectl shows whether the clock is synchronised"};
}

bool ParseTriggerLine(const std::string &line, int64_t *utc)
{
    const size_t at = line.rfind("Trigger: ");
    if (at == std::string::npos) return false;
    unsigned y, mo, d, h, mi, s;
    char end;
    // The fields' widths fixed, as the program prints them.
    if (sscanf(line.c_str() + at, "Trigger: %4u%2u%2u %2u:%2u:%2u%c", &y, &mo, &d, &h, &mi, &s, &end) < 6) return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return false;
    *utc = DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
    return true;
}

void FindLastTrigger(const std::string &output, LastTrigger *last)
{
    // The program prints each trigger line whatever the device answered, and
    // this line after it when the device refused the trigger.
    static const char Refused[] = "AWG10K_Trigger() Error";
    std::vector<bool> refused;  // one a trigger line, in order
    size_t last_line = std::string::npos;
    for (size_t at = 0; at < output.size();) {
        size_t end = output.find('\n', at);
        if (end == std::string::npos) end = output.size();
        const std::string line = output.substr(at, end - at);
        int64_t utc;
        if (ParseTriggerLine(line, &utc)) {
            refused.push_back(false);
            last_line = at;
        } else if (!refused.empty() && line.find(Refused) != std::string::npos) {
            refused.back() = true;
        }
        at = end + 1;
    }
    last->line.clear();
    if (last_line != std::string::npos) {
        last->line = output.substr(last_line, output.find_first_of("\r\n", last_line) - last_line);
        last->refused = refused.back();
    }
    const size_t from = refused.size() > 60 ? refused.size() - 60 : 0;
    last->triggers = static_cast<int>(refused.size() - from);
    last->refusals = static_cast<int>(std::count(refused.begin() + static_cast<long>(from), refused.end(), true));
}

Finding JudgeLastTrigger(const LastTrigger &last, const std::string &restart, const std::string &reopen)
{
    if (!last.readable)
        return {Verdict::Unknown, "last trigger: " + last.where + " cannot be read (" + last.why + ")", last.how};
    int64_t at = 0;
    if (last.line.empty() || !ParseTriggerLine(last.line, &at))
        return {Verdict::Fail, "last trigger: none in " + last.where, restart};
    std::string stamp = last.line.substr(last.line.rfind("Trigger: ") + 9, 17);
    const std::string refusals = last.refusals == 0
                                     ? ""
                                     : "; the device refused " + std::to_string(last.refusals) + " of the last " +
                                           std::to_string(last.triggers) + " triggers (AWG10K_Trigger() Error)";
    const int64_t age = last.now - at;
    if (age < -TriggerLate)
        return {Verdict::Warn,
                "last trigger: " + stamp + " in " + last.where + ", ahead of this PC's clock now" + refusals,
                "the clock was stepped back since; the next trigger lines show whether it is right now"};
    if (age > TriggerLate)
        return {Verdict::Fail,
                "last trigger: " + stamp + " in " + last.where + ", " + Ago(age) + ": none since" + refusals, restart};
    const std::string line = "last trigger: " + stamp + " in " + last.where + ", " + Ago(age < 0 ? 0 : age);
    // A device unplugged, reset or switched off stays refused: the program
    // opened it once, at its start, and never retries.
    if (last.refused) return {Verdict::Fail, line + ", refused by the device" + refusals, reopen};
    if (last.refusals > 0)
        return {Verdict::Warn, line + refusals,
                "the device's USB cable and power, and the USB suspend setting: the device accepts triggers again now"};
    return {Verdict::Ok, line, ""};
}

bool ParseDaemonOffset(const std::string &output, double *seconds)
{
    // chronyc tracking: "System time     : 0.000012345 seconds fast of NTP time".
    size_t at = output.find("System time");
    double value = 0;
    char word[8] = "";
    if (at != std::string::npos && sscanf(output.c_str() + at, "System time : %lf seconds %7s", &value, word) == 2) {
        *seconds = strcmp(word, "slow") == 0 ? -value : value;
        return true;
    }
    // ntpq -c "rv 0 offset": "offset=-0.123456", in milliseconds.
    if ((at = output.find("offset=")) != std::string::npos && sscanf(output.c_str() + at, "offset=%lf", &value) == 1) {
        *seconds = value / 1000;
        return true;
    }
    // timedatectl timesync-status: "Offset: +1.234ms", "-27us", "+1.002s".
    if ((at = output.find("Offset:")) == std::string::npos ||
        sscanf(output.c_str() + at, "Offset: %lf%7s", &value, word) != 2)
        return false;
    static const struct {
        const char *unit;
        double scale;
    } Units[] = {{"ns", 1e-9}, {"us", 1e-6}, {"\xc2\xb5s", 1e-6}, {"\xce\xbcs", 1e-6},
                 {"ms", 1e-3}, {"s", 1},     {"min", 60}};
    for (const auto &u : Units)
        if (strcmp(word, u.unit) == 0) {
            *seconds = value * u.scale;
            return true;
        }
    return false;
}

bool SntpOffset(const uint8_t *reply, size_t size, double sent, double received, double *offset)
{
    // A server's reply (mode 4) that knows the time (stratum 1 to 15);
    // its receive and transmit times, seconds since 1900 and a fraction.
    if (size < 48 || (reply[0] & 7) != 4 || reply[1] == 0 || reply[1] > 15) return false;
    auto stamp = [&](size_t at) {
        uint32_t whole = 0, part = 0;
        for (size_t i = 0; i < 4; ++i) whole = whole << 8 | reply[at + i], part = part << 8 | reply[at + 4 + i];
        return whole - 2208988800.0 + part / 4294967296.0;
    };
    const double server_received = stamp(32), server_sent = stamp(40);
    // The server's time less this clock's, at the middle of the exchange.
    *offset = ((sent - server_received) + (received - server_sent)) / 2;
    return true;
}

Finding JudgeClockOffset(const ClockOffset &offset, const std::string &fix)
{
    if (!offset.measured) return {Verdict::Unknown, "clock offset: not measured (" + offset.why + ")", fix};
    char text[160];
    const double magnitude = offset.seconds < 0 ? -offset.seconds : offset.seconds;
    snprintf(text, sizeof text, "clock offset: %.3f s %s UTC, by %s", magnitude,
             offset.seconds < 0 ? "behind" : "ahead of", offset.source.c_str());
    // Each trigger is as far off the minute as the clock is off UTC.
    if (magnitude > 1) return {Verdict::Fail, std::string(text) + ": every trigger that far off the minute", fix};
    if (magnitude > 0.1) return {Verdict::Warn, std::string(text) + ": more than 100 ms", fix};
    return {Verdict::Ok, text, ""};
}

int Report(const Findings &findings, std::FILE *out)
{
    static const char *const Marks[] = {"[ok]", "[warn]", "[FAIL]", "[unknown]", "[note]"};
    int count[5] = {};
    for (const Finding &f : findings) {
        fprintf(out, "%s %s\n", Marks[static_cast<int>(f.verdict)], f.line.c_str());
        if (f.verdict != Verdict::Ok && f.verdict != Verdict::Note) fprintf(out, "    fix: %s\n", f.fix.c_str());
        ++count[static_cast<int>(f.verdict)];
    }
    const int ok = static_cast<int>(Verdict::Ok), warn = static_cast<int>(Verdict::Warn),
              fail = static_cast<int>(Verdict::Fail), unknown = static_cast<int>(Verdict::Unknown),
              note = static_cast<int>(Verdict::Note);
    fprintf(out, "minute-trigger-check: %d ok, %d warn, %d FAIL, %d unknown, %d noted\n", count[ok], count[warn],
            count[fail], count[unknown], count[note]);
    fflush(out);
    return count[fail] > 0 ? 2 : count[warn] > 0 ? 1 : count[unknown] > 0 ? 3 : 0;
}
