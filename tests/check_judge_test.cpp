// minute-trigger-check's judgement on made-up readings, shaped as Linux and
// Windows return them: each verdict, and the fix that comes with it.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "judge.h"

namespace {

using V = Verdict;
bool Has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }
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
    t.state = Task::Registered, t.elevated = true, t.enabled = true, t.xml = xml, t.folder = "C:\\Qmx\\AWG10K\\";
    return t;
}
std::vector<V> Verdicts(const Findings &findings)
{
    std::vector<V> out;
    for (const Finding &f : findings) out.push_back(f.verdict);
    return out;
}

}  // namespace

// The fix under every line but an ok one; the summary counts warnings and
// failures together; the status is the worst, unknown counting as ok.
TEST(CheckReport, LinesFixesSummaryAndStatus)
{
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    EXPECT_EQ(2, Report({{V::Ok, "a", "never shown"}, {V::Warn, "b", "do b"}, {V::Fail, "c", "do c"}, {V::Unknown, "d", "ask"}}, out));
    fclose(out);
    EXPECT_EQ("[ok] a\n[warn] b\n    fix: do b\n[FAIL] c\n    fix: do c\n[unknown] d\n    fix: ask\n"
              "minute-trigger-check: 1 ok, 2 to fix, 1 unknown\n",
              std::string(text));
    free(text);
    FILE *null = fopen("/dev/null", "w");
    EXPECT_EQ(0, Report({{V::Ok, "a", ""}, {V::Unknown, "b", "ask"}}, null));
    EXPECT_EQ(1, Report({{V::Ok, "a", ""}, {V::Warn, "b", "do b"}}, null));
    fclose(null);
}

TEST(CheckJudge, LastTriggerByItsAge)
{
    int64_t at = 0;
    ASSERT_TRUE(ParseTriggerLine("Mar 01 host minute-trigger[9]: Trigger: 20261209 14:25:00  ", &at));
    EXPECT_EQ(1796826300, at);
    EXPECT_FALSE(ParseTriggerLine("Clock: not synchronised", &at));
    LastTrigger last{true, "", "", "the journal", "Trigger: 20261209 14:25:00  ", at + 59};
    EXPECT_EQ(V::Ok, JudgeLastTrigger(last, "restart").verdict);
    last.now = at + 600;
    const Finding stale = JudgeLastTrigger(last, "restart");
    EXPECT_EQ(V::Fail, stale.verdict);
    EXPECT_TRUE(Has(stale.line, "10 min ago")) << stale.line;
    EXPECT_EQ("restart", stale.fix);
    last.line.clear();
    EXPECT_EQ(V::Fail, JudgeLastTrigger(last, "restart").verdict);
    last.readable = false, last.how = "sudo";
    EXPECT_EQ(V::Unknown, JudgeLastTrigger(last, "restart").verdict);
    EXPECT_EQ("sudo", JudgeLastTrigger(last, "restart").fix);
}

// The program's own rule decides, and the daemon found names the fix.
TEST(CheckJudge, ClockByTheProgramsRule)
{
    const ClockSync kept{ClockSync::Kernel, 0, 12000, {}, {}}, loose{ClockSync::Kernel, 0, 16000000, {}, {}};
    EXPECT_EQ("clock: synchronised (reported maximum error 12 ms), kept by chronyd",
              JudgeClockLine(kept, "chronyd", "").line);
    const Finding off = JudgeClockLine(loose, "", LinuxClockFix(""));
    EXPECT_EQ(V::Fail, off.verdict);
    EXPECT_TRUE(Has(off.fix, "apt install chrony"));
    EXPECT_TRUE(Has(LinuxClockFix("chronyd"), "chronyc sources"));
    EXPECT_EQ(V::Unknown, JudgeClockLine({ClockSync::Kernel, 1, 0, {}, {}}, "", "").verdict);
    EXPECT_EQ(V::Unknown, JudgeClockLine({ClockSync::Windows, 0, 0, ClockSync::NotAdjusted, ClockSync::Missing}, "", "").verdict);
}

