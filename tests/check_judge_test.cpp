// minute-trigger-check's judgement on made-up readings, shaped as Linux and
// Windows return them: each verdict, and the fix that comes with it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "judge.h"
#include "layout.h"

namespace {

using V = Verdict;
bool Has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}
std::string File(const char *path)
{
    std::ifstream in(std::string(SOURCE_DIR "/") + path);
    return {std::istreambuf_iterator<char>(in), {}};
}
std::string Replaced(std::string text, const std::string &from, const std::string &to)
{
    return text.replace(text.find(from), from.size(), to);
}
Task Registered(const std::string &xml)
{
    Task t;
    t.state = Task::Registered, t.elevated = true, t.enabled = true, t.xml = xml, t.folder = LAYOUT_DEFAULT_FOLDER;
    return t;
}
std::vector<V> Verdicts(const Findings &findings)
{
    std::vector<V> out;
    for (const Finding &f : findings) out.push_back(f.verdict);
    return out;
}

}  // namespace

// The fix under every line but an ok one or a note; the summary counts each
// verdict apart; the status is the monitoring plugins' (0 ok, 1 warning, 2
// failure, 3 nothing worse than unknown), a note counting as ok.
TEST(CheckReport, LinesFixesSummaryAndStatus)
{
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    EXPECT_EQ(2, Report({{V::Ok, "a", "never shown"},
                         {V::Warn, "b", "do b"},
                         {V::Fail, "c", "do c"},
                         {V::Unknown, "d", "ask"},
                         {V::Note, "e", ""}},
                        out));
    fclose(out);
    EXPECT_EQ(
        "[ok] a\n[warn] b\n    fix: do b\n[FAIL] c\n    fix: do c\n[unknown] d\n    fix: ask\n[note] e\n"
        "minute-trigger-check: 1 ok, 1 warn, 1 FAIL, 1 unknown, 1 noted\n",
        std::string(text));
    free(text);
    const struct {
        std::vector<V> verdicts;
        int status;
    } rows[] = {
        {{V::Ok, V::Note}, 0},
        {{V::Ok, V::Unknown}, 3},
        {{V::Note, V::Unknown}, 3},
        {{V::Unknown, V::Warn}, 1},
        {{V::Warn, V::Unknown, V::Fail, V::Note}, 2},
    };
    FILE *null = fopen("/dev/null", "w");
    for (const auto &row : rows) {
        Findings findings;
        for (V v : row.verdicts) findings.push_back({v, "x", "y"});
        EXPECT_EQ(row.status, Report(findings, null)) << findings.size();
    }
    fclose(null);
}

// Rows: the program's output as the log or the journal holds it, the
// minutes since its last trigger line; the verdict, the fix and a part of
// the line.
TEST(CheckJudge, LastTriggerByItsAgeAndTheDevicesAnswer)
{
    int64_t at = 0;
    ASSERT_TRUE(ParseTriggerLine("Mar 01 host minute-trigger[9]: Trigger: 20261209 14:25:00  ", &at));
    EXPECT_EQ(1796826300, at);
    EXPECT_FALSE(ParseTriggerLine("Clock: not synchronised", &at));
    const std::string ok = "Trigger: 20261209 14:24:00  \r\n", refused = "AWG10K_Trigger() Error\r\n",
                      last = "Trigger: 20261209 14:25:00  \r\n";
    std::string hour;
    for (int i = 0; i < 70; ++i) hour += ok + refused;
    const struct {
        std::string output;
        int64_t after;
        V verdict;
        const char *fix, *part;
    } rows[] = {
        {ok + last, 59, V::Ok, "", "14:25:00 in the log, 59 s ago"},
        {ok + last, 600, V::Fail, "restart", "10 min ago: none since"},
        {"", 0, V::Fail, "restart", "none in the log"},
        {ok + last + refused + "Clock: synchronised\r\n", 30, V::Fail, "reopen",
         "refused by the device; the device refused 1 of the last 2"},
        {hour + last + refused, 30, V::Fail, "reopen", "refused 60 of the last 60"},
        {ok + refused + last, 30, V::Warn, "the device's USB cable", "refused 1 of the last 2"},
        // An error line before any trigger is a failed start, no trigger's.
        {"AWG10K_Trigger() Error\n" + last, 30, V::Ok, "", "30 s ago"},
    };
    for (const auto &row : rows) {
        LastTrigger read{true, "", "", "the log", "", false, 0, 0, at + row.after};
        FindLastTrigger(row.output, &read);
        const Finding f = JudgeLastTrigger(read, "restart", "reopen");
        EXPECT_EQ(row.verdict, f.verdict) << f.line;
        EXPECT_TRUE(Has(f.fix, row.fix)) << f.fix;
        EXPECT_TRUE(Has(f.line, row.part)) << f.line;
    }
    LastTrigger unread{false, "denied", "sudo", "the journal", "", false, 0, 0, 0};
    EXPECT_EQ(V::Unknown, JudgeLastTrigger(unread, "restart", "reopen").verdict);
    EXPECT_EQ("sudo", JudgeLastTrigger(unread, "restart", "reopen").fix);
}

