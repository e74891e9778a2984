// What minute-trigger-check reads on Linux: the library the installed
// program would load, the unit and its journal, the clock as the program
// reads it and the daemon keeping it, and the sleep inhibitor. Through the
// system's own tools (ldd, systemctl, journalctl, systemd-inhibit), which
// say what an administrator would see by hand.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform.h"
#include "read.h"

namespace {

// COMMAND's output and standard error, and its exit status (-1: could not run).
int Run(const std::string &command, std::string *out)
{
    out->clear();
    FILE *pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out->append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
std::string Quoted(const std::string &text)
{
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}
std::string FirstLine(const std::string &text)
{
    return text.substr(0, text.find('\n'));
}
bool Exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The folder this check runs from: the program is installed beside it.
std::string OwnFolder()
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    const std::string self(path, static_cast<size_t>(n));
    return self.substr(0, self.rfind('/'));
}

// The unit's own LD_LIBRARY_PATH, if a drop-in gives one: the library
// the service loads, not the one this shell's environment would.
std::string UnitLibraryPath()
{
    std::string env;
    if (Run("systemctl show -p Environment --value minute-trigger.service", &env) != 0) return "";
    std::istringstream words(env);
    for (std::string word; words >> word;)
        if (word.rfind("LD_LIBRARY_PATH=", 0) == 0) return word.substr(16);
    return "";
}

LinuxLibrary ReadLibrary(bool systemd)
{
    LinuxLibrary l;
    l.program = OwnFolder() + "/minute-trigger";
    l.program_found = Exists(l.program);
    if (!l.program_found) return l;
    const std::string path = systemd ? UnitLibraryPath() : "";
    std::string out;
    Run("env -u LD_LIBRARY_PATH -u LD_PRELOAD " + (path.empty() ? "" : "LD_LIBRARY_PATH=" + Quoted(path) + " ") +
            "ldd " + Quoted(l.program),
        &out);
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const size_t arrow = line.find(" => ");
        if (line.find("libAWG10K") == std::string::npos || arrow == std::string::npos) continue;
        const std::string found = line.substr(arrow + 4, line.rfind(" (") - arrow - 4);
        if (found.empty() || found[0] != '/') break;  // "not found"
        char real[PATH_MAX];
        l.library = realpath(found.c_str(), real) != nullptr ? real : found;
    }
    if (l.library.empty()) return l;
    std::ifstream file(l.library, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    // The simulated library reads its settings from these variables; a
    // vendor's has no reason to name them.
    l.simulator = bytes.find("AWG10K_SIM_DEVICES") != std::string::npos;
    return l;
}

LastTrigger ReadJournal()
{
    LastTrigger last;
    last.where = "the journal";
    last.now = time(nullptr);
    // Newest first, until an hour of trigger lines: a restart loop may have
    // filled the journal with start-up failures since the last one.
    FILE *pipe = popen("journalctl -u minute-trigger.service -r --no-pager -o cat 2>&1", "r");
    if (pipe == nullptr) {
        last.readable = false;
        last.why = "journalctl cannot be run";
        last.how = "journalctl -u minute-trigger shows it";
        return last;
    }
    std::vector<std::string> lines;
    int triggers = 0;
    char *line = nullptr;
    size_t size = 0;
    int64_t utc;
    for (ssize_t n; triggers < 60 && (n = getline(&line, &size, pipe)) > 0;) {
        lines.emplace_back(line, static_cast<size_t>(n));
        triggers += ParseTriggerLine(lines.back(), &utc);
    }
    free(line);
    // Stopped early, journalctl ends on a broken pipe: only a full read has
    // a status to judge.
    const int status = pclose(pipe);
    std::string out;
    for (auto l = lines.rbegin(); l != lines.rend(); ++l) out += *l;
    const bool failed = triggers < 60 && (!WIFEXITED(status) || WEXITSTATUS(status) != 0);
    if (failed || out.find("insufficient permissions") != std::string::npos ||
        out.find("not seeing messages from other users") != std::string::npos) {
        last.readable = false;
        last.why = failed ? FirstLine(out) : "this user sees only part of it";
        last.how = "run it as root (sudo minute-trigger-check), or as a member of the systemd-journal group";
        return last;
    }
    FindLastTrigger(out, &last);
    return last;
}

// The time daemons running now, by their process names (the kernel keeps
// 15 characters of a name).
std::vector<std::string> ReadDaemons()
{
    static const char *const Daemons[][2] = {{"chronyd", "chronyd"}, {"systemd-timesyn", "systemd-timesyncd"},
                                             {"ntpd", "ntpd"},       {"ptp4l", "ptp4l"},
                                             {"phc2sys", "phc2sys"}, {"timemaster", "timemaster"}};
    std::vector<std::string> found;
    if (DIR *proc = opendir("/proc")) {
        while (const dirent *e = readdir(proc)) {
            std::ifstream comm(std::string("/proc/") + e->d_name + "/comm");
            std::string name;
            if (!std::getline(comm, name)) continue;
            for (const auto &d : Daemons)
                if (name == d[0]) found.push_back(d[1]);
        }
        closedir(proc);
    }
    return found;
}

// The offset as the daemon keeping the clock reports it. With none, no
// server is configured to ask, and a check must not reach out to one of
// its own choosing (a lab network may allow only the lab's time server).
ClockOffset ReadOffset(const std::string &keeper)
{
    const char *ask = keeper == "chronyd"             ? "chronyc tracking"
                      : keeper == "systemd-timesyncd" ? "timedatectl timesync-status"
                      : keeper == "ntpd"              ? "ntpq -c 'rv 0 offset'"
                                                      : nullptr;
    ClockOffset o;
    if (ask == nullptr) {
        o.why = "no time daemon runs to report it";
        return o;
    }
    o.source = ask;
    std::string out;
    o.measured = Run(ask, &out) == 0 && ParseDaemonOffset(out, &o.seconds);
    if (!o.measured) o.why = std::string(ask) + " gives none: " + FirstLine(out);
    return o;
}

// What more than one item reads, read once.
struct Machine {
    bool systemd = false;  // booted with it: the one test that needs no D-Bus (sd_booted)
};

// One row per item of the report, in the order printed: its name, and what
// it reads and how that is judged.
struct Item {
    const char *name;
    Findings (*check)(const Machine &m);
};
const Item Items[] = {
    {"library", [](const Machine &m) { return Findings{JudgeLinuxLibrary(ReadLibrary(m.systemd))}; }},
    {"service",
     [](const Machine &m) {
         LinuxUnit unit;
         unit.systemd = m.systemd;
         std::string word;
         LastTrigger last;
         if (m.systemd) {
             Run("systemctl is-enabled minute-trigger.service", &word);
             unit.enabled = FirstLine(word);
             Run("systemctl is-active minute-trigger.service", &word);
             unit.active = FirstLine(word);
             if (unit.enabled.find("No such file") != std::string::npos ||
                 unit.enabled.find("not-found") != std::string::npos)
                 unit.enabled = "not-found";
             last = ReadJournal();
         }
         LinuxInhibitor inhibitor;
         std::string list;
         // No flags beyond --list, which every systemd's has; no pager on a pipe.
         inhibitor.logind = Run("systemd-inhibit --list", &list) == 0;
         inhibitor.held = InhibitorHeld(list);
         return JudgeLinuxService(unit, last, inhibitor);
     }},
    {"clock",
     [](const Machine &m) {
         ClockSync sync;
         ReadClockSync(&sync);
         LinuxTime time;
         time.daemons = ReadDaemons();
         time.offset = ReadOffset(time.daemons.empty() ? "" : time.daemons.front());
         time.systemd = m.systemd;
         if (Exists("/usr/bin/apt-get"))
             time.installer = "apt";
         else if (Exists("/usr/bin/dnf"))
             time.installer = "dnf";
         return JudgeLinuxTime(sync, time);
     }},
};

}  // namespace

Findings CheckThisMachine()
{
    Machine m;
    m.systemd = Exists("/run/systemd/system");
    Findings out;
    for (const Item &item : Items)
        for (const Finding &f : item.check(m)) out.push_back(f);
    return out;
}
