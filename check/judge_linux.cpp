// The Linux checks: the device library the installed program loads, the
// systemd unit, the time daemon, the sleep inhibitor.
#include "judge.h"

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
    const std::string state = "service: minute-trigger.service " + unit.enabled + ", " + unit.active;
    if (unit.enabled == "not-found" || unit.enabled.empty())
        return {Verdict::Fail, "service: minute-trigger.service is not installed",
                "cmake --install build && systemctl daemon-reload && systemctl enable --now minute-trigger"};
    if (unit.enabled != "enabled")
        return {Verdict::Fail, state + ": it will not start at boot", "systemctl enable --now minute-trigger"};
    if (unit.active != "active")
        return {Verdict::Fail, state + ": not running now",
                "systemctl start minute-trigger; journalctl -u minute-trigger -n 20 says why it stopped"};
    return {Verdict::Ok, state, ""};
}

std::string LinuxKeeper(const std::vector<std::string> &active_units)
{
    return active_units.empty() ? "" : active_units.front();
}

std::string LinuxClockFix(const std::string &keeper)
{
    if (keeper.empty())
        return "no time daemon runs: apt install chrony (or systemctl enable --now systemd-timesyncd)";
    if (keeper.rfind("chrony", 0) == 0) return "chronyc sources -v shows which servers " + keeper + " reaches";
    if (keeper.rfind("systemd-timesyncd", 0) == 0)
        return "timedatectl timesync-status shows the server; set NTP= in /etc/systemd/timesyncd.conf";
    return "the daemon " + keeper + " runs but has not synchronised the clock: see its status and log";
}

Finding JudgeLinuxInhibitor(const LinuxInhibitor &inhibitor)
{
    if (!inhibitor.logind)
        return {Verdict::Unknown, "sleep inhibitor: no logind to ask (nothing here suspends an idle machine)",
                "systemd-inhibit --list shows the inhibitors where logind runs"};
    if (inhibitor.held) return {Verdict::Ok, "sleep inhibitor: minute-trigger holds off sleep", ""};
    if (!inhibitor.unit_active)
        return {Verdict::Fail, "sleep inhibitor: none held, as the service is not running",
                "systemctl start minute-trigger: the unit holds it while the program runs"};
    return {Verdict::Fail, "sleep inhibitor: none held while the service runs: the machine may suspend under it",
            "systemctl restart minute-trigger (the installed unit runs it under systemd-inhibit)"};
}
