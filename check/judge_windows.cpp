// The Windows checks, from what the reader found: Windows itself, the
// device DLL, the waveform file, the task, what runs, the permissions,
// Windows Time, power, automatic logon and Windows Update.
#include "judge.h"
#include "layout.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

const char LeftAlone[] = LAYOUT_INSTALL_TXT ", \"Left alone for months\"";
const char Repair[] =
    "repair the package (Programs and Features, minute-trigger, Repair; or, from a Command Prompt opened "
    "as administrator, msiexec /fa with the .msi it was installed from, then /qn /norestart)";

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

// The worst of two verdicts, unknown counting as least and a note as more
// than ok.
Verdict Worse(Verdict a, Verdict b)
{
    auto rank = [](Verdict v) {
        return v == Verdict::Fail ? 4 : v == Verdict::Warn ? 3 : v == Verdict::Note ? 2 : v == Verdict::Ok ? 1 : 0;
    };
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
bool Element(const std::string &xml, const char *name, std::string *text, size_t from = 0,
             size_t to = std::string::npos)
{
    const std::string open = std::string("<") + name;
    for (size_t at = xml.find(open, from); at != std::string::npos && at < to; at = xml.find(open, at + 1)) {
        const char next = at + open.size() < xml.size() ? xml[at + open.size()] : '\0';
        if (next != '>' && next != ' ' && next != '/') continue;
        const size_t start = xml.find('>', at);
        if (start == std::string::npos) return false;
        if (xml[start - 1] == '/') {
            text->clear();
            return true;
        }
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
    return "from a Command Prompt opened as administrator: schtasks /Create /TN " LAYOUT_TASK_NAME " /XML \"" +
           task.folder + (kind == "boot" ? LAYOUT_BOOT_TASK : LAYOUT_LOGON_TASK) + "\" /F";
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
    // End of support by minute-trigger-INSTALL.txt's dates: LTSC editions (EditionID
    // ...S, and their N editions without the media features, ...SN) run
    // longer than the general ones of the same build.
    std::string edition = w.edition;
    if (!edition.empty() && edition.back() == 'N') edition.pop_back();
    const bool ltsc = !edition.empty() && edition.back() == 'S' && edition.find("Enterprise") != std::string::npos;
    int ended = 0;
    const char *date = "";
    if (w.major == 6 && w.minor == 1)
        ended = 20200114, date = "14 January 2020";
    else if (w.major == 6 && w.minor == 2)
        ended = 20160112, date = "12 January 2016";
    else if (w.major == 6 && w.minor == 3)
        ended = 20230110, date = "10 January 2023";
    else if (w.major == 10 && w.build < 22000) {
        if (ltsc && w.build == 17763)
            ended = 20290109, date = "9 January 2029";
        else if (ltsc && w.build == 19044 && w.edition.rfind("IoT", 0) == 0)
            ended = 20320113, date = "13 January 2032";
        else if (ltsc && w.build == 19044)
            ended = 20270112, date = "12 January 2027";
        else if (ltsc && w.build == 14393)
            ended = 20261013, date = "13 October 2026";
        else
            ended = 20251014, date = "14 October 2025";
    }
    // Windows Server shares the builds, not the dates.
    if (w.product.find("Server") != std::string::npos) ended = 0;
    // Neither is mended on this PC: noted, with what can be done.
    if (ended != 0 && today > ended)
        Add(&f, Verdict::Note,
            std::string("its support ended on ") + date +
                ": no security fixes since, unless in paid Extended Security Updates; keep the PC off the internet, "
                "or move it to a serviced edition (" +
                LeftAlone + ")",
            "");
    if (w.edition.rfind("Core", 0) == 0)
        Add(&f, Verdict::Note,
            std::string(
                "a Home edition, which ignores Group Policy: the policies' lines below read the registry values "
                "that stand in for them (") +
                LeftAlone + ")",
            "");
    return f;
}

Finding JudgeProgramBeside(const std::string &program, bool present)
{
    if (present) return {Verdict::Ok, "program: " + program, ""};
    return {Verdict::Fail, "program: no " + program + " beside this check, whose folder every line below is about",
            "run the " LAYOUT_CHECK " that sits beside " LAYOUT_PROGRAM};
}

namespace {

// A PE file's bytes, read with every offset checked: a file too short
// reads as zeros.
struct Pe {
    const std::vector<uint8_t> &b;
    uint32_t u16(size_t at) const { return at + 2 <= b.size() ? static_cast<uint32_t>(b[at] | b[at + 1] << 8) : 0u; }
    uint32_t u32(size_t at) const { return at + 4 <= b.size() ? u16(at) | u16(at + 2) << 16 : 0u; }
    uint32_t header() const { return u32(0x3c); }
    bool valid() const { return u16(0) == 0x5a4d && u32(header()) == 0x4550; }
    // The optional header's data directory `index` (0 exports, 1 imports),
    // whose offset differs between PE32 and PE32+: its address.
    uint32_t directory(int index) const
    {
        const uint32_t optional = header() + 24;
        return u32(optional + (u16(optional) == 0x20b ? 112 : 96) + 8 * index);
    }
    size_t file_offset(uint32_t rva) const
    {
        const uint32_t sections = header() + 24 + u16(header() + 20), count = u16(header() + 6);
        for (uint32_t s = 0; s < count; ++s) {
            const size_t h = sections + s * 40;
            const uint32_t va = u32(h + 12), size = std::max(u32(h + 8), u32(h + 16)), raw = u32(h + 20);
            if (rva >= va && rva < va + size) return rva - va + raw;
        }
        return 0;
    }
};

}  // namespace

std::vector<std::string> PeImports(const std::vector<uint8_t> &bytes)
{
    const Pe pe{bytes};
    std::vector<std::string> names;
    const size_t table = pe.valid() && pe.directory(1) != 0 ? pe.file_offset(pe.directory(1)) : 0;
    // Descriptors of 20 bytes, the name's address at 12, until one of zeros.
    for (size_t d = table; table != 0 && d + 20 <= bytes.size() && pe.u32(d + 12) != 0 && names.size() < 256; d += 20) {
        const size_t at = pe.file_offset(pe.u32(d + 12));
        if (at == 0) break;
        std::string name;
        for (size_t i = at; i < bytes.size() && bytes[i] != 0 && name.size() < 260; ++i)
            name += static_cast<char>(bytes[i]);
        names.push_back(name);
    }
    return names;
}

Finding JudgeDeviceDll(const DeviceDll &dll)
{
    if (!dll.present)
        return {Verdict::Fail, "device library: no " + dll.path + ": the program cannot start",
                "put the vendor's AWG10K.dll beside the program (never the simulated one)"};
    const std::vector<uint8_t> &b = dll.bytes;
    const Pe pe{b};
    const std::string bad = "device library: " + dll.path + " ";
    const char *vendor = "put the vendor's 32-bit AWG10K.dll beside the program";
    if (!pe.valid()) return {Verdict::Fail, bad + "is not a DLL", vendor};
    const uint32_t machine = pe.u16(pe.header() + 4);
    if (machine != dll.expected_machine)
        return {Verdict::Fail,
                bad +
                    (machine == 0x8664  ? "is 64-bit"
                     : machine == 0x14c ? "is 32-bit"
                                        : "is for another processor") +
                    ", unlike the program",
                vendor};
    std::vector<uint32_t> ordinals;
    if (const size_t exports = pe.directory(0) != 0 ? pe.file_offset(pe.directory(0)) : 0) {
        const uint32_t base = pe.u32(exports + 16), functions = pe.u32(exports + 20);
        const size_t table = pe.file_offset(pe.u32(exports + 28));
        for (uint32_t i = 0; table != 0 && i < functions && i < 4096; ++i)
            if (pe.u32(table + 4 * i) != 0) ordinals.push_back(base + i);
    }
    std::string missing;
    for (uint32_t want : {1u, 3u, 5u, 6u, 7u})
        if (std::find(ordinals.begin(), ordinals.end(), want) == ordinals.end())
            missing += (missing.empty() ? "" : ", ") + Number(want);
    if (!missing.empty())
        return {Verdict::Fail, bad + "exports no entry at ordinal " + missing + ": not the device's library", vendor};
    // Windows loads its imports before it: one not found stops every start.
    if (!dll.missing_imports.empty()) {
        std::string names;
        for (const std::string &n : dll.missing_imports) names += (names.empty() ? "" : ", ") + n;
        return {
            Verdict::Fail,
            bad + "needs " + names + ", found neither beside the program nor in " + dll.system_folder +
                ": the program cannot start",
            "install what the vendor names for it (a 32-bit Visual C++ runtime's DLLs come with Microsoft's Visual C++ "
            "Redistributable, x86), or put " +
                names + " beside the program"};
    }
    // The simulated DLL reads its settings from these variables; the
    // vendor's has no reason to name them.
    static const char Marker[] = "AWG10K_SIM_DEVICES";
    if (std::search(b.begin(), b.end(), Marker, Marker + sizeof Marker - 1) != b.end())
        return {Verdict::Warn, bad + "is the simulated one: its trigger lines come with no device triggered", vendor};
    return {Verdict::Ok,
            "device library: " + dll.path + ", " + (machine == 0x14c ? "32-bit" : "64-bit") +
                ", ordinals 1, 3, 5, 6 and 7 exported",
            ""};
}

Finding JudgeWaveform(const WaveformFile &file)
{
    if (file.present) return {Verdict::Ok, "waveform file: " + file.path, ""};
    if (file.error != 0)
        return {Verdict::Unknown,
                "waveform file: " + file.path + " cannot be looked at (error " + Number(file.error) + ")",
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
            return {{Verdict::Unknown,
                     "task: minute-trigger " + why +
                         " for this user: a boot task is SYSTEM's, seen only by an administrator",
                     "run this check from a Command Prompt opened as administrator"}};
        if (task.state == Task::Unreadable)
            return {{Verdict::Unknown, "task: minute-trigger " + why,
                     "schtasks /Query /TN " LAYOUT_TASK_NAME " /XML shows it"}};
        return {{Verdict::Fail, "task: minute-trigger " + why, Recreate(task, "logon")}};
    }
    Findings out;
    out.push_back(task.enabled
                      ? Finding{Verdict::Ok, "task: minute-trigger registered and enabled", ""}
                      : Finding{Verdict::Fail, "task: minute-trigger registered but disabled: it starts nothing",
                                "schtasks /Change /TN " LAYOUT_TASK_NAME " /ENABLE"});
    const std::string &x = task.xml;
    std::string text;
    // Wine keeps a registered task's settings but no trigger or action.
    if (task.wine && kind.empty()) {
        out.push_back({Verdict::Unknown, "task trigger: Wine keeps no trigger of a registered task",
                       "check it on the PC itself"});
    } else {
        const size_t at = x.find(kind == "boot" ? "<BootTrigger" : "<LogonTrigger");
        const size_t end = x.find(kind == "boot" ? "</BootTrigger>" : "</LogonTrigger>", at);
        std::string interval, duration, stop, enabled, ends, limit;
        // An end boundary in local time, as the definition writes it.
        const bool ending = Element(x, "EndBoundary", &ends, at, end) && ends.size() >= 19;
        if (kind.empty())
            out.push_back({Verdict::Fail, "task trigger: neither at logon nor at boot", Recreate(task, "logon")});
        else if (Element(x, "Enabled", &enabled, at, end) && enabled == "false")
            out.push_back({Verdict::Fail, "task trigger: at " + kind + ", disabled: the task starts nothing",
                           Recreate(task, kind)});
        else if (ending && ends.compare(0, 19, task.now, 0, 19) <= 0)
            out.push_back(
                {Verdict::Fail,
                 "task trigger: at " + kind + ", ended at " + ends.substr(0, 19) + ": it starts nothing since",
                 Recreate(task, kind)});
        else if (ending)
            out.push_back({Verdict::Warn,
                           "task trigger: at " + kind + ", ends at " + ends.substr(0, 19) + ": nothing starts after it",
                           Recreate(task, kind)});
        else if (Element(x, "ExecutionTimeLimit", &limit, at, end) && limit != "PT0S" && limit != "P0D")
            out.push_back({Verdict::Fail,
                           "task trigger: at " + kind + ", its own time limit " + limit + " ends the launcher",
                           Recreate(task, kind)});
        else if (!Element(x, "Interval", &interval, at, end))
            out.push_back({Verdict::Fail,
                           "task trigger: at " + kind + ", not repeated: a launcher that ends stays ended",
                           Recreate(task, kind)});
        else if (Element(x, "Duration", &duration, at, end) && !duration.empty())
            out.push_back({Verdict::Fail,
                           "task trigger: at " + kind + ", repeated every " + interval + " for " + duration + " only",
                           Recreate(task, kind)});
        else if (Element(x, "StopAtDurationEnd", &stop, at, end) && stop == "true")
            out.push_back({Verdict::Fail, "task trigger: at " + kind + ", stops the launcher at the repetition's end",
                           Recreate(task, kind)});
        else if (interval != "PT1M")
            out.push_back({Verdict::Warn,
                           "task trigger: at " + kind + ", repeated every " + interval +
                               " for good: a launcher that ends is started again that much later",
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
        Add(&settings, Verdict::Fail,
            multiple + " in place of IgnoreNew: each minute's repetition disturbs the running launcher",
            Recreate(task, kind));
    if (battery != "false" || ElementOr(x, "DisallowStartIfOnBatteries", "true", at) != "false")
        Add(&settings, Verdict::Warn, "stopped or kept from starting on battery", Recreate(task, kind));
    if (settings.fix.find(" ; ") != std::string::npos) settings.fix = Recreate(task, kind);
    out.push_back(settings);
    std::string command, arguments;
    const bool exec = Element(x, "Command", &command);
    Element(x, "Arguments", &arguments);
    const std::string launcher = task.folder + LAYOUT_LAUNCHER;
    // The one entity a folder's name brings into the definition.
    for (size_t at; (at = arguments.find("&amp;")) != std::string::npos;) arguments.replace(at, 5, "&");
    if (!exec && task.wine)
        out.push_back(
            {Verdict::Unknown, "task action: Wine keeps no action of a registered task", "check it on the PC itself"});
    else if (Lower(command + " " + arguments).find(Lower(launcher)) == std::string::npos)
        out.push_back({Verdict::Fail,
                       "task action: runs " + (exec ? command + " " + arguments : std::string("nothing")) +
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
                std::string("running now: ") + (r.launcher ? "the launcher and " : "") + "minute-trigger from " +
                    r.folder + (r.launcher ? "" : ", with no launcher above it to start it again once it ends"),
                "schtasks /Run /TN " LAYOUT_TASK_NAME ", once this copy is stopped (" LAYOUT_INSTALL_TXT
                ", \"Stopping it\")"};
    if (r.unreadable > 0 && !r.elevated)
        return {Verdict::Unknown, "running now: a minute-trigger runs, from a folder only an administrator may see",
                "run this check from a Command Prompt opened as administrator"};
    return {Verdict::Fail, "running now: no minute-trigger from " + r.folder,
            "schtasks /Run /TN " LAYOUT_TASK_NAME "; the launcher's log says why it stopped"};
}

Findings JudgePermissions(const std::vector<PathSecurity> &paths, const std::string &folder, bool wine)
{
    if (wine)
        return {{Verdict::Unknown, "permissions: Wine enforces none of Windows' own: every file is its Unix user's",
                 "check it on the PC itself"}};
    const char *repair = Repair;
    std::vector<lock_rule::Descriptor> read(paths.size());
    std::vector<bool> whole(paths.size());
    for (size_t i = 0; i < paths.size(); ++i)
        whole[i] = paths[i].read && lock_rule::Parse(paths[i].sddl.c_str(), &read[i]);
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
            out.push_back({Verdict::Fail,
                           "permissions: " + p.path + ": entries neither this check nor the installer reads: " + p.sddl,
                           "remove the entries with a condition, for an object type, or beyond the " +
                               std::to_string(lock_rule::kMaxAces) + "th (Properties, Security, Advanced), then " +
                               repair});
            continue;
        }
        const bool held = p.parent >= 0 && static_cast<size_t>(p.parent) < paths.size();
        const lock_rule::Descriptor *parent = p.parent < 0              ? nullptr
                                              : held && whole[p.parent] ? &read[p.parent]
                                                                        : &nothing;
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
        out.push_back(
            {Verdict::Ok,
             "permissions: from the drive's root down to " + folder +
                 " and to the waveform file, only Administrators, SYSTEM or TrustedInstaller may change or own them",
             ""});
    return out;
}

Findings JudgeSavedBefore(const SavedPermissions &saved, const std::string &folder)
{
    if (!saved.readable)
        return {{Verdict::Unknown,
                 "before the install: the permissions the install changed and saved cannot be read (error " +
                     Number(saved.error) + ")",
                 "run this check from a Command Prompt opened as administrator"}};
    struct Saved {
        std::string path;
        lock_rule::Descriptor before;
        bool whole;
    };
    std::vector<Saved> objects;
    for (const std::string &value : saved.values) {
        const size_t path = value.find('\n'), before = value.find('\n', path + 1);
        if (path == std::string::npos || before == std::string::npos) continue;
        objects.push_back({value.substr(0, path), {}, false});
        objects.back().whole =
            lock_rule::Parse(value.substr(path + 1, before - path - 1).c_str(), &objects.back().before);
    }
    // Not saved, the folder was locked already: it let no one else delete
    // what it held.
    lock_rule::Descriptor nothing;
    lock_rule::Parse("O:SYD:", &nothing);
    const lock_rule::Descriptor *parent = &nothing;
    for (const Saved &o : objects)
        if (Lower(o.path) == Lower(folder) && o.whole) parent = &o.before;
    std::vector<std::pair<std::string, std::string>> open;  // name, who could change it
    bool any = false;
    for (const Saved &o : objects) {
        const std::string name = o.path.substr(std::min(folder.size(), o.path.size()));
        if (Lower(o.path.substr(0, folder.size())) != Lower(folder) || name.empty() ||
            name.find('\\') != std::string::npos || lock_rule::RoleOfFile(name.c_str()) != lock_rule::Role::Loadable)
            continue;
        any = true;
        const lock_rule::Verdict v = o.whole ? lock_rule::Judge(lock_rule::Role::Loadable, o.before, parent)
                                             : lock_rule::Verdict{false, "its saved permissions cannot be read"};
        if (!v.safe) open.push_back({name, v.why});
    }
    if (!any) return {};
    if (open.empty())
        return {{Verdict::Ok,
                 "before the install: users could change none of the files the program loads from " +
                     folder.substr(0, folder.size() - 1),
                 ""}};
    // Names that share who could change them, as a vendor's installer
    // leaves them, are said once.
    std::string line = "before the install, users could change: ";
    for (size_t i = 0; i < open.size(); ++i) {
        line += open[i].first;
        if (i + 1 == open.size() || open[i + 1].second != open[i].second) line += " (who: " + open[i].second + ")";
        if (i + 1 < open.size()) line += ", ";
    }
    // A note: what was saved at the first install stays until the uninstall,
    // so no step on this PC clears the line, and a warning that never clears
    // would keep the check from ever exiting 0.
    return {{Verdict::Note, line + ": reinstall the vendor's software from its own medium, then " + Repair, ""}};
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

namespace {

// SERVICE_TRIGGER_TYPE_DOMAIN_JOIN's two events, and the network's first
// address (SERVICE_TRIGGER_TYPE_IP_ADDRESS_AVAILABILITY).
const char DomainJoined[] = "1ce20aba-9851-4421-9430-1ddeb766e809",
           NotDomainJoined[] = "ddaf516e-58c2-4866-9574-c3b615d42ea1";

// A domain trigger's event comes on this PC when it is the PC's own state;
// the others (the network's) come and go.
bool Fires(const ServiceTrigger &t, bool domain)
{
    return t.type != 3 || t.subtype == (domain ? DomainJoined : NotDomainJoined);
}

// Started with Windows and whenever the network comes, stopped only when it
// goes: Microsoft's own method (KB 2385818).
const char StartWithWindows[] =
    "sc config w32time start= auto && sc triggerinfo w32time start/networkon stop/networkoff";
const char Peer[] =
    "w32tm /config /manualpeerlist:\"TIMESERVER,0x8\" /syncfromflags:manual /update (TIMESERVER standing for the time "
    "server's name: the lab's own, or time.windows.com)";
// What a w32tm command needs first, which answers only while the service
// runs (0x80070426); a disabled service is started only once enabled.
std::string StartFirst(const TimeService &s)
{
    if (s.state != TimeService::Stopped) return "";
    return std::string(s.start_type == 4 ? "sc config w32time start= demand && " : "") + "net start w32time && ";
}

const char Policy[] =
    "change the policy, then gpupdate /force: Computer Configuration > Administrative Templates > System > Windows Time "
    "Service > Time Providers > Configure Windows NTP Client (the poll bounds: Windows Time Service > Global "
    "Configuration Settings)";

}  // namespace

Findings JudgeTimeService(const TimeService &s, const ClockSync &sync)
{
    if (s.state == TimeService::Missing)
        return {{Verdict::Unknown, "Windows Time: no such service here (Wine has none)", "check it on the PC itself"}};
    if (s.state == TimeService::Unreadable)
        return {{Verdict::Unknown, "Windows Time: its state cannot be read (error " + Number(s.error) + ")",
                 "sc query w32time shows it"}};
    const bool running = s.state == TimeService::Running;
    const char *how = s.start_type == 2   ? "automatic"
                      : s.start_type == 3 ? "manual"
                      : s.start_type == 4 ? "disabled"
                                          : "other";
    const std::string state = std::string("Windows Time: ") + (running ? "running" : "stopped") + ", start " + how +
                              (s.triggers.empty() ? "" : " (on a trigger)");
    // The clock adjusted while Windows Time is stopped: another time service
    // keeps it, and Windows Time must stay stopped beside it.
    if (!running && JudgeClock(sync) == ClockState::Synchronised) {
        if (s.start_type == 4) return {{Verdict::Ok, state + ": another time service adjusts the clock", ""}};
        return {{Verdict::Warn,
                 state + ": another time service adjusts the clock, and Windows Time may start beside it",
                 "sc config w32time start= disabled"}};
    }
    bool stops = false, starts = s.start_type == 2;
    for (const ServiceTrigger &t : s.triggers) {
        stops = stops || (!t.start && t.type == 3 && Fires(t, s.domain));
        starts = starts || (t.start && (t.type == 2 || t.type == 3) && Fires(t, s.domain));
    }
    const std::string stopped_by = std::string(": a trigger stops it whenever this PC is ") +
                                   (s.domain ? "joined to a domain" : "in no domain") +
                                   ", as it is: it stops again after each start (KB 2385818)";
    Findings out;
    if (!running)
        out.push_back({Verdict::Fail, state + ": nothing corrects the clock" + (stops ? stopped_by : ""),
                       std::string(StartWithWindows) + " && net start w32time"});
    else if (stops)
        out.push_back({Verdict::Warn, state + stopped_by, StartWithWindows});
    else if (!starts)
        out.push_back(
            {Verdict::Warn, state + ": it may stop soon after Windows starts and stay stopped", StartWithWindows});
    else
        out.push_back({Verdict::Ok, state, ""});

    const unsigned long poll = EffectivePoll(s);
    std::string source = std::string("Windows Time source") + (s.policy ? " (Group Policy)" : "") + ": Type " +
                         (s.type.empty() ? std::string("unset") : s.type) + ", NtpServer " +
                         (s.ntp_server.empty() ? std::string("unset") : s.ntp_server);
    const std::string first = StartFirst(s);
    const std::string peer = s.policy ? Policy : first + Peer;
    const std::string config = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\W32Time\\";
    const std::string often =
        s.policy ? std::string(Policy)
                 : first + "reg add " + config + "Config /v MinPollInterval /t REG_DWORD /d 6 /f && reg add " + config +
                       "Config /v MaxPollInterval /t REG_DWORD /d 6 /f && reg add " + config +
                       "TimeProviders\\NtpClient /v SpecialPollInterval /t REG_DWORD /d 64 /f && w32tm /config /update";
    if (!s.poll_read)
        out.push_back(
            {Verdict::Unknown, source + "; its poll interval cannot be read", "w32tm /query /configuration shows it"});
    else if (poll == 0)
        out.push_back({Verdict::Fail, source + ": it never polls a time server", peer});
    else if (Lower(s.type) == "nt5ds" && !s.domain)
        out.push_back({Verdict::Fail,
                       source + ": NT5DS takes the time from a domain, and this PC is in none: it syncs with nothing",
                       peer});
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

Findings JudgeWindowsClock(const ClockSync &sync, const ClockOffset &offset, const TimeService &s)
{
    const std::string first = StartFirst(s);
    Finding clock =
        JudgeClockLine(sync, "", first + "w32tm /resync, then the Windows Time lines' fixes keep it corrected");
    if (clock.verdict == Verdict::Unknown && s.state != TimeService::Missing)
        clock.fix = first + "w32tm /query /status shows the source and the last synchronisation";
    // Another time service keeping the clock is asked, not Windows Time.
    const bool other = s.state == TimeService::Stopped && JudgeClock(sync) == ClockState::Synchronised;
    const std::string fix = !offset.measured
                                ? "w32tm /stripchart /computer:TIMESERVER /samples:3 measures it (TIMESERVER "
                                  "standing for the time server's name)"
                            : other ? "the time service that keeps the clock: see its own status"
                                    : first + "w32tm /resync /force, then the Windows Time lines' fixes keep it there";
    return {clock, JudgeClockOffset(offset, fix)};
}

Findings JudgePower(const Power &p)
{
    if (!p.readable)
        return {{Verdict::Unknown, "power: the plan cannot be read (" + p.why + ")", "powercfg /query shows it"}};
    Findings out;
    auto value = [](const PowerValue &v) { return v.policy_set ? v.policy : v.plan; };
    auto minutes = [&](const PowerValue &v) {
        const unsigned long s = value(v);
        return (s == 0 ? std::string("never") : "after " + Number((s + 59) / 60) + " min") +
               (v.policy_set ? " (Group Policy)" : "");
    };
    const std::string policy =
        "change the policy: Computer Configuration > Administrative Templates > System > Power Management > ";
    Finding sleep{Verdict::Ok, "power on mains: sleep " + minutes(p.sleep) + ", hibernate " + minutes(p.hibernate), ""};
    if (value(p.sleep) != 0 || value(p.hibernate) != 0) {
        sleep.verdict = Verdict::Warn;
        sleep.line += ": the program holds off idle sleep only while it runs";
        // Where a policy sets a value, a powercfg change is overridden.
        if (value(p.sleep) != 0)
            sleep.fix = p.sleep.policy_set
                            ? policy + "Sleep Settings > Specify the system sleep timeout (plugged in): 0"
                            : "powercfg /change standby-timeout-ac 0";
        if (value(p.hibernate) != 0)
            sleep.fix += (sleep.fix.empty() ? "" : " ; ") +
                         (p.hibernate.policy_set
                              ? policy + "Sleep Settings > Specify the system hibernate timeout (plugged in): 0"
                              : std::string("powercfg /change hibernate-timeout-ac 0"));
    }
    out.push_back(sleep);
    const std::string by = p.usb_suspend.policy_set ? " (Group Policy)" : "";
    if (!p.usb_suspend.read && !p.usb_suspend.policy_set)
        out.push_back({Verdict::Unknown, "USB selective suspend: not in this power plan",
                       "powercfg /query shows the plan's settings"});
    else if (value(p.usb_suspend) != 0)
        out.push_back(
            {Verdict::Warn,
             "USB selective suspend: enabled" + by + ": Windows may switch the device off while the program holds it",
             p.usb_suspend.policy_set
                 ? "change the Group Policy that sets USB selective suspend (power setting "
                   "48e6b7a6-50f5-4782-a5d4-53bb8f07e226) to disabled, then gpupdate /force"
                 : "powercfg /setacvalueindex SCHEME_CURRENT 2a737441-1930-4402-8d77-b2bebba308a3 "
                   "48e6b7a6-50f5-4782-a5d4-53bb8f07e226 0 && powercfg /setactive SCHEME_CURRENT"});
    else
        out.push_back({Verdict::Ok, "USB selective suspend: disabled" + by, ""});
    return out;
}

Findings JudgeEvents(const Events &e)
{
    Findings out;
    if (e.not_synchronised < 0 || e.no_response < 0 || e.no_domain < 0)
        out.push_back({Verdict::Unknown, "Windows Time's events: the System log cannot be read",
                       "Event Viewer > Windows Logs > System, source Time-Service, shows them"});
    else if (e.not_synchronised + e.no_response + e.no_domain == 0)
        out.push_back({Verdict::Ok, "Windows Time's events: none of synchronisation failing in the last 7 days", ""});
    else
        out.push_back(
            {Verdict::Warn,
             "Windows Time's events in the last 7 days: " + std::to_string(e.not_synchronised) +
                 " of the clock unsynchronised for long (36), " + std::to_string(e.no_response) +
                 " of a time server not answering (47), " + std::to_string(e.no_domain) +
                 " of the domain's time asked for in no domain (11)",
             "the Windows Time source line's fix; then the time server named in these events must answer from "
             "this PC: w32tm /stripchart /computer:TIMESERVER /samples:3 (TIMESERVER standing for its name)"});
    if (e.unexpected < 0 || e.asked < 0) {
        out.push_back({Verdict::Unknown, "restarts: the System log cannot be read",
                       "Event Viewer > Windows Logs > System shows them"});
        return out;
    }
    const std::string counts = std::to_string(e.unexpected) + " unexpected shutdowns (6008) and " +
                               std::to_string(e.asked) + " restarts or shutdowns asked for (1074) in the last 30 days";
    // Each one stopped the triggers until Windows and the task came back.
    if (e.unexpected > 0)
        out.push_back(
            {Verdict::Warn, "restarts: " + counts + ": power cuts or crashes",
             "a UPS against power cuts; Event Viewer > Windows Logs > System, before each event 6008, says what "
             "came before"});
    else if (e.asked > 0)
        out.push_back({Verdict::Note, "restarts: " + counts + ": Event Viewer's events 1074 say by whom", ""});
    else
        out.push_back({Verdict::Ok, "restarts: " + counts, ""});
    return out;
}

Finding JudgeFastStartup(const FastStartup &f)
{
    if (!f.hiberboot || !f.hibernate) return {Verdict::Ok, "Fast Startup: off", ""};
    if (f.task_kind != "boot")
        return {Verdict::Ok, "Fast Startup: on, which the logon task does not mind: logon comes after every start", ""};
    return {
        Verdict::Warn,
        "Fast Startup: on: after a shutdown Windows resumes rather than boots, and the boot task's trigger does not come",
        "reg add \"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Power\" /v HiberbootEnabled /t REG_DWORD /d 0 /f"};
}

Finding JudgeAutoLogon(const AutoLogon &l)
{
    if (l.task_kind == "boot")
        return {Verdict::Ok, "automatic logon: not needed, the boot task starts with Windows", ""};
    if (!l.readable)
        return {Verdict::Unknown, "automatic logon: Winlogon's values cannot be read",
                "run this check from a Command Prompt opened as administrator"};
    const char *fix = "Sysinternals Autologon, or netplwiz (" LAYOUT_INSTALL_TXT ", \"Left alone for months\")";
    if (l.auto_admin_logon != "1" || l.user.empty())
        return {Verdict::Warn,
                "automatic logon: off: after a restart or a power cut nothing triggers until someone logs on", fix};
    if (l.count_set)
        return {
            Verdict::Warn,
            "automatic logon: as " + l.user + ", but only " + Number(l.count) + " more times (AutoLogonCount)",
            std::string(
                "reg delete \"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\" /v AutoLogonCount /f, then ") +
                fix};
    // An expired password stops automatic logon (local accounts: after 42
    // days by default), with nobody there to set a new one.
    if (l.password_read && l.password_lasts != 0) {
        const std::string forever = "net accounts /maxpwage:unlimited (every local account's passwords then last)";
        if (l.password_age >= l.password_lasts)
            return {Verdict::Fail, "automatic logon: as " + l.user + ", whose password has expired: the logon fails",
                    "set a new password for " + l.user + ", then " + forever + ", then " + fix};
        return {Verdict::Warn,
                "automatic logon: as " + l.user + ", whose password expires in " +
                    Number(l.password_lasts - l.password_age) + " days: then the logon fails",
                forever};
    }
    return {Verdict::Ok, "automatic logon: as " + l.user, ""};
}

Findings JudgeUpdatePolicy(const UpdatePolicy &p)
{
    const std::string key = "HKLM\\SOFTWARE\\Policies\\Microsoft\\Windows\\WindowsUpdate";
    Findings out;
    // The drivers policy came with Windows 10 1607 (build 14393); before it,
    // the device installation setting keeps Windows Update's drivers away.
    if (p.build < 14393) {
        if (p.search_order_set && p.search_order == 0)
            out.push_back({Verdict::Ok, "Windows Update: never looks for drivers (SearchOrderConfig 0)", ""});
        else
            out.push_back(
                {Verdict::Warn, "Windows Update: looks for drivers: it may replace the device's USB driver",
                 "reg add HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\DriverSearching /v SearchOrderConfig "
                 "/t REG_DWORD /d 0 /f"});
    } else if (p.drivers_set && p.exclude_drivers == 1) {
        out.push_back({Verdict::Ok, "Windows Update: drivers excluded", ""});
    } else {
        out.push_back({Verdict::Warn, "Windows Update: drivers included: it may replace the device's USB driver",
                       "reg add " + key + " /v ExcludeWUDriversInQualityUpdate /t REG_DWORD /d 1 /f"});
    }
    if (p.reboot_set && p.no_reboot == 1 && p.options_set && p.au_options == 4)
        out.push_back({Verdict::Ok, "Windows Update: no automatic restart while someone is logged on", ""});
    else
        out.push_back(
            {Verdict::Warn,
             std::string("Windows Update: may restart the PC on its own") +
                 (p.reboot_set && p.no_reboot == 1 ? " (NoAutoRebootWithLoggedOnUsers needs AUOptions 4)" : ""),
             "reg add " + key + "\\AU /v NoAutoRebootWithLoggedOnUsers /t REG_DWORD /d 1 /f && reg add " + key +
                 "\\AU /v AUOptions /t REG_DWORD /d 4 /f"});
    return out;
}
