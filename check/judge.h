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

// Note: a fact worth knowing that nothing on this PC can clear (Windows past
// its end of support), printed but counting as ok.
enum class Verdict : uint8_t { Ok, Warn, Fail, Unknown, Note };

// One line of the report: what was checked and what was found, and for a
// warning, a failure or an unknown the exact command or setting that mends
// it (or how to find out). A note says in its line what can be done
// elsewhere, and has no fix.
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
    std::string where;               // the log or the journal
    std::string line;                // the last trigger line, empty if none
    bool refused = false;            // the device's error line follows it
    int triggers = 0, refusals = 0;  // of the last hour's trigger lines read, and how many were refused
    int64_t now = 0;                 // UTC seconds when read
};
// The program's output in order (a log's tail, the journal's lines): its
// last trigger line, and the device's refusals of the last hour's triggers.
void FindLastTrigger(const std::string &output, LastTrigger *last);
// restart: what starts a program that stopped; reopen: what makes a running
// one open the device anew.
Finding JudgeLastTrigger(const LastTrigger &last, const std::string &restart, const std::string &reopen);

// How far this machine's clock is from UTC: as its time daemon reports it,
// or as one SNTP query measured it.
struct ClockOffset {
    bool measured = false;
    double seconds = 0;  // this clock minus UTC
    std::string source;  // who said so: "chronyc tracking", "an SNTP query to ntp.lab"
    std::string why;     // not measured: why
};
// chronyc tracking's "System time", timedatectl timesync-status's "Offset"
// or ntpq's "offset=": this clock minus the server's, in seconds.
bool ParseDaemonOffset(const std::string &output, double *seconds);
// An SNTP reply of size bytes to a request sent at `sent` and answered at
// `received`, both read from this clock in seconds since 1970: the offset.
bool SntpOffset(const uint8_t *reply, size_t size, double sent, double received, double *offset);
Finding JudgeClockOffset(const ClockOffset &offset, const std::string &fix);

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
    // systemctl is-enabled's word (enabled, disabled, masked, not-found...)
    // and is-active's (active, inactive, failed, activating...); anything
    // else is systemctl's complaint that it could not ask.
    std::string enabled, active;
};
Finding JudgeLinuxUnit(const LinuxUnit &unit);

struct LinuxInhibitor {
    bool logind = true;
    bool held = false;  // a block inhibitor of sleep by minute-trigger
};
// systemd-inhibit --list's output, in the table of newer systemd or the
// "Who:" blocks of older: whether minute-trigger holds a block of sleep.
bool InhibitorHeld(const std::string &list);
Finding JudgeLinuxInhibitor(const LinuxInhibitor &inhibitor);

// The unit, its last trigger in the journal and its sleep inhibitor: one
// cause, one line, so a unit that does not run is that line alone, naming
// the last trigger.
Findings JudgeLinuxService(const LinuxUnit &unit, const LastTrigger &last, const LinuxInhibitor &inhibitor);

struct LinuxTime {
    std::vector<std::string> daemons;  // the time daemons running
    bool systemd = false;              // timedatectl can start one
    std::string installer;             // the package manager's command (apt, dnf), empty if none known
    ClockOffset offset;
};
// The clock's line, its offset's, and a warning where two daemons set the
// clock at once.
Findings JudgeLinuxTime(const ClockSync &sync, const LinuxTime &time);

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
    uint16_t expected_machine = 0;             // the program's own: 0x14c i386, 0x8664 x86-64
    std::vector<std::string> missing_imports;  // the DLLs it imports that Windows would not find
    std::string system_folder;  // where Windows looks for them: SysWOW64 for a 32-bit program on 64-bit Windows
};
// The names of the DLLs a PE file imports, as it writes them.
std::vector<std::string> PeImports(const std::vector<uint8_t> &bytes);
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
    std::string now;     // local time as the definition writes it: 2026-12-10T01:22:00
};
Findings JudgeTask(const Task &task);
// "logon", "boot", or "" (no such trigger, or the task unread).
std::string TaskKind(const Task &task);