// The program's own rule decides, and the daemon found names the fix; with
// none, systemd's own switch where systemd runs.
TEST(CheckJudge, ClockByTheProgramsRule)
{
    const ClockSync kept{ClockSync::Kernel, 0, 12000, {}, {}}, loose{ClockSync::Kernel, 0, 16000000, {}, {}};
    const struct {
        ClockSync sync;
        LinuxTime time;
        std::vector<V> verdicts;
        const char *part, *fix;
    } rows[] = {
        {kept,
         {{"chronyd"}, true, "apt", {}},
         {V::Ok, V::Unknown},
         "clock: synchronised (reported maximum error 12 ms), kept by chronyd",
         ""},
        {loose,
         {{}, true, "apt", {}},
         {V::Fail, V::Unknown},
         "not synchronised",
         "timedatectl set-ntp true (where it says NTP is not supported: apt install chrony)"},
        {loose, {{}, false, "dnf", {}}, {V::Fail, V::Unknown}, "not synchronised", "dnf install chrony"},
        {loose, {{"chronyd"}, true, "apt", {}}, {V::Fail, V::Unknown}, "kept by chronyd", "chronyc sources"},
        {kept, {{"ptp4l", "phc2sys"}, true, "", {}}, {V::Ok, V::Unknown}, "kept by PTP", ""},
        {kept,
         {{"chronyd", "systemd-timesyncd"}, true, "", {}},
         {V::Ok, V::Unknown, V::Warn},
         "",
         "disable --now the unit of systemd-timesyncd"},
        {{ClockSync::Kernel, 1, 0, {}, {}},
         {{}, true, "", {}},
         {V::Unknown, V::Unknown},
         "synchronisation unknown",
         "timedatectl"},
    };
    for (const auto &row : rows) {
        const Findings found = JudgeLinuxTime(row.sync, row.time);
        EXPECT_EQ(row.verdicts, Verdicts(found)) << found[0].line;
        EXPECT_TRUE(Has(found[0].line, row.part)) << found[0].line;
        std::string fixes;
        for (const Finding &f : found) fixes += f.fix + "\n";
        EXPECT_TRUE(Has(fixes, row.fix)) << fixes;
    }
    // Measured, the offset's fix steps the clock through the daemon.
    LinuxTime chrony{{"chronyd"}, true, "apt", {true, -2, "chronyc tracking", ""}};
    EXPECT_TRUE(Has(JudgeLinuxTime(kept, chrony)[1].fix, "chronyc makestep"));
    EXPECT_EQ(V::Unknown,
              JudgeClockLine({ClockSync::Windows, 0, 0, ClockSync::NotAdjusted, ClockSync::Missing}, "", "").verdict);
}

// Rows: what a daemon or one SNTP exchange says; the offset read and its
// verdict: over 100 ms a warning, over 1 s a failure, nothing heard unknown.
TEST(CheckJudge, ClockOffsetReadAndJudged)
{
    const struct {
        std::string said;
        double seconds;  // NAN: nothing read
        V verdict;
    } rows[] = {
        {"System time     : 0.000012345 seconds fast of NTP time\n", 0.000012345, V::Ok},
        {"System time     : 0.250000000 seconds slow of NTP time\n", -0.25, V::Warn},
        {"       Server: 192.168.0.1 (ntp.lab)\n       Offset: -1.5s\n", -1.5, V::Fail},
        {"       Offset: +27us\n", 27e-6, V::Ok},
        {"       Offset: +101ms\n", 0.101, V::Warn},
        {"offset=-1200.5\n", -1.2005, V::Fail},
        {"Offset: +1.234 parsecs\n", NAN, V::Unknown},
    };
    for (const auto &row : rows) {
        ClockOffset o{false, 0, "x", "nothing"};
        o.measured = ParseDaemonOffset(row.said, &o.seconds);
        EXPECT_EQ(!std::isnan(row.seconds), o.measured) << row.said;
        EXPECT_NEAR(o.measured ? row.seconds : 0, o.seconds, 1e-9) << row.said;
        EXPECT_EQ(row.verdict, JudgeClockOffset(o, "step it").verdict) << row.said;
    }
    // A server 0.5 s ahead, 20 ms away each way: this clock is 0.5 s behind.
    uint8_t reply[48] = {0x24, 2};
    const double sent = 1796826300.0, server = sent + 0.5 + 0.02;  // seconds since 1970
    const uint64_t ntp = static_cast<uint64_t>((server + 2208988800.0) * 4294967296.0);
    for (int i = 0; i < 8; ++i) reply[32 + i] = reply[40 + i] = static_cast<uint8_t>(ntp >> (56 - 8 * i));
    double offset = 0;
    ASSERT_TRUE(SntpOffset(reply, sizeof reply, sent, sent + 0.04, &offset));
    EXPECT_NEAR(-0.5, offset, 1e-6);
    reply[1] = 0;  // a kiss of death: no time in it
    EXPECT_FALSE(SntpOffset(reply, sizeof reply, sent, sent + 0.04, &offset));
}