TEST(CheckJudge, LinuxLibraryUnitAndInhibitor)
{
    EXPECT_EQ(V::Fail, JudgeLinuxLibrary({"/usr/bin/minute-trigger", false, "", false}).verdict);
    EXPECT_EQ(V::Fail, JudgeLinuxLibrary({"/usr/bin/minute-trigger", true, "", false}).verdict);
    const Finding sim = JudgeLinuxLibrary({"p", true, "/usr/lib/minute-trigger/libAWG10K.so", true});
    EXPECT_EQ(V::Warn, sim.verdict);
    EXPECT_TRUE(Has(sim.fix, "-DAWG10K_LIBRARY="));
    EXPECT_EQ(V::Ok, JudgeLinuxLibrary({"p", true, "/usr/lib/libAWG10K.so.3", false}).verdict);
    EXPECT_EQ(V::Unknown, JudgeLinuxUnit({false, "", ""}).verdict);
    EXPECT_TRUE(Has(JudgeLinuxUnit({true, "not-found", "inactive"}).fix, "systemctl enable --now"));
    EXPECT_EQ("systemctl enable --now minute-trigger", JudgeLinuxUnit({true, "disabled", "active"}).fix);
    EXPECT_EQ(V::Fail, JudgeLinuxUnit({true, "enabled", "activating"}).verdict);
    EXPECT_EQ(V::Ok, JudgeLinuxUnit({true, "enabled", "active"}).verdict);
    EXPECT_EQ(V::Unknown, JudgeLinuxInhibitor({false, false, true}).verdict);
    EXPECT_EQ(V::Fail, JudgeLinuxInhibitor({true, false, true}).verdict);
    EXPECT_EQ(V::Ok, JudgeLinuxInhibitor({true, true, true}).verdict);
}

// INSTALL.txt's dates, the LTSC editions apart, and Home.
TEST(CheckJudge, WindowsEditionsAndTheirSupport)
{
    const WindowsVersion pro{10, 0, 19045, 0, "Windows 10 Pro", "Professional", "22H2", false};
    EXPECT_EQ(V::Ok, JudgeWindows(pro, 20251014).verdict);
    EXPECT_EQ(V::Warn, JudgeWindows(pro, 20251015).verdict);
    WindowsVersion ltsc{10, 0, 19044, 0, "Windows 10 Enterprise LTSC 2021", "EnterpriseS", "21H2", false};
    EXPECT_EQ(V::Ok, JudgeWindows(ltsc, 20261209).verdict);
    EXPECT_EQ(V::Warn, JudgeWindows(ltsc, 20270113).verdict);
    ltsc.edition = "IoTEnterpriseS";
    EXPECT_EQ(V::Ok, JudgeWindows(ltsc, 20300101).verdict);
    EXPECT_EQ(V::Warn, JudgeWindows({6, 1, 7601, 0, "Windows 7 Professional", "Professional", "", false}, 20261209).verdict);
    const Finding home = JudgeWindows({10, 0, 22631, 0, "Windows 11 Home", "Core", "23H2", true}, 20261209);
    EXPECT_EQ(V::Warn, home.verdict);
    EXPECT_TRUE(Has(home.line, "Home")) << home.line;
}

TEST(CheckJudge, ProgramDeviceDllAndWaveform)
{
    EXPECT_EQ(V::Fail, JudgeProgramBeside("C:\\Users\\lab\\Downloads\\minute-trigger.exe", false).verdict);
    EXPECT_EQ(V::Fail, JudgeDeviceDll({"C:\\Qmx\\AWG10K\\AWG10K.dll", false, {}, 0x14c}).verdict);
    EXPECT_EQ(V::Fail, JudgeDeviceDll({"x", true, {'M', 'Z', 0, 0}, 0x14c}).verdict);
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
        "C:\\Qmx\\AWG10K\\", "C:\\Elsewhere\\")));
    EXPECT_EQ((std::vector<V>{V::Ok, V::Fail, V::Fail, V::Fail}), Verdicts(bad));
    EXPECT_TRUE(Has(bad[2].line, "PT72H")) << bad[2].line;
    EXPECT_TRUE(Has(bad[1].fix, "/XML \"C:\\Qmx\\AWG10K\\minute-trigger-logon.xml\""));
    EXPECT_EQ(V::Fail, JudgeTask(Registered(Replaced(logon, ">IgnoreNew<", ">StopExisting<")))[2].verdict);
    EXPECT_EQ(V::Warn, JudgeTask(Registered(Replaced(logon, "<Interval>PT1M", "<Interval>PT5M")))[1].verdict);
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
    Task wine = Registered("<Task><Settings><ExecutionTimeLimit>PT0S</ExecutionTimeLimit><DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
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
    EXPECT_EQ("permissions: C:\\Qmx\\AWG10K\\AWG10K.dll: owned by S-1-5-21-1-2-3-1001; "
              "Users may delete or replace it (delete what the folder above holds)",
              bad[2].line);
    EXPECT_TRUE(Has(bad[0].fix, "msiexec /fa")) << bad[0].fix;
    EXPECT_TRUE(Has(bad[2].fix, "vendor's software from its own medium")) << bad[2].fix;
    EXPECT_FALSE(Has(bad[0].fix + bad[1].fix + bad[2].fix, "icacls"));
    paths[2].read = false, paths[3].sddl = "O:SY" + handed;
    EXPECT_EQ((std::vector<V>{V::Fail, V::Unknown}), Verdicts(JudgePermissions(paths, "C:\\Qmx\\AWG10K", false)));
    paths[1].sddl = "O:BAD:(XA;;FA;;;WD;(Member_of {SID(BA)}))";
    EXPECT_TRUE(Has(JudgePermissions(paths, "C:\\Qmx\\AWG10K", false)[0].line, "neither this check nor the installer reads"));
}

