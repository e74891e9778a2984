// What minute-trigger-check makes of what it read: each check a function
// from readings to findings, with no system call in it, so that every
// verdict and every fix can be tried on Linux with made-up readings. The
// readers (read_linux.cpp, read_windows.cpp) fill the readings in.
#ifndef CHECK_JUDGE_H
#define CHECK_JUDGE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "clock_watch.h"
#include "lock_rule.h"

enum class Verdict : uint8_t { Ok, Warn, Fail, Unknown };

// One line of the report: what was checked and what was found, and for any
// verdict but ok the exact command or setting that mends it (or, unknown,
// how to find out).
struct Finding {
    Verdict verdict;
    std::string line;
    std::string fix;
};
using Findings = std::vector<Finding>;

// --- both systems -------------------------------------------------------

// The clock, by the program's own rule (JudgeClock) and in its words.
// keeper: the time service found keeping it, or empty; fix: what mends a
// clock that is not synchronised here.
Finding JudgeClockLine(const ClockSync &sync, const std::string &keeper, const std::string &fix);

// "Trigger: 20261208 10:01:00" anywhere in line: the UTC time it names.
bool ParseTriggerLine(const std::string &line, int64_t *utc);

struct LastTrigger {
    bool readable = true;
    std::string why;  // not readable: why, and how to read it
    std::string how;
    std::string where;  // the log or the journal
    std::string line;   // the last trigger line, empty if none
    int64_t now = 0;    // UTC seconds when read
};
Finding JudgeLastTrigger(const LastTrigger &last, const std::string &fix);

// --- Linux ----------------------------------------------------------------

struct LinuxLibrary {
    std::string program;  // the installed program beside this check
    bool program_found = false;
    std::string library;  // what it loads, empty if nothing
    bool simulator = false;
};
Finding JudgeLinuxLibrary(const LinuxLibrary &library);

struct LinuxUnit {
    bool systemd = true;
    std::string enabled;  // systemctl is-enabled's word: enabled, disabled, not-found...
    std::string active;   // systemctl is-active's: active, inactive, failed, activating...
};
Finding JudgeLinuxUnit(const LinuxUnit &unit);

// The time daemons' units that are active: the one keeping the clock.
std::string LinuxKeeper(const std::vector<std::string> &active_units);
std::string LinuxClockFix(const std::string &keeper);

struct LinuxInhibitor {
    bool logind = true;
    bool held = false;  // a block inhibitor of sleep by minute-trigger
    bool unit_active = false;
};
Finding JudgeLinuxInhibitor(const LinuxInhibitor &inhibitor);

// --- Windows --------------------------------------------------------------

struct WindowsVersion {
    unsigned major = 0, minor = 0, build = 0, ubr = 0;
    std::string product;          // ProductName
    std::string edition;          // EditionID: Professional, Core (Home), EnterpriseS (LTSC)...
    std::string display_version;  // 22H2...
    bool os64 = false;
};
// today: YYYYMMDD, UTC.
Finding JudgeWindows(const WindowsVersion &windows, int today);

// The program beside this check: every other item is judged for the
// check's own folder, which is wrong anywhere else.
Finding JudgeProgramBeside(const std::string &program, bool present);

struct DeviceDll {
    std::string path;
    bool present = false;
    std::vector<uint8_t> bytes;
    uint16_t expected_machine = 0;  // the program's own: 0x14c i386, 0x8664 x86-64
};
Finding JudgeDeviceDll(const DeviceDll &dll);

struct WaveformFile {
    std::string path;
    bool present = false;
    unsigned long error = 0;  // why it could not be looked at, other than absence
};
Finding JudgeWaveform(const WaveformFile &file);

struct Task {
    enum State : uint8_t { Registered, NotFound, Denied, Unreadable } state = Unreadable;
    long error = 0;
    bool elevated = false;
    bool wine = false;
    bool enabled = false;
    std::string xml;     // the definition as the Task Scheduler keeps it
    std::string folder;  // this program's folder, ending in a backslash
};
Findings JudgeTask(const Task &task);
// "logon", "boot", or "" (no such trigger, or the task unread).
std::string TaskKind(const Task &task);

struct Running {
    bool elevated = false;
    int programs = 0;    // this folder's minute-trigger*.exe running
    int unreadable = 0;  // ones of that name whose folder could not be read
    bool launcher = false;  // a cmd.exe above one of them
    std::string folder;
};
Finding JudgeRunning(const Running &running);

// One object on the program's way, its permissions as Windows writes them
// (owner and DACL, as SDDL), judged by the installer's own rule for its role.
struct PathSecurity {
    std::string path;
    lock_rule::Role role = lock_rule::Role::Path;
    int parent = -1;  // the folder holding it, by its index in the same list; -1 for a drive's root
    bool read = false;
    unsigned long error = 0;
    std::string sddl;
};
// paths: from the drive's root down to the program's folder and each file
// directly in it, and down to the waveform file. folder: the program's, no
// trailing backslash. Wine keeps no permissions of Windows' own: every file
// is its Unix user's.
Findings JudgePermissions(const std::vector<PathSecurity> &paths, const std::string &folder, bool wine);

struct TimeService {
    enum State : uint8_t { Running, Stopped, Missing, Unreadable } state = Unreadable;
    unsigned long error = 0;
    unsigned long start_type = 0;  // SERVICE_AUTO_START 2, DEMAND 3, DISABLED 4
    bool trigger_start = false;
    std::string type, ntp_server;  // Parameters
    bool poll_read = false;
    unsigned long special_poll = 0, min_poll = 0, max_poll = 0;  // seconds; log2 seconds; log2 seconds
    unsigned build = 0;
};
Findings JudgeTimeService(const TimeService &service, const ClockSync &sync);
// The poll interval Windows Time uses, in seconds; 0 when it does not poll.
unsigned long EffectivePoll(const TimeService &service);

struct Power {
    bool readable = false;
    std::string why;
    unsigned long sleep = 0, hibernate = 0, usb_suspend = 0;  // on AC: seconds (0 never); 1 enabled
    bool usb_read = false;
    bool sleep_policy = false, hibernate_policy = false, usb_policy = false;
};
Findings JudgePower(const Power &power);

struct AutoLogon {
    bool readable = false;
    std::string auto_admin_logon, user;
    bool count_set = false;
    unsigned long count = 0;
    std::string task_kind;
};
Finding JudgeAutoLogon(const AutoLogon &logon);

struct UpdatePolicy {
    bool drivers_set = false, reboot_set = false, options_set = false;
    unsigned long exclude_drivers = 0, no_reboot = 0, au_options = 0;
};
Findings JudgeUpdatePolicy(const UpdatePolicy &policy);

// --- the report -----------------------------------------------------------

// Prints each finding, its fix under it, then the summary; returns the exit
// status: 0 all ok or unknown, 1 warnings only, 2 any failure.
int Report(const Findings &findings, std::FILE *out);

#endif