TEST(CheckJudge, LinuxLibrary)
{
    EXPECT_EQ(V::Fail, JudgeLinuxLibrary({"/usr/bin/minute-trigger", false, "", false}).verdict);
    EXPECT_EQ(V::Fail, JudgeLinuxLibrary({"/usr/bin/minute-trigger", true, "", false}).verdict);
    const Finding sim = JudgeLinuxLibrary({"p", true, "/usr/lib/minute-trigger/libAWG10K.so", true});
    EXPECT_EQ(V::Warn, sim.verdict);
    EXPECT_TRUE(Has(sim.fix, "-DAWG10K_LIBRARY="));
    EXPECT_EQ(V::Ok, JudgeLinuxLibrary({"p", true, "/usr/lib/libAWG10K.so.3", false}).verdict);
}

// Rows: the unit's words, as systemctl says them, and the inhibitor; the
// verdicts (one line alone where the unit does not run) and the fix.
TEST(CheckJudge, LinuxServiceOneCauseOneLine)
{
    LastTrigger recent{true, "", "", "the journal", "Trigger: 20261209 14:25:00  ", false, 1, 0, 1796826300 + 30};
    const struct {
        LinuxUnit unit;
        LinuxInhibitor inhibitor;
        std::vector<V> verdicts;
        const char *fix;
    } rows[] = {
        {{true, "enabled", "active"}, {true, true}, {V::Ok, V::Ok, V::Ok}, ""},
        {{true, "enabled", "active"}, {true, false}, {V::Ok, V::Ok, V::Fail}, "systemctl restart"},
        {{true, "enabled", "inactive"}, {true, false}, {V::Fail}, "systemctl start minute-trigger"},
        {{true, "disabled", "active"}, {true, true}, {V::Fail}, "systemctl enable --now minute-trigger"},
        {{true, "masked", "inactive"},
         {true, false},
         {V::Fail},
         "systemctl unmask minute-trigger && systemctl enable --now"},
        {{true, "Failed to connect to bus: No such file or directory", ""},
         {false, false},
         {V::Unknown},
         "systemctl status"},
        {{false, "", ""}, {false, false}, {V::Unknown, V::Unknown}, "service manager"},
    };
    for (const auto &row : rows) {
        const Findings found = JudgeLinuxService(row.unit, recent, row.inhibitor);
        EXPECT_EQ(row.verdicts, Verdicts(found)) << found[0].line;
        std::string fixes;
        for (const Finding &f : found) fixes += f.fix;
        EXPECT_TRUE(Has(fixes, row.fix)) << fixes;
    }
    // The unit's line names its last trigger.
    EXPECT_TRUE(Has(JudgeLinuxService({true, "enabled", "failed"}, recent, {}).front().line,
                    "(last trigger: 20261209 14:25:00"));
    // systemd-inhibit --list as newer systemd prints it, then as older.
    EXPECT_TRUE(InhibitorHeld(
        "WHO            UID USER PID COMM            WHAT       WHY                                    MODE\n"
        "minute-trigger 0   root 812 systemd-inhibit sleep:idle Triggers the waveform generator at every UTC minute block\n"
        "\n1 inhibitors listed.\n"));
    EXPECT_FALSE(
        InhibitorHeld("minute-trigger 0   root 812 systemd-inhibit idle       Triggers the sleep minute block\n"));
    EXPECT_TRUE(InhibitorHeld(
        "     Who: minute-trigger (UID 0/root, PID 812/systemd-inhibit)\n    What: sleep:idle\n"
        "     Why: Triggers the waveform generator at every UTC minute\n    Mode: block\n\n1 inhibitors listed.\n"));
}