// A workgroup PC at its defaults polls every 2^15 s (SpecialPollInterval
// bounded by MaxPollInterval since 1703); INSTALL.txt's settings every 64 s.
TEST(CheckJudge, WindowsTime)
{
    const ClockSync loose{ClockSync::Windows, 0, 0, ClockSync::NotAdjusted, ClockSync::Running};
    TimeService s{TimeService::Running, 0, 3, true, "NTP", "time.windows.com,0x9", true, 604800, 10, 15, 19045};
    EXPECT_EQ(32768u, EffectivePoll(s));
    EXPECT_EQ((std::vector<V>{V::Warn, V::Warn}), Verdicts(JudgeTimeService(s, loose)));
    s.build = 14393;
    EXPECT_EQ(604800u, EffectivePoll(s));
    s.start_type = 2, s.ntp_server = "ntp.lab,0x8", s.min_poll = s.max_poll = 6;
    EXPECT_EQ(64u, EffectivePoll(s));
    EXPECT_EQ((std::vector<V>{V::Ok, V::Ok}), Verdicts(JudgeTimeService(s, loose)));
    s.type = "NoSync";
    EXPECT_EQ(V::Fail, JudgeTimeService(s, loose)[1].verdict);
    s.state = TimeService::Stopped;
    EXPECT_TRUE(Has(JudgeTimeService(s, loose)[0].fix, "sc config w32time start= auto"));
    s.start_type = 4;
    const ClockSync other{ClockSync::Windows, 0, 0, ClockSync::Adjusted, ClockSync::NotRunning};
    EXPECT_EQ(std::vector<V>{V::Ok}, Verdicts(JudgeTimeService(s, other)));
    s.state = TimeService::Missing;
    EXPECT_EQ(std::vector<V>{V::Unknown}, Verdicts(JudgeTimeService(s, loose)));
}

TEST(CheckJudge, PowerLogonAndUpdates)
{
    Power p{true, "", 1800, 0, 1, true, false, false, false};
    Findings power = JudgePower(p);
    EXPECT_EQ((std::vector<V>{V::Warn, V::Warn}), Verdicts(power));
    EXPECT_TRUE(Has(power[0].fix, "standby-timeout-ac 0"));
    EXPECT_TRUE(Has(power[1].fix, "48e6b7a6-50f5-4782-a5d4-53bb8f07e226 0"));
    p.sleep_policy = true;
    EXPECT_TRUE(Has(JudgePower(p)[0].fix, "Group Policy"));
    p.sleep = 0, p.usb_suspend = 0;
    EXPECT_EQ((std::vector<V>{V::Ok, V::Ok}), Verdicts(JudgePower(p)));
    EXPECT_EQ(V::Unknown, JudgePower({}).front().verdict);

    EXPECT_EQ(V::Ok, JudgeAutoLogon({true, "0", "", false, 0, "boot"}).verdict);
    EXPECT_EQ(V::Warn, JudgeAutoLogon({true, "0", "lab", false, 0, "logon"}).verdict);
    EXPECT_EQ(V::Warn, JudgeAutoLogon({true, "1", "lab", true, 2, "logon"}).verdict);
    EXPECT_EQ(V::Ok, JudgeAutoLogon({true, "1", "lab", false, 0, "logon"}).verdict);

    EXPECT_EQ((std::vector<V>{V::Warn, V::Warn}), Verdicts(JudgeUpdatePolicy({})));
    EXPECT_EQ((std::vector<V>{V::Ok, V::Ok}), Verdicts(JudgeUpdatePolicy({true, true, true, 1, 1, 4})));
    EXPECT_EQ(V::Warn, JudgeUpdatePolicy({true, true, true, 1, 1, 3})[1].verdict);
}