struct Running {
    bool elevated = false;
    int programs = 0;       // this folder's minute-trigger*.exe running
    int unreadable = 0;     // ones of that name whose folder could not be read
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

// What the installer's first install saved of each object whose permissions
// it changed, for its uninstall to give back: each value's text, "path",
// "descriptor before" and "descriptor given" (SDDL) on lines of their own.
struct SavedPermissions {
    bool readable = true;  // false: saved, but this account may not read them
    unsigned long error = 0;
    std::vector<std::string> values;
};
// Which files the program may load from folder (ending in a backslash)
// users could change before the install, by the permissions it found there:
// no line where it saved none of them.
Findings JudgeSavedBefore(const SavedPermissions &saved, const std::string &folder);

// A start or stop trigger of a service (SERVICE_TRIGGER).
struct ServiceTrigger {
    bool start = true;       // else a stop trigger
    unsigned long type = 0;  // SERVICE_TRIGGER_TYPE_: 2 an IP address's arrival or removal, 3 domain membership
    std::string subtype;     // its GUID, lower case
};
struct TimeService {
    enum State : uint8_t { Running, Stopped, Missing, Unreadable } state = Unreadable;
    unsigned long error = 0;
    unsigned long start_type = 0;  // SERVICE_AUTO_START 2, DEMAND 3, DISABLED 4
    std::vector<ServiceTrigger> triggers;
    bool domain = false;           // this PC is joined to a domain
    bool policy = false;           // Group Policy sets the values below (HKLM\SOFTWARE\Policies\Microsoft\W32Time)
    std::string type, ntp_server;  // Parameters
    bool poll_read = false;
    unsigned long special_poll = 0, min_poll = 0, max_poll = 0;  // seconds; log2 seconds; log2 seconds
    unsigned build = 0;
};
Findings JudgeTimeService(const TimeService &service, const ClockSync &sync);
// The poll interval Windows Time uses, in seconds; 0 when it does not poll.
unsigned long EffectivePoll(const TimeService &service);
// The clock's line and its offset's, their fixes fit for the service's state.
Findings JudgeWindowsClock(const ClockSync &sync, const ClockOffset &offset, const TimeService &service);

// On mains: each value the power plan's, unless a Group Policy sets it,
// which then decides.
struct PowerValue {
    bool read = false;
    unsigned long plan = 0;
    bool policy_set = false;
    unsigned long policy = 0;
};
struct Power {
    bool readable = false;
    std::string why;
    PowerValue sleep, hibernate, usb_suspend;  // seconds (0 never); seconds; 1 enabled
};
Findings JudgePower(const Power &power);

// Fast Startup (Windows 8 and later): a shut-down PC resumes from
// hibernation, and no boot trigger comes.
struct FastStartup {
    bool hiberboot = false;  // HiberbootEnabled 1
    bool hibernate = false;  // hibernation available, which it needs
    std::string task_kind;
};
Finding JudgeFastStartup(const FastStartup &fast);

struct AutoLogon {
    bool readable = false;
    std::string auto_admin_logon, user;
    bool count_set = false;
    unsigned long count = 0;
    std::string task_kind;
    // The local account's password (a domain's is its domain's affair):
    // days since it was set, days it lasts (0 for good).
    bool password_read = false;
    unsigned long password_age = 0, password_lasts = 0;
};
Finding JudgeAutoLogon(const AutoLogon &logon);

struct UpdatePolicy {
    bool drivers_set = false, reboot_set = false, options_set = false;
    unsigned long exclude_drivers = 0, no_reboot = 0, au_options = 0;
    unsigned build = 0;
    // Before the drivers policy (Windows 10 1607), the device installation
    // setting: 0 never looks for drivers on Windows Update.
    bool search_order_set = false;
    unsigned long search_order = 0;
};
Findings JudgeUpdatePolicy(const UpdatePolicy &policy);

// The System log's events, counted by ID, so the display language does not
// matter; each count -1 when the log cannot be read.
struct Events {
    // Windows Time's, the last 7 days: 36 not synchronised for long, 47 a
    // server not answering, 11 Type NT5DS on a PC in no domain.
    int not_synchronised = -1, no_response = -1, no_domain = -1;
    int unexpected = -1, asked = -1;  // shutdowns not asked for (6008) and restarts asked for (1074), the last 30 days
};
Findings JudgeEvents(const Events &events);

// --- the report -----------------------------------------------------------

// Prints each finding, its fix under it, then the summary; returns the exit
// status in the monitoring plugins' convention: 0 all ok (or noted), 1 a
// warning, 2 a failure, 3 nothing worse than unknown.
int Report(const Findings &findings, std::FILE *out);

#endif