// minute-trigger-INSTALL.txt's dates, the LTSC editions apart, and Home.
TEST(CheckJudge, WindowsEditionsAndTheirSupport)
{
    const WindowsVersion pro{10, 0, 19045, 0, "Windows 10 Pro", "Professional", "22H2", false};
    EXPECT_EQ(V::Ok, JudgeWindows(pro, 20251014).verdict);
    EXPECT_EQ(V::Note, JudgeWindows(pro, 20251015).verdict);
    WindowsVersion ltsc{10, 0, 19044, 0, "Windows 10 Enterprise N LTSC 2021", "EnterpriseSN", "21H2", false};
    EXPECT_EQ(V::Ok, JudgeWindows(ltsc, 20261209).verdict);
    EXPECT_EQ(V::Note, JudgeWindows(ltsc, 20270113).verdict);
    ltsc.edition = "IoTEnterpriseS";
    EXPECT_EQ(V::Ok, JudgeWindows(ltsc, 20300101).verdict);
    EXPECT_EQ(V::Note,
              JudgeWindows({6, 1, 7601, 0, "Windows 7 Professional", "Professional", "", false}, 20261209).verdict);
    const Finding home = JudgeWindows({10, 0, 22631, 0, "Windows 11 Home", "Core", "23H2", true}, 20261209);
    EXPECT_EQ(V::Note, home.verdict);
    EXPECT_TRUE(Has(home.line, "Home")) << home.line;
}

TEST(CheckJudge, ProgramDeviceDllAndWaveform)
{
    EXPECT_EQ(V::Fail, JudgeProgramBeside("C:\\Users\\lab\\Downloads\\minute-trigger.exe", false).verdict);
    EXPECT_EQ(V::Fail, JudgeDeviceDll({"C:\\Qmx\\AWG10K\\AWG10K.dll", false, {}, 0x14c, {}, ""}).verdict);
    EXPECT_EQ(V::Fail, JudgeDeviceDll({"x", true, {'M', 'Z', 0, 0}, 0x14c, {}, ""}).verdict);
    // A 32-bit DLL of one section at 0x1000 (file 0x200): ordinals 1, 3, 5,
    // 6 and 7 exported, MSVCP140.dll imported.
    std::vector<uint8_t> b(0x400);
    auto put = [&](size_t at, uint32_t v, int n) {
        for (int i = 0; i < n; ++i) b[at + i] = static_cast<uint8_t>(v >> 8 * i);
    };
    put(0, 0x5a4d, 2), put(0x3c, 0x40, 4), put(0x40, 0x4550, 4), put(0x44, 0x14c, 2), put(0x46, 1, 2),
        put(0x54, 0xe0, 2);
    put(0x58, 0x10b, 2), put(0xb8, 0x1000, 4), put(0xc0, 0x1100, 4);
    put(0x138 + 8, 0x200, 4), put(0x138 + 12, 0x1000, 4), put(0x138 + 16, 0x200, 4), put(0x138 + 20, 0x200, 4);
    put(0x200 + 16, 1, 4), put(0x200 + 20, 7, 4), put(0x200 + 28, 0x1040, 4);
    for (int i : {0, 2, 4, 5, 6}) put(0x240 + 4 * i, 0x1010, 4);
    put(0x300 + 12, 0x1180, 4);
    const std::string name = "MSVCP140.dll";
    std::copy(name.begin(), name.end(), b.begin() + 0x380);
    EXPECT_EQ(std::vector<std::string>{"MSVCP140.dll"}, PeImports(b));
    EXPECT_EQ(V::Ok, JudgeDeviceDll({"x", true, b, 0x14c, {}, "C:\\Windows\\SysWOW64"}).verdict);
    const Finding runtime = JudgeDeviceDll({"x", true, b, 0x14c, {"MSVCP140.dll"}, "C:\\Windows\\SysWOW64"});
    EXPECT_EQ(V::Fail, runtime.verdict);
    EXPECT_TRUE(Has(runtime.line, "needs MSVCP140.dll, found neither beside the program nor in C:\\Windows\\SysWOW64"))
        << runtime.line;
    EXPECT_EQ(V::Fail, JudgeWaveform({"C:\\w.zpr", false, 0}).verdict);
    EXPECT_EQ(V::Unknown, JudgeWaveform({"C:\\w.zpr", false, 5}).verdict);
}

