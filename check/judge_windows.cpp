// The Windows checks, from what the reader found: Windows itself, the
// device DLL, the waveform file, the task, what runs, the permissions,
// Windows Time, power, automatic logon and Windows Update.
#include "judge.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

const char LeftAlone[] = "INSTALL.txt, \"Left alone for months\"";

std::string Lower(std::string text)
{
    for (char &c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Number(unsigned long n)
{
    char text[24];
    snprintf(text, sizeof text, "%lu", n);
    return text;
}

// The worst of two verdicts, unknown counting as least.
Verdict Worse(Verdict a, Verdict b)
{
    auto rank = [](Verdict v) { return v == Verdict::Fail ? 3 : v == Verdict::Warn ? 2 : v == Verdict::Ok ? 1 : 0; };
    return rank(a) >= rank(b) ? a : b;
}

// Adds a reason to a finding that may already hold one: the verdict the
// worse, the words and fixes joined.
void Add(Finding *f, Verdict verdict, const std::string &why, const std::string &fix)
{
    f->verdict = Worse(f->verdict, verdict);
    f->line += "; " + why;
    if (!fix.empty()) f->fix += (f->fix.empty() ? "" : " ; ") + fix;
}

// --- the task's definition, as XML ------------------------------------------

// The text of the first <name>...</name> in xml from `from`, and whether
// there is one. The Task Scheduler writes each setting as a plain element.
bool Element(const std::string &xml, const char *name, std::string *text, size_t from = 0, size_t to = std::string::npos)
{
    const std::string open = std::string("<") + name;
    for (size_t at = xml.find(open, from); at != std::string::npos && at < to; at = xml.find(open, at + 1)) {
        const char next = at + open.size() < xml.size() ? xml[at + open.size()] : '\0';
        if (next != '>' && next != ' ' && next != '/') continue;
        const size_t start = xml.find('>', at);
        if (start == std::string::npos) return false;
        if (xml[start - 1] == '/') { text->clear(); return true; }
        const size_t end = xml.find("</" + std::string(name) + ">", start);
        if (end == std::string::npos) return false;
        *text = xml.substr(start + 1, end - start - 1);
        return true;
    }
    return false;
}
std::string ElementOr(const std::string &xml, const char *name, const char *otherwise, size_t from = 0)
{
    std::string text;
    return Element(xml, name, &text, from) ? text : otherwise;
}

std::string Recreate(const Task &task, const std::string &kind)
{
    return "from a Command Prompt opened as administrator: schtasks /Create /TN minute-trigger /XML \"" + task.folder +
           "minute-trigger-" + (kind.empty() ? "logon" : kind) + ".xml\" /F";
}

}  // namespace

Finding JudgeWindows(const WindowsVersion &w, int today)
{
    char version[64];
    snprintf(version, sizeof version, "%u.%u.%u%s", w.major, w.minor, w.build,
             w.ubr != 0 ? ("." + Number(w.ubr)).c_str() : "");
    Finding f{Verdict::Ok,
              "Windows: " + w.product + (w.display_version.empty() ? "" : " " + w.display_version) + " (" + version +
                  ", " + (w.edition.empty() ? "edition unknown" : w.edition) + "), " + (w.os64 ? "64-bit" : "32-bit"),
              ""};
    // End of support by INSTALL.txt's dates: LTSC editions (EditionID
    // ...S) run longer than the general ones of the same build.
    const bool ltsc = !w.edition.empty() && w.edition.back() == 'S' && w.edition.find("Enterprise") != std::string::npos;
    int ended = 0;
    const char *date = "";
    if (w.major == 6 && w.minor == 1) ended = 20200114, date = "14 January 2020";
    else if (w.major == 6 && w.minor == 2) ended = 20160112, date = "12 January 2016";
    else if (w.major == 6 && w.minor == 3) ended = 20230110, date = "10 January 2023";
    else if (w.major == 10 && w.build < 22000) {
        if (ltsc && w.build == 17763) ended = 20290109, date = "9 January 2029";
        else if (ltsc && w.build == 19044 && w.edition.rfind("IoT", 0) == 0) ended = 20320113, date = "13 January 2032";
        else if (ltsc && w.build == 19044) ended = 20270112, date = "12 January 2027";
        else if (ltsc && w.build == 14393) ended = 20261013, date = "13 October 2026";
        else ended = 20251014, date = "14 October 2025";
    }
    // Windows Server shares the builds, not the dates.
    if (w.product.find("Server") != std::string::npos) ended = 0;
    if (ended != 0 && today > ended)
        Add(&f, Verdict::Warn,
            std::string("its support ended on ") + date + ": no security fixes since, unless in paid Extended Security Updates",
            std::string("keep the PC off the internet, or move it to a serviced edition (") + LeftAlone + ")");
    if (w.edition.rfind("Core", 0) == 0)
        Add(&f, Verdict::Warn, "a Home edition, which ignores Group Policy",
            std::string("set the policies as registry values (") + LeftAlone + ")");
    return f;
}

Finding JudgeProgramBeside(const std::string &program, bool present)
{
    if (present) return {Verdict::Ok, "program: " + program, ""};
    return {Verdict::Fail, "program: no " + program + " beside this check, whose folder every line below is about",
            "run the minute-trigger-check.exe that sits beside minute-trigger.exe"};
}

Finding JudgeDeviceDll(const DeviceDll &dll)
{
    if (!dll.present)
        return {Verdict::Fail, "device library: no " + dll.path + ": the program cannot start",
                "put the vendor's AWG10K.dll beside the program (never the simulated one)"};
    const std::vector<uint8_t> &b = dll.bytes;
    auto u16 = [&](size_t at) { return at + 2 <= b.size() ? static_cast<uint32_t>(b[at] | b[at + 1] << 8) : 0u; };
    auto u32 = [&](size_t at) { return at + 4 <= b.size() ? u16(at) | u16(at + 2) << 16 : 0u; };
    const std::string bad = "device library: " + dll.path + " ";
    const char *vendor = "put the vendor's 32-bit AWG10K.dll beside the program";
    const uint32_t pe = u32(0x3c);
    if (u16(0) != 0x5a4d || u32(pe) != 0x4550) return {Verdict::Fail, bad + "is not a DLL", vendor};
    const uint32_t machine = u16(pe + 4);
    if (machine != dll.expected_machine)
        return {Verdict::Fail, bad + (machine == 0x8664 ? "is 64-bit" : machine == 0x14c ? "is 32-bit" : "is for another processor") +
                    ", unlike the program",
                vendor};
    // The export directory: the optional header's first data directory,
    // whose offset differs between PE32 and PE32+.
    const uint32_t optional = pe + 24, sections = optional + u16(pe + 20), count = u16(pe + 6);
    const uint32_t directory = optional + (u16(optional) == 0x20b ? 112 : 96);
    auto file_offset = [&](uint32_t rva) -> size_t {
        for (uint32_t s = 0; s < count; ++s) {
            const size_t h = sections + s * 40;
            const uint32_t va = u32(h + 12), size = std::max(u32(h + 8), u32(h + 16)), raw = u32(h + 20);
            if (rva >= va && rva < va + size) return rva - va + raw;
        }
        return 0;
    };
    std::vector<uint32_t> ordinals;
    if (const size_t exports = u32(directory) != 0 ? file_offset(u32(directory)) : 0) {
        const uint32_t base = u32(exports + 16), functions = u32(exports + 20);
        const size_t table = file_offset(u32(exports + 28));
        for (uint32_t i = 0; table != 0 && i < functions && i < 4096; ++i)
            if (u32(table + 4 * i) != 0) ordinals.push_back(base + i);
    }
    std::string missing;
    for (uint32_t want : {1u, 3u, 5u, 6u, 7u})
        if (std::find(ordinals.begin(), ordinals.end(), want) == ordinals.end())
            missing += (missing.empty() ? "" : ", ") + Number(want);
    if (!missing.empty())
        return {Verdict::Fail, bad + "exports no entry at ordinal " + missing + ": not the device's library", vendor};
    // The simulated DLL reads its settings from these variables; the
    // vendor's has no reason to name them.
    static const char Marker[] = "AWG10K_SIM_DEVICES";
    if (std::search(b.begin(), b.end(), Marker, Marker + sizeof Marker - 1) != b.end())
        return {Verdict::Warn, bad + "is the simulated one: its trigger lines come with no device triggered", vendor};
    return {Verdict::Ok, "device library: " + dll.path + ", " + (machine == 0x14c ? "32-bit" : "64-bit") +
                             ", ordinals 1, 3, 5, 6 and 7 exported",
            ""};
}

Finding JudgeWaveform(const WaveformFile &file)
{
    if (file.present) return {Verdict::Ok, "waveform file: " + file.path, ""};
    if (file.error != 0)
        return {Verdict::Unknown, "waveform file: " + file.path + " cannot be looked at (error " + Number(file.error) + ")",
                "run this check from a Command Prompt opened as administrator"};
    return {Verdict::Fail, "waveform file: no " + file.path + ": the device library cannot load it",
            "put the waveform file at " + file.path + ", the one path the program loads"};
}

std::string TaskKind(const Task &task)
{
    if (task.state != Task::Registered) return "";
    if (task.xml.find("<LogonTrigger") != std::string::npos) return "logon";
    if (task.xml.find("<BootTrigger") != std::string::npos) return "boot";
    return "";
}

Findings JudgeTask(const Task &task)
{
    const std::string kind = TaskKind(task);
    if (task.state != Task::Registered) {
        const std::string why = task.state == Task::NotFound ? "not registered"
                                : task.state == Task::Denied ? "not readable (access denied)"
                                                             : "not readable (error " + Number(task.error) + ")";
        if (!task.elevated && task.state != Task::Unreadable)
            return {{Verdict::Unknown, "task: minute-trigger " + why + " for this user: a boot task is SYSTEM's, seen only by an administrator",
                     "run this check from a Command Prompt opened as administrator"}};
        if (task.state == Task::Unreadable)
            return {{Verdict::Unknown, "task: minute-trigger " + why, "schtasks /Query /TN minute-trigger /XML shows it"}};
        return {{Verdict::Fail, "task: minute-trigger " + why, Recreate(task, "logon")}};
    }
    Findings out;
    out.push_back(task.enabled ? Finding{Verdict::Ok, "task: minute-trigger registered and enabled", ""}
                               : Finding{Verdict::Fail, "task: minute-trigger registered but disabled: it starts nothing",
                                         "schtasks /Change /TN minute-trigger /ENABLE"});
    const std::string &x = task.xml;
    std::string text;
    // Wine keeps a registered task's settings but no trigger or action.
    if (task.wine && kind.empty()) {
        out.push_back({Verdict::Unknown, "task trigger: Wine keeps no trigger of a registered task", "check it on the PC itself"});
    } else {
        const size_t at = x.find(kind == "boot" ? "<BootTrigger" : "<LogonTrigger");
        const size_t end = x.find(kind == "boot" ? "</BootTrigger>" : "</LogonTrigger>", at);
        std::string interval, duration, stop;
        if (kind.empty())
            out.push_back({Verdict::Fail, "task trigger: neither at logon nor at boot", Recreate(task, "logon")});
        else if (!Element(x, "Interval", &interval, at, end))
            out.push_back({Verdict::Fail, "task trigger: at " + kind + ", not repeated: a launcher that ends stays ended",
                           Recreate(task, kind)});
        else if (Element(x, "Duration", &duration, at, end) && !duration.empty())
            out.push_back({Verdict::Fail, "task trigger: at " + kind + ", repeated every " + interval + " for " + duration + " only",
                           Recreate(task, kind)});
        else if (Element(x, "StopAtDurationEnd", &stop, at, end) && stop == "true")
            out.push_back({Verdict::Fail, "task trigger: at " + kind + ", stops the launcher at the repetition's end",
                           Recreate(task, kind)});
        else if (interval != "PT1M")
            out.push_back({Verdict::Warn, "task trigger: at " + kind + ", repeated every " + interval + " for good: a launcher that ends is started again that much later",
                           Recreate(task, kind)});
        else
            out.push_back({Verdict::Ok, "task trigger: at " + kind + ", repeated every minute for good", ""});
    }
    // The task's own settings, not a trigger's time limit of the same name.
    const size_t at = x.find("<Settings") == std::string::npos ? x.size() : x.find("<Settings");
    const std::string limit = ElementOr(x, "ExecutionTimeLimit", "PT72H", at);
    const std::string multiple = ElementOr(x, "MultipleInstancesPolicy", "IgnoreNew", at);
    const std::string battery = ElementOr(x, "StopIfGoingOnBatteries", "true", at);
    Finding settings{Verdict::Ok, "task settings: time limit " + limit + ", " + multiple, ""};
    if (limit != "PT0S" && limit != "P0D")
        Add(&settings, Verdict::Fail, "the Task Scheduler ends the launcher after " + limit, Recreate(task, kind));
    if (multiple != "IgnoreNew")
        Add(&settings, Verdict::Fail, multiple + " in place of IgnoreNew: each minute's repetition disturbs the running launcher",
            Recreate(task, kind));
    if (battery != "false" || ElementOr(x, "DisallowStartIfOnBatteries", "true", at) != "false")
        Add(&settings, Verdict::Warn, "stopped or kept from starting on battery", Recreate(task, kind));
    if (settings.fix.find(" ; ") != std::string::npos) settings.fix = Recreate(task, kind);
    out.push_back(settings);
    std::string command, arguments;
    const bool exec = Element(x, "Command", &command);
    Element(x, "Arguments", &arguments);
    const std::string launcher = task.folder + "run-minute-trigger.cmd";
    // The one entity a folder's name brings into the definition.
    for (size_t at; (at = arguments.find("&amp;")) != std::string::npos;) arguments.replace(at, 5, "&");
    if (!exec && task.wine)
        out.push_back({Verdict::Unknown, "task action: Wine keeps no action of a registered task", "check it on the PC itself"});
    else if (Lower(command + " " + arguments).find(Lower(launcher)) == std::string::npos)
        out.push_back({Verdict::Fail, "task action: runs " + (exec ? command + " " + arguments : std::string("nothing")) +
                                          ", not this folder's " + launcher,
                       Recreate(task, kind)});
    else
        out.push_back({Verdict::Ok, "task action: runs " + launcher, ""});
    return out;
}

Finding JudgeRunning(const Running &r)
{
    if (r.programs > 0)
        return {r.launcher ? Verdict::Ok : Verdict::Warn,
                std::string("running now: ") + (r.launcher ? "the launcher and " : "") + "minute-trigger from " + r.folder +
                    (r.launcher ? "" : ", with no launcher above it to start it again once it ends"),
                "schtasks /Run /TN minute-trigger, once this copy is stopped (INSTALL.txt, \"Stopping it\")"};
    if (r.unreadable > 0 && !r.elevated)
        return {Verdict::Unknown, "running now: a minute-trigger runs, from a folder only an administrator may see",
                "run this check from a Command Prompt opened as administrator"};
    return {Verdict::Fail, "running now: no minute-trigger from " + r.folder,
            "schtasks /Run /TN minute-trigger; the launcher's log says why it stopped"};
}

Findings JudgePermissions(const std::vector<PathSecurity> &paths, const std::string &folder, bool wine)
{
    if (wine)
        return {{Verdict::Unknown, "permissions: Wine enforces none of Windows' own: every file is its Unix user's",
                 "check it on the PC itself"}};
    const char *repair = "repair the package (Programs and Features, minute-trigger, Repair; or, from a Command Prompt opened "
                         "as administrator, msiexec /fa with the .msi it was installed from, then /qn /norestart)";
    std::vector<lock_rule::Descriptor> read(paths.size());
    std::vector<bool> whole(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) whole[i] = paths[i].read && lock_rule::Parse(paths[i].sddl.c_str(), &read[i]);
    // In place of a folder whose permissions could not be read: one that
    // allows nothing, so that what lies in it is judged by its own.
    lock_rule::Descriptor nothing;
    lock_rule::Parse("O:SYD:", &nothing);
    Findings out;
    std::string unread;
    for (size_t i = 0; i < paths.size(); ++i) {
        const PathSecurity &p = paths[i];
        if (!p.read) {
            unread += (unread.empty() ? "" : ", ") + p.path;
            continue;
        }
        if (!whole[i]) {
            out.push_back({Verdict::Fail, "permissions: " + p.path + ": entries neither this check nor the installer reads: " + p.sddl,
                           "remove the entries with a condition or for an object type (Properties, Security, Advanced), then " +
                               std::string(repair)});
            continue;
        }
        const bool held = p.parent >= 0 && static_cast<size_t>(p.parent) < paths.size();
        const lock_rule::Descriptor *parent = p.parent < 0 ? nullptr : held && whole[p.parent] ? &read[p.parent] : &nothing;
        const lock_rule::Verdict v = lock_rule::Judge(p.role, read[i], parent);
        if (v.safe) continue;
        // Where the installer would refuse it, what mends it for the
        // installer mends it here; everything else the package's own lock does.
        const lock_rule::Plan plan = lock_rule::PlanFor(p.role, read[i], parent, false);
        out.push_back({Verdict::Fail, "permissions: " + p.path + ": " + v.why,
                       plan.action == lock_rule::Plan::Refuse ? std::string(plan.mend) : repair});
    }
    if (!unread.empty())
        out.push_back({Verdict::Unknown, "permissions: cannot be read for " + unread,
                       "run this check from a Command Prompt opened as administrator"});
    if (out.empty())
        out.push_back({Verdict::Ok,
                       "permissions: from the drive's root down to " + folder +
                           " and to the waveform file, only Administrators, SYSTEM or TrustedInstaller may change or own them",
                       ""});
    return out;
}

unsigned long EffectivePoll(const TimeService &s)
{
    const std::string type = Lower(s.type);
    if (type == "nosync" || !s.poll_read) return 0;
    const unsigned long least = 1ul << std::min(s.min_poll, 31ul), most = 1ul << std::min(s.max_poll, 31ul);
    // A server flagged 0x1 is polled every SpecialPollInterval, which
    // Windows 10 1703 (build 15063) and later keep within the two bounds;
    // otherwise Windows Time moves between them, up to the longer.
    bool special = false;
    for (size_t at = s.ntp_server.find(','); at != std::string::npos; at = s.ntp_server.find(',', at + 1))
        special = special || (strtoul(s.ntp_server.c_str() + at + 1, nullptr, 16) & 1) != 0;
    if (!special) return most;
    if (s.build >= 15063) return std::max(least, std::min(most, s.special_poll));
    return s.special_poll;
}

Findings JudgeTimeService(const TimeService &s, const ClockSync &sync)
{
    Findings out;
    const bool adjusted = JudgeClock(sync) == ClockState::Synchronised;
    const char *start = "sc config w32time start= auto && sc triggerinfo w32time start/networkon stop/networkoff && net start w32time";
    if (s.state == TimeService::Missing)
        return {{Verdict::Unknown, "Windows Time: no such service here (Wine has none)", "check it on the PC itself"}};
    if (s.state == TimeService::Unreadable)
        return {{Verdict::Unknown, "Windows Time: its state cannot be read (error " + Number(s.error) + ")",
                 "sc query w32time shows it"}};
    const char *how = s.start_type == 2 ? "automatic" : s.start_type == 3 ? "manual" : s.start_type == 4 ? "disabled" : "other";
    const std::string state = std::string("Windows Time: ") + (s.state == TimeService::Running ? "running" : "stopped") +
                              ", start " + how + (s.trigger_start ? " (on a trigger)" : "");
    if (s.start_type == 4 && adjusted)
        out.push_back({Verdict::Ok, state + ": another time service adjusts the clock", ""});
    else if (s.state != TimeService::Running)
        out.push_back({Verdict::Fail, state + ": nothing corrects the clock", start});
    else if (s.start_type != 2)
        out.push_back({Verdict::Warn, state + ": it may stop soon after Windows starts and stay stopped", start});
    else
        out.push_back({Verdict::Ok, state, ""});
    if (s.start_type == 4 && adjusted) return out;
    const unsigned long poll = EffectivePoll(s);
    std::string source = "Windows Time source: Type " + (s.type.empty() ? std::string("unset") : s.type) + ", NtpServer " +
                         (s.ntp_server.empty() ? std::string("unset") : s.ntp_server);
    const char *often =
        "the high-accuracy settings in INSTALL.txt, \"Keeping the clock on UTC\" (MinPollInterval and MaxPollInterval 6, "
        "SpecialPollInterval 64, then w32tm /config /update)";
    if (!s.poll_read)
        out.push_back({Verdict::Unknown, source + "; its poll interval cannot be read", "w32tm /query /configuration shows it"});
    else if (poll == 0)
        out.push_back({Verdict::Fail, source + ": it never polls a time server",
                       "w32tm /config /manualpeerlist:\"TIMESERVER,0x8\" /syncfromflags:manual /update"});
    else if (poll > 1024)
        out.push_back({Verdict::Warn,
                       source + ", polled every " + Number(poll) + " s (SpecialPollInterval " + Number(s.special_poll) +
                           ", MinPollInterval " + Number(s.min_poll) + ", MaxPollInterval " + Number(s.max_poll) +
                           "): the clock drifts freely in between",
                       often});
    else
        out.push_back({Verdict::Ok, source + ", polled every " + Number(poll) + " s", ""});
    return out;
}

Findings JudgePower(const Power &p)
{
    if (!p.readable)
        return {{Verdict::Unknown, "power: the plan cannot be read (" + p.why + ")", "powercfg /query shows it"}};
    Findings out;
    auto minutes = [](unsigned long s) { return s == 0 ? std::string("never") : "after " + Number((s + 59) / 60) + " min"; };
    const char *policy = " (set by Group Policy: Computer Configuration > Administrative Templates > System > Power Management)";
    Finding sleep{Verdict::Ok, "power on mains: sleep " + minutes(p.sleep) + (p.sleep_policy ? " (Group Policy)" : "") +
                                   ", hibernate " + minutes(p.hibernate) + (p.hibernate_policy ? " (Group Policy)" : ""),
                  ""};
    if (p.sleep != 0 || p.hibernate != 0) {
        sleep.verdict = Verdict::Warn;
        sleep.line += ": the program holds off idle sleep only while it runs";
        sleep.fix = p.sleep_policy || p.hibernate_policy ? std::string("change the policy") + policy
                                                         : "powercfg /change standby-timeout-ac 0 && powercfg /change hibernate-timeout-ac 0";
    }
    out.push_back(sleep);
    if (!p.usb_read)
        out.push_back({Verdict::Unknown, "USB selective suspend: not in this power plan", "powercfg /query shows the plan's settings"});
    else if (p.usb_suspend != 0)
        out.push_back({Verdict::Warn,
                       std::string("USB selective suspend: enabled") + (p.usb_policy ? " (Group Policy)" : "") +
                           ": Windows may switch the device off while the program holds it",
                       p.usb_policy ? std::string("change the policy") + policy
                                    : "powercfg /setacvalueindex SCHEME_CURRENT 2a737441-1930-4402-8d77-b2bebba308a3 "
                                      "48e6b7a6-50f5-4782-a5d4-53bb8f07e226 0 && powercfg /setactive SCHEME_CURRENT"});
    else
        out.push_back({Verdict::Ok, std::string("USB selective suspend: disabled") + (p.usb_policy ? " (Group Policy)" : ""), ""});
    return out;
}

Finding JudgeAutoLogon(const AutoLogon &l)
{
    if (l.task_kind == "boot") return {Verdict::Ok, "automatic logon: not needed, the boot task starts with Windows", ""};
    if (!l.readable)
        return {Verdict::Unknown, "automatic logon: Winlogon's values cannot be read", "run this check from a Command Prompt opened as administrator"};
    const char *fix = "Sysinternals Autologon, or netplwiz (INSTALL.txt, \"Left alone for months\")";
    if (l.auto_admin_logon != "1" || l.user.empty())
        return {Verdict::Warn, "automatic logon: off: after a restart or a power cut nothing triggers until someone logs on", fix};
    if (l.count_set)
        return {Verdict::Warn, "automatic logon: as " + l.user + ", but only " + Number(l.count) + " more times (AutoLogonCount)",
                std::string("reg delete \"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\" /v AutoLogonCount /f, then ") + fix};
    return {Verdict::Ok, "automatic logon: as " + l.user, ""};
}

Findings JudgeUpdatePolicy(const UpdatePolicy &p)
{
    const std::string key = "HKLM\\SOFTWARE\\Policies\\Microsoft\\Windows\\WindowsUpdate";
    Findings out;
    if (p.drivers_set && p.exclude_drivers == 1)
        out.push_back({Verdict::Ok, "Windows Update: drivers excluded", ""});
    else
        out.push_back({Verdict::Warn, "Windows Update: drivers included: it may replace the device's USB driver",
                       "reg add " + key + " /v ExcludeWUDriversInQualityUpdate /t REG_DWORD /d 1 /f"});
    if (p.reboot_set && p.no_reboot == 1 && p.options_set && p.au_options == 4)
        out.push_back({Verdict::Ok, "Windows Update: no automatic restart while someone is logged on", ""});
    else
        out.push_back({Verdict::Warn,
                       std::string("Windows Update: may restart the PC on its own") +
                           (p.reboot_set && p.no_reboot == 1 ? " (NoAutoRebootWithLoggedOnUsers needs AUOptions 4)" : ""),
                       "reg add " + key + "\\AU /v NoAutoRebootWithLoggedOnUsers /t REG_DWORD /d 1 /f && reg add " + key +
                           "\\AU /v AUOptions /t REG_DWORD /d 4 /f"});
    return out;
}
