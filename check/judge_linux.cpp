// The Linux checks: the device library the installed program loads, the
// systemd unit, the time daemon, the sleep inhibitor.
#include "judge.h"

#include <algorithm>
#include <iterator>
#include <sstream>

namespace {

const char Configure[] =
    "cmake -S . -B build -DAWG10K_LIBRARY=/path/to/libAWG10K.so && cmake --build build && cmake --install build";

}  // namespace

Finding JudgeLinuxLibrary(const LinuxLibrary &library)
{
    if (!library.program_found)
        return {Verdict::Fail, "device library: no program " + library.program + " beside this check",
                "cmake --install build installs the program and this check together"};
    if (library.library.empty())
        return {Verdict::Fail, "device library: " + library.program + " finds no libAWG10K.so", Configure};
    if (library.simulator)
        return {Verdict::Warn,
                "device library: " + library.program + " loads " + library.library +
                    ", the simulated one: its trigger lines come with no device triggered",
                Configure};
    return {Verdict::Ok, "device library: " + library.program + " loads " + library.library, ""};
}

Finding JudgeLinuxUnit(const LinuxUnit &unit)
{
    if (!unit.systemd)
        return {Verdict::Unknown, "service: no systemd here to ask",
                "run minute-trigger under this system's service manager, restarted whenever it ends"};
    // One word each, lower case and hyphens; anything else is a complaint
    // (no bus to reach systemd on).
    for (const std::string *word : {&unit.enabled, &unit.active})
        if (word->empty() || word->find_first_not_of("abcdefghijklmnopqrstuvwxyz-") != std::string::npos)
            return {Verdict::Unknown, "service: systemd cannot be asked (" + *word + ")",
                    "systemctl status minute-trigger, as root, shows it"};
    const std::string state = "service: minute-trigger.service " + unit.enabled + ", " + unit.active;
    if (unit.enabled == "not-found")
        return {Verdict::Fail, "service: minute-trigger.service is not installed",
                "cmake --install build && systemctl daemon-reload && systemctl enable --now minute-trigger"};
    // Masked, it can be neither enabled nor started until unmasked.
    if (unit.enabled.rfind("masked", 0) == 0)
        return {Verdict::Fail, state + ": masked, it can be neither started nor enabled",
                "systemctl unmask minute-trigger && systemctl enable --now minute-trigger"};
    if (unit.enabled != "enabled")
        return {Verdict::Fail, state + ": it will not start at boot", "systemctl enable --now minute-trigger"};
    if (unit.active != "active")
        return {Verdict::Fail, state + ": not running now",
                "systemctl start minute-trigger; journalctl -u minute-trigger -n 20 says why it stopped"};
    return {Verdict::Ok, state, ""};
}

bool InhibitorHeld(const std::string &list)
{
    // Newer: WHO UID USER PID COMM WHAT WHY MODE, a row each, WHY alone
    // holding blanks. Older: indented "Who: ..." "What: ..." "Mode: ..."
    // lines, a block each.
    auto sleeps = [](const std::string &what) { return (":" + what + ":").find(":sleep:") != std::string::npos; };
    std::string who, what;
    std::istringstream lines(list);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
        if (w.size() >= 8 && w[0] == "minute-trigger" && sleeps(w[5]) && w.back() == "block") return true;
        if (w.size() >= 2 && w[0] == "Who:") who = w[1];
        if (w.size() >= 2 && w[0] == "What:") what = w[1];
        if (w.size() >= 2 && w[0] == "Mode:" && who == "minute-trigger" && sleeps(what) && w[1] == "block") return true;
    }
    return false;
}

Finding JudgeLinuxInhibitor(const LinuxInhibitor &inhibitor)
{
    if (!inhibitor.logind)
        return {Verdict::Unknown, "sleep inhibitor: no logind to ask (nothing here suspends an idle machine)",
                "systemd-inhibit --list shows the inhibitors where logind runs"};
    if (inhibitor.held) return {Verdict::Ok, "sleep inhibitor: minute-trigger holds off sleep", ""};
    return {Verdict::Fail, "sleep inhibitor: none held while the service runs: the machine may suspend under it",
            "systemctl restart minute-trigger (the installed unit runs it under systemd-inhibit)"};
}

Findings JudgeLinuxService(const LinuxUnit &unit, const LastTrigger &last, const LinuxInhibitor &inhibitor)
{
    Finding service = JudgeLinuxUnit(unit);
    if (!unit.systemd) return {service, JudgeLinuxInhibitor(inhibitor)};
    const Finding trigger = JudgeLastTrigger(
        last, "systemctl restart minute-trigger; journalctl -u minute-trigger -n 20 says why none came",
        "systemctl restart minute-trigger, which opens the device anew; refused again: the device's USB cable and power");
    if (service.verdict == Verdict::Ok) return {service, trigger, JudgeLinuxInhibitor(inhibitor)};
    if (service.verdict == Verdict::Fail && trigger.verdict != Verdict::Unknown)
        service.line += " (" + trigger.line + ")";
    return {service};
}

Findings JudgeLinuxTime(const ClockSync &sync, const LinuxTime &time)
{
    // ptp4l, phc2sys and timemaster work together: one keeper.
    std::vector<std::string> keepers;
    for (const std::string &d : time.daemons) {
        const std::string keeper = d == "ptp4l" || d == "phc2sys" || d == "timemaster" ? "PTP" : d;
        if (std::find(keepers.begin(), keepers.end(), keeper) == keepers.end()) keepers.push_back(keeper);
    }
    const std::string keeper = keepers.empty() ? "" : keepers.front();
    std::string fix;
    if (keeper.empty()) {
        const std::string install = time.installer.empty() ? "" : time.installer + " install chrony";
        fix = time.systemd ? "no time daemon runs: timedatectl set-ntp true" +
                                 (install.empty() ? "" : " (where it says NTP is not supported: " + install + ")")
              : install.empty() ? "no time daemon runs: install and start one (chrony, or ntpd)"
                                : "no time daemon runs: " + install + ", then start chronyd";
    } else if (keeper == "chronyd") {
        fix = "chronyc sources -v shows which servers chronyd reaches";
    } else if (keeper == "systemd-timesyncd") {
        fix = "timedatectl timesync-status shows the server; set NTP= in /etc/systemd/timesyncd.conf";
    } else {
        fix = "the daemon " + keeper + " runs but has not synchronised the clock: see its status and log";
    }
    // A daemon that knows the clock is off steps it at once where it can.
    const std::string step = keeper == "chronyd"             ? "chronyc makestep, then " + fix
                             : keeper == "systemd-timesyncd" ? "systemctl restart systemd-timesyncd, then " + fix
                                                             : fix;
    Findings out = {JudgeClockLine(sync, keeper, fix),
                    JudgeClockOffset(time.offset, time.offset.measured ? step
                                                  : keeper.empty() ? "once a time daemon runs, it reports the offset"
                                                                   : "ask " + keeper + " for its offset")};
    if (keepers.size() > 1) {
        std::string all, others;
        for (const std::string &k : keepers) all += (all.empty() ? "" : " and ") + k;
        for (size_t i = 1; i < keepers.size(); ++i) others += (others.empty() ? "" : ", ") + keepers[i];
        out.push_back({Verdict::Warn, "time daemons: " + all + " run at once: each steers the clock against the other",
                       "keep " + keeper + " alone: systemctl disable --now the unit of " + others});
    }
    return out;
}