// The shipped definitions pass; each setting the Task Scheduler's defaults
// would get wrong fails, with the definition to import again.
TEST(CheckJudge, TaskDefinitions)
{
    const std::string logon = File("packaging/windows/minute-trigger-logon.xml");
    const std::string boot = File("packaging/windows/minute-trigger-boot.xml");
    EXPECT_EQ(std::vector<V>(4, V::Ok), Verdicts(JudgeTask(Registered(logon))));
    EXPECT_EQ(std::vector<V>(4, V::Ok), Verdicts(JudgeTask(Registered(boot))));
    EXPECT_EQ("boot", TaskKind(Registered(boot)));
    const Findings bad = JudgeTask(Registered(Replaced(
        Replaced(Replaced(logon, "<Interval>PT1M</Interval>", ""), "<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>", ""),
        LAYOUT_DEFAULT_FOLDER, "C:\\Elsewhere\\")));
    EXPECT_EQ((std::vector<V>{V::Ok, V::Fail, V::Fail, V::Fail}), Verdicts(bad));
    EXPECT_TRUE(Has(bad[2].line, "PT72H")) << bad[2].line;
    EXPECT_TRUE(Has(bad[1].fix, "/XML \"" LAYOUT_DEFAULT_FOLDER LAYOUT_LOGON_TASK "\""));
    EXPECT_EQ(V::Fail, JudgeTask(Registered(Replaced(logon, ">IgnoreNew<", ">StopExisting<")))[2].verdict);
    EXPECT_EQ(V::Warn, JudgeTask(Registered(Replaced(logon, "<Interval>PT1M", "<Interval>PT5M")))[1].verdict);
    // The trigger itself: disabled, an end boundary passed or to come, a
    // time limit of its own.
    const struct {
        const char *from, *to;
        V verdict;
    } triggers[] = {
        {"<Enabled>true</Enabled>\n      <Repetition>", "<Enabled>false</Enabled>\n      <Repetition>", V::Fail},
        {"</Repetition>", "</Repetition><EndBoundary>2026-12-01T00:00:00</EndBoundary>", V::Fail},
        {"</Repetition>", "</Repetition><EndBoundary>2027-06-01T00:00:00</EndBoundary>", V::Warn},
        {"</Repetition>", "</Repetition><ExecutionTimeLimit>PT72H</ExecutionTimeLimit>", V::Fail},
    };
    for (const auto &row : triggers) {
        Task t = Registered(Replaced(boot, row.from, row.to));
        t.now = "2026-12-10T01:22:00";
        EXPECT_EQ(row.verdict, JudgeTask(t)[1].verdict) << row.to;
    }
    EXPECT_EQ(V::Warn, JudgeFastStartup({true, true, "boot"}).verdict);
    EXPECT_EQ(V::Ok, JudgeFastStartup({true, true, "logon"}).verdict);
    EXPECT_EQ(V::Ok, JudgeFastStartup({true, false, "boot"}).verdict);
    Task off = Registered(logon);
    off.enabled = false;
    EXPECT_EQ("schtasks /Change /TN minute-trigger /ENABLE", JudgeTask(off)[0].fix);
    // A boot task is invisible to who is not elevated; Wine keeps no
    // trigger and no action.
    Task missing = Registered("");
    missing.state = Task::NotFound;
    EXPECT_EQ(std::vector<V>{V::Fail}, Verdicts(JudgeTask(missing)));
    missing.elevated = false;
    EXPECT_EQ(std::vector<V>{V::Unknown}, Verdicts(JudgeTask(missing)));
    Task wine = Registered(
        "<Task><Settings><ExecutionTimeLimit>PT0S</ExecutionTimeLimit><DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
        "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries></Settings></Task>");
    wine.wine = true;
    EXPECT_EQ((std::vector<V>{V::Ok, V::Unknown, V::Ok, V::Unknown}), Verdicts(JudgeTask(wine)));
}

TEST(CheckJudge, RunningNow)
{
    EXPECT_EQ(V::Ok, JudgeRunning({true, 1, 0, true, "C:\\Qmx\\AWG10K\\"}).verdict);
    EXPECT_EQ(V::Warn, JudgeRunning({true, 1, 0, false, "C:\\Qmx\\AWG10K\\"}).verdict);
    EXPECT_EQ(V::Unknown, JudgeRunning({false, 0, 1, false, "C:\\Qmx\\AWG10K\\"}).verdict);
    EXPECT_EQ(V::Fail, JudgeRunning({true, 0, 1, false, "C:\\Qmx\\AWG10K\\"}).verdict);
}

// Each object by the installer's own rule (lock_rule.h), its parent's
// delete-child right included; the fix is the package's repair, or what the
// installer itself would ask for, and never a walk over a tree.
TEST(CheckJudge, PermissionsByTheInstallersRule)
{
    using lock_rule::Role;
    const std::string locked = "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    const std::string handed = "D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";
    std::vector<PathSecurity> paths{
        {"C:\\", Role::Path, -1, true, 0,
         "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:PAI(A;;LC;;;AU)(A;OICIIO;SDGXGWGR;;;AU)"
         "(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"},
        {"C:\\Qmx", Role::Path, 0, true, 0, locked},
        {"C:\\Qmx\\AWG10K", Role::Folder, 1, true, 0, locked},
        {"C:\\Qmx\\AWG10K\\AWG10K.dll", Role::Loadable, 2, true, 0, "O:SY" + handed}};
    EXPECT_EQ(std::vector<V>{V::Ok}, Verdicts(JudgePermissions(paths, "C:\\Qmx\\AWG10K", false)));
    paths[1].sddl = "O:BAD:AI(A;OICIIOID;SDGXGWGR;;;AU)(A;ID;0x1301bf;;;AU)(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)";
    paths[2].sddl = "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200e9;;;BU)";
    paths[3].sddl = "O:S-1-5-21-1-2-3-1001" + handed;
    const Findings bad = JudgePermissions(paths, "C:\\Qmx\\AWG10K", false);
    ASSERT_EQ((std::vector<V>{V::Fail, V::Fail, V::Fail}), Verdicts(bad));
    EXPECT_EQ("permissions: C:\\Qmx: Authenticated Users may delete", bad[0].line);
    EXPECT_EQ("permissions: C:\\Qmx\\AWG10K: Users may delete what it holds", bad[1].line);
    EXPECT_EQ(
        "permissions: C:\\Qmx\\AWG10K\\AWG10K.dll: owned by S-1-5-21-1-2-3-1001; "
        "Users may delete or replace it (delete what the folder above holds)",
        bad[2].line);
    EXPECT_TRUE(Has(bad[0].fix, "msiexec /fa")) << bad[0].fix;
    EXPECT_TRUE(Has(bad[2].fix, "vendor's software from its own medium")) << bad[2].fix;
    EXPECT_FALSE(Has(bad[0].fix + bad[1].fix + bad[2].fix, "icacls"));
    paths[2].read = false, paths[3].sddl = "O:SY" + handed;
    EXPECT_EQ((std::vector<V>{V::Fail, V::Unknown}), Verdicts(JudgePermissions(paths, "C:\\Qmx\\AWG10K", false)));
    paths[1].sddl = "O:BAD:(XA;;FA;;;WD;(Member_of {SID(BA)}))";
    EXPECT_TRUE(
        Has(JudgePermissions(paths, "C:\\Qmx\\AWG10K", false)[0].line, "neither this check nor the installer reads"));
}

// Rows: what the first install saved (path, before, given), as a vendor's
// installer under C:\ leaves its folder (Authenticated Users Modify,
// inherited); only the loadable files directly in the program's folder named.
TEST(CheckJudge, LoadableFilesUsersCouldChangeBeforeTheInstall)
{
    const std::string given = "\nO:BAD:AI(A;ID;FA;;;SY)", modify = "(A;ID;0x1301bf;;;AU)(A;ID;FA;;;SY)(A;ID;FA;;;BA)";
    const std::string folder = "C:\\Qmx\\AWG10K\\", in = "c:\\qmx\\awg10k\\";
    SavedPermissions saved;
    saved.values = {in + "\nO:BAD:AI(A;OICIID;0x1301bf;;;AU)(A;OICIID;FA;;;SY)" + given,
                    folder + "AWG10K.dll\nO:BAD:AI" + modify + given,
                    folder + "samples.dat\nO:BAD:AI" + modify + given,
                    folder + "sub\\other.dll\nO:BAD:AI" + modify + given,
                    "C:\\Qmx\\ZPR.dll\nO:BAD:AI" + modify + given,
                    in + "helper.DLL\nO:BAD:AI" + modify + given,
                    folder + "run.cmd\nO:S-1-5-21-1-2-3-1001D:AI(A;ID;FA;;;SY)" + given,
                    folder + "safe.exe\nO:SYD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)" + given};
    const Findings open = JudgeSavedBefore(saved, folder);
    ASSERT_EQ(std::vector<V>{V::Note}, Verdicts(open));
    EXPECT_TRUE(Has(open[0].line,
                    "before the install, users could change: AWG10K.dll, helper.DLL (who: Authenticated Users may "
                    "write, append, delete), run.cmd (who: owned by S-1-5-21-1-2-3-1001): reinstall the vendor's "
                    "software from its own medium, then repair the package"));
    saved.values = {saved.values[0], saved.values[2], saved.values[7]};
    EXPECT_EQ(std::vector<V>{V::Ok}, Verdicts(JudgeSavedBefore(saved, folder)));
    saved.values.pop_back();
    EXPECT_TRUE(JudgeSavedBefore(saved, folder).empty());
    // A folder that let Users delete what it held: what was safe on its own is not.
    saved.values = {folder + "\nO:BAD:(A;;0x1301ff;;;BU)" + given, folder + "safe.exe\nO:SYD:" + given};
    EXPECT_TRUE(Has(JudgeSavedBefore(saved, folder)[0].line, "safe.exe (who: Users may delete or replace it"));
    saved.readable = false, saved.error = 5;
    const Findings denied = JudgeSavedBefore(saved, folder);
    ASSERT_EQ(std::vector<V>{V::Unknown}, Verdicts(denied));
    EXPECT_TRUE(Has(denied[0].fix, "as administrator"));
}

// A workgroup PC at its defaults polls every 2^15 s (SpecialPollInterval
// bounded by MaxPollInterval since 1703); minute-trigger-INSTALL.txt's settings every 64 s.
TEST(CheckJudge, WindowsTimePoll)
{
    TimeService s;
    s.state = TimeService::Running, s.start_type = 3, s.type = "NTP", s.ntp_server = "time.windows.com,0x9";
    s.poll_read = true, s.special_poll = 604800, s.min_poll = 10, s.max_poll = 15, s.build = 19045;
    EXPECT_EQ(32768u, EffectivePoll(s));
    s.build = 14393;
    EXPECT_EQ(604800u, EffectivePoll(s));
    s.ntp_server = "ntp.lab,0x8", s.min_poll = s.max_poll = 6;
    EXPECT_EQ(64u, EffectivePoll(s));
}

// Rows: the service's state, start type, triggers, domain, the values and
// who sets them, and whether something adjusts the clock; the verdicts, and
// what a fix must and must not say (0: nothing). A stock workgroup PC's
// triggers stop the service whenever it is in no domain (KB 2385818);
// another time service keeping the clock is never answered by starting
// Windows Time; a fix that needs the service running starts it first.
TEST(CheckJudge, WindowsTimeAndItsFixes)
{
    const ServiceTrigger join{true, 3, "1ce20aba-9851-4421-9430-1ddeb766e809"},
        leave{false, 3, "ddaf516e-58c2-4866-9574-c3b615d42ea1"},
        network_on{true, 2, "4f27f2de-14e2-430b-a549-7cd48cbc8245"},
        network_off{false, 2, "cc4ba62a-162e-4648-847a-b6bdf993e335"};
    const ClockSync loose{ClockSync::Windows, 0, 0, ClockSync::NotAdjusted, ClockSync::Running},
        other{ClockSync::Windows, 0, 0, ClockSync::Adjusted, ClockSync::NotRunning};
    const auto R = TimeService::Running, S = TimeService::Stopped;
    const struct {
        TimeService::State state;
        unsigned long start;
        std::vector<ServiceTrigger> triggers;
        bool domain, policy;
        const char *type;
        unsigned long max_poll;
        const ClockSync &sync;
        std::vector<V> verdicts;
        const char *fix_has, *fix_lacks;
    } rows[] = {
        {R, 2, {}, false, false, "NTP", 6, loose, {V::Ok, V::Ok}, "", nullptr},
        {R,
         3,
         {join, leave},
         false,
         false,
         "NTP",
         6,
         loose,
         {V::Warn, V::Ok},
         "start/networkon stop/networkoff",
         "net start"},
        {R, 2, {join, leave}, false, false, "NTP", 6, loose, {V::Warn, V::Ok}, "sc triggerinfo", nullptr},
        {R, 3, {join, leave}, true, false, "NT5DS", 6, loose, {V::Ok, V::Ok}, "", nullptr},
        {R, 3, {network_on, network_off}, false, false, "NTP", 6, loose, {V::Ok, V::Ok}, "", nullptr},
        {R, 3, {}, false, false, "NTP", 6, loose, {V::Warn, V::Ok}, "start= auto", "net start"},
        {S, 3, {join, leave}, false, false, "NTP", 6, loose, {V::Fail, V::Ok}, "&& net start w32time", nullptr},
        {S, 3, {join, leave}, false, false, "NTP", 6, other, {V::Warn}, "start= disabled", "net start"},
        {S, 4, {}, false, false, "NTP", 6, other, {V::Ok}, "", nullptr},
        {R, 2, {}, false, false, "NT5DS", 6, loose, {V::Ok, V::Fail}, "TIMESERVER standing for", nullptr},
        {S,
         4,
         {},
         false,
         false,
         "NoSync",
         6,
         loose,
         {V::Fail, V::Fail},
         "start= demand && net start w32time && w32tm /config",
         nullptr},
        {R,
         2,
         {},
         false,
         false,
         "NTP",
         15,
         loose,
         {V::Ok, V::Warn},
         "MaxPollInterval /t REG_DWORD /d 6",
         "Keeping the clock"},
        {R, 2, {}, false, true, "NTP", 15, loose, {V::Ok, V::Warn}, "Configure Windows NTP Client", "reg add"},
    };
    for (const auto &row : rows) {
        TimeService s;
        s.state = row.state, s.start_type = row.start, s.triggers = row.triggers, s.domain = row.domain,
        s.policy = row.policy;
        s.type = row.type, s.ntp_server = "ntp.lab,0x8", s.poll_read = true, s.special_poll = 64, s.min_poll = 6;
        s.max_poll = row.max_poll, s.build = 19045;
        const Findings found = JudgeTimeService(s, row.sync);
        std::string fixes;
        for (const Finding &f : found) fixes += f.fix + "\n";
        EXPECT_EQ(row.verdicts, Verdicts(found)) << found[0].line;
        EXPECT_TRUE(Has(fixes, row.fix_has)) << fixes;
        EXPECT_FALSE(row.fix_lacks && Has(fixes, row.fix_lacks)) << fixes;
    }
    TimeService missing;
    missing.state = TimeService::Missing;
    EXPECT_EQ(std::vector<V>{V::Unknown}, Verdicts(JudgeTimeService(missing, loose)));
    // The clock's line: w32tm answers only a running service.
    TimeService stopped;
    stopped.state = S;
    const ClockOffset off{true, 0.5, "an SNTP query to ntp.lab", ""};
    const Findings clock = JudgeWindowsClock(loose, off, stopped);
    EXPECT_EQ("net start w32time && w32tm /resync, then the Windows Time lines' fixes keep it corrected", clock[0].fix);
    EXPECT_TRUE(Has(clock[1].fix, "net start w32time && w32tm /resync /force")) << clock[1].fix;
    EXPECT_EQ((std::vector<V>{V::Ok, V::Warn}), Verdicts(JudgeWindowsClock(other, off, stopped)));
    EXPECT_FALSE(Has(JudgeWindowsClock(other, off, stopped)[1].fix, "w32time"));
}

// Rows: the plan's value and the policy's; a policy decides where it sets
// one, and its fix is the policy's.
TEST(CheckJudge, PowerLogonAndUpdates)
{
    const struct {
        PowerValue sleep, usb;
        std::vector<V> verdicts;
        const char *fix_has, *fix_lacks;
    } rows[] = {
        {{true, 1800, false, 0}, {true, 1, false, 0}, {V::Warn, V::Warn}, "standby-timeout-ac 0", "policy"},
        {{true, 0, true, 1800}, {true, 0, false, 0}, {V::Warn, V::Ok}, "Specify the system sleep timeout", "powercfg"},
        {{true, 1800, true, 0}, {true, 1, true, 0}, {V::Ok, V::Ok}, "", nullptr},
        {{true, 0, false, 0}, {true, 0, true, 1}, {V::Ok, V::Warn}, "gpupdate", "powercfg"},
        {{true, 0, false, 0}, {false, 0, false, 0}, {V::Ok, V::Unknown}, "powercfg /query", nullptr},
    };
    for (const auto &row : rows) {
        Power p;
        p.readable = true, p.sleep = row.sleep, p.hibernate = {true, 0, false, 0}, p.usb_suspend = row.usb;
        const Findings power = JudgePower(p);
        EXPECT_EQ(row.verdicts, Verdicts(power)) << power[0].line;
        EXPECT_TRUE(Has(power[0].fix + power[1].fix, row.fix_has)) << power[0].fix << power[1].fix;
        EXPECT_FALSE(row.fix_lacks && Has(power[0].fix + power[1].fix, row.fix_lacks));
    }
    EXPECT_EQ(V::Unknown, JudgePower({}).front().verdict);

    EXPECT_EQ(V::Ok, JudgeAutoLogon({true, "0", "", false, 0, "boot", false, 0, 0}).verdict);
    EXPECT_EQ(V::Warn, JudgeAutoLogon({true, "0", "lab", false, 0, "logon", false, 0, 0}).verdict);
    EXPECT_EQ(V::Warn, JudgeAutoLogon({true, "1", "lab", true, 2, "logon", false, 0, 0}).verdict);
    EXPECT_EQ(V::Ok, JudgeAutoLogon({true, "1", "lab", false, 0, "logon", true, 400, 0}).verdict);
    // The System log's counts: Windows Time's failures, restarts.
    EXPECT_EQ((std::vector<V>{V::Ok, V::Ok}), Verdicts(JudgeEvents({0, 0, 0, 0, 0})));
    EXPECT_EQ((std::vector<V>{V::Warn, V::Note}), Verdicts(JudgeEvents({0, 3, 0, 0, 2})));
    EXPECT_EQ((std::vector<V>{V::Unknown, V::Warn}), Verdicts(JudgeEvents({-1, -1, -1, 1, 2})));
    // The account's password, 42 days at the defaults.
    EXPECT_EQ(V::Warn, JudgeAutoLogon({true, "1", "lab", false, 0, "logon", true, 30, 42}).verdict);
    EXPECT_EQ(V::Fail, JudgeAutoLogon({true, "1", "lab", false, 0, "logon", true, 42, 42}).verdict);

    EXPECT_EQ((std::vector<V>{V::Warn, V::Warn}), Verdicts(JudgeUpdatePolicy({false, false, false, 0, 0, 0, 19045})));
    EXPECT_EQ((std::vector<V>{V::Ok, V::Ok}), Verdicts(JudgeUpdatePolicy({true, true, true, 1, 1, 4, 19045})));
    EXPECT_EQ(V::Warn, JudgeUpdatePolicy({true, true, true, 1, 1, 3, 19045})[1].verdict);
    // Before 1607 there is no drivers policy to set: the older setting decides.
    EXPECT_EQ(V::Warn, JudgeUpdatePolicy({true, true, true, 1, 1, 4, 7601}).front().verdict);
    EXPECT_EQ(V::Ok, JudgeUpdatePolicy({false, true, true, 0, 1, 4, 7601, true, 0}).front().verdict);
}
