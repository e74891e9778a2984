// The one permission rule on descriptors shaped as Windows 10/11 writes them
// (its stock C:\, a data drive's root, Program Files) and altered copies:
// each object's verdict and the installer's plan for it, as SDDL.
#include <gtest/gtest.h>

#include <string>

#include "lock_rule.h"

namespace {

using lock_rule::Plan;
using lock_rule::Role;

#define TI "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
#define USER "S-1-5-21-1004336348-1177238915-682003330-1001"
const char kStockC[] = "O:" TI "G:" TI
                       "D:PAI(A;;LC;;;AU)(A;OICIIO;SDGXGWGR;;;AU)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
                       "(A;OICI;0x1200a9;;;BU)";
const char kStockD[] =
    "O:SYG:SYD:AI(A;OICIIO;SDGXGWGR;;;AU)(A;;0x1301bf;;;AU)(A;;FA;;;SY)(A;OICIIO;GA;;;SY)"
    "(A;OICIIO;GA;;;BA)(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)";
// What every folder made under C:\ inherits (and, from a user, owns).
#define UNDER_C \
    "(A;OICIIOID;SDGXGWGR;;;AU)(A;ID;0x1301bf;;;AU)(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)"
#define LOCKED_ACES "(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
#define LOCKED "O:BAD:PAI" LOCKED_ACES
#define HANDED "(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)"

lock_rule::Descriptor Parsed(const char *sddl)
{
    lock_rule::Descriptor d;
    EXPECT_TRUE(lock_rule::Parse(sddl, &d)) << sddl;
    return d;
}
std::string Sddl(const lock_rule::Descriptor &d)
{
    char text[4096];
    return lock_rule::Format(d, text, sizeof text) < 0 ? "too long" : text;
}

struct Case {
    Role role;
    const char *current;
    const char *parent;  // null: a drive's root
    bool accepted, safe;
    Plan::Action action;
    const char *expected;  // Write: the target; otherwise words of the verdict, or of the mend
};
const Case kCases[] = {
    // Windows' own: kept as they are; users may add folders to a root.
    {Role::Path, kStockC, nullptr, false, true, Plan::Keep, ""},
    {Role::Path,
     "O:" TI "D:PAI(A;;FA;;;BA)(A;OICIIO;GA;;;BA)(A;;FA;;;SY)(A;OICIIO;GA;;;SY)(A;OICI;0x1200a9;;;BU)"
     "(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)S:(ML;OINPIO;NW;;;HI)",
     nullptr, false, true, Plan::Keep, ""},
    {Role::Path, kStockD, nullptr, false, true, Plan::Keep, ""},
    {Role::Path,
     "O:" TI "G:" TI "D:PAI(A;OICIIO;GA;;;CO)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;BA)"
     "(A;;0x1301bf;;;BA)(A;OICIIO;GXGR;;;BU)(A;;0x1200a9;;;BU)(A;CIIO;GA;;;" TI ")(A;;FA;;;" TI ")"
     "(A;;0x1200a9;;;AC)(A;OICIIO;GXGR;;;AC)(A;;0x1200a9;;;S-1-15-2-2)(A;OICIIO;GXGR;;;S-1-15-2-2)",
     kStockC, false, true, Plan::Keep, ""},
    // A vendor's elevated installer made C:\Qmx: every signed-in user may
    // delete it. It keeps each entry, for itself less the delete.
    {Role::Path, "O:BAG:S-1-5-21-1-2-3-513D:AI" UNDER_C, kStockC, false, false, Plan::Write,
     "O:BAD:PAI(A;OICIIO;SDGXGWGR;;;AU)(A;;0x1201bf;;;AU)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"},
    // A user made it first and gave Everyone full control.
    {Role::Path, "O:" USER "D:AI(A;OICI;FA;;;WD)" UNDER_C, kStockC, false, false, Plan::Write,
     "O:BAD:PAI(A;OICIIO;FA;;;WD)(A;;0x1201bf;;;WD)(A;OICIIO;SDGXGWGR;;;AU)(A;;0x1201bf;;;AU)(A;OICI;FA;;;SY)"
     "(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"},
    // A user's folder under a locked one: only its owner changes; a deny stays.
    {Role::Path, "O:" USER "D:AI(D;OICI;FA;;;BG)(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)", LOCKED,
     false, false, Plan::Write, "O:BAD:PAI(D;OICI;FA;;;BG)" LOCKED_ACES},
    // D:\Lab, a user's, beside a protected D:\Lab\Data of theirs: only the
    // path is planned, and what D:\Lab hands down stays entry for entry.
    {Role::Path,
     "O:" USER "D:AI(A;OICIIOID;SDGXGWGR;;;AU)(A;ID;0x1301bf;;;AU)(A;OICIIOID;GA;;;SY)(A;ID;FA;;;SY)"
     "(A;OICIIOID;GA;;;BA)(A;ID;FA;;;BA)(A;OICIIOID;GXGR;;;BU)(A;ID;0x1200a9;;;BU)",
     kStockD, false, false, Plan::Write,
     "O:BAD:PAI(A;OICIIO;SDGXGWGR;;;AU)(A;;0x1201bf;;;AU)(A;OICIIO;GA;;;SY)(A;;FA;;;SY)(A;OICIIO;GA;;;BA)"
     "(A;;FA;;;BA)(A;OICIIO;GXGR;;;BU)(A;;0x1200a9;;;BU)"},
    // A folder whose parent lets users delete it: the parent's plan mends that.
    {Role::Path, "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", "O:BAD:(A;;0x1200e9;;;BU)", false, false, Plan::Keep,
     "Users may delete or replace it"},
    {Role::Path, "O:BAD:(A;OICI;0x1200e9;;;BU)", kStockC, false, false, Plan::Write,
     "O:BAD:PAI(A;OICIIO;0x1200e9;;;BU)(A;;0x1200a9;;;BU)"},
    {Role::Path, "O:BAD:(A;OICI;GA;;;IU)", kStockC, false, false, Plan::Write,
     "O:BAD:PAI(A;OICIIO;GA;;;IU)(A;;0x1201bf;;;IU)"},
    {Role::Path, "O:BAD:NO_ACCESS_CONTROL", kStockC, false, false, Plan::Write,
     "O:BAD:PAI(A;OICIIO;FA;;;WD)(A;;0x1201bf;;;WD)"},
    // The program's folder, made by a user with Users' Modify, or locked.
    {Role::Folder, "O:" USER "D:AI(A;OICI;0x1301bf;;;BU)" UNDER_C, "O:BAD:PAI(A;OICIIO;SDGXGWGR;;;AU)", false, false,
     Plan::Write, LOCKED},
    {Role::Folder, LOCKED, kStockC, false, true, Plan::Keep, ""},
    {Role::Folder, "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICIIO;FA;;;CO)", kStockC, false,
     false, Plan::Write, LOCKED},
    // Its files: what the folder hands down, nothing of their own.
    {Role::File, "O:SYD:AI" HANDED, LOCKED, false, true, Plan::Write, "O:BAD:AI" HANDED},
    {Role::File, "O:BAD:AI(A;;0x1200a9;;;BU)" HANDED, LOCKED, false, false, Plan::Write, "O:BAD:AI" HANDED},
    {Role::Loadable, "O:BAD:AI" HANDED, LOCKED, false, true, Plan::Keep, ""},
    {Role::Loadable, "O:BAD:AI(A;ID;0x1301bf;;;BU)" HANDED, LOCKED, false, false, Plan::Write, "O:BAD:AI" HANDED},
    {Role::Loadable, "O:" USER "D:AI" HANDED, LOCKED, false, false, Plan::Refuse, "ACCEPTFILES"},
    {Role::Loadable, "O:" USER "D:AI" HANDED, LOCKED, true, false, Plan::Write, "O:BAD:AI" HANDED},
    {Role::Waveform, "O:" USER "D:AI(A;ID;FA;;;" USER ")" HANDED, LOCKED, false, false, Plan::Write,
     "O:BAD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)"},
};

// Each plan, and what it writes is safe and planned again as it stands: a
// repair changes nothing.
TEST(LockRule, VerdictAndPlanForEachObject)
{
    for (const Case &c : kCases) {
        const lock_rule::Descriptor current = Parsed(c.current), parent = Parsed(c.parent ? c.parent : "O:SYD:");
        const lock_rule::Descriptor *above = c.parent ? &parent : nullptr;
        const lock_rule::Verdict v = lock_rule::Judge(c.role, current, above);
        const Plan p = lock_rule::PlanFor(c.role, current, above, c.accepted);
        SCOPED_TRACE(c.current);
        EXPECT_EQ(c.safe, v.safe) << v.why;
        ASSERT_EQ(c.action, p.action) << p.why;
        if (c.action == Plan::Write) {
            EXPECT_EQ(c.expected, Sddl(p.target));
            EXPECT_TRUE(lock_rule::Judge(c.role, p.target, above).safe)
                << lock_rule::Judge(c.role, p.target, above).why;
            EXPECT_EQ(Plan::Keep, lock_rule::PlanFor(c.role, p.target, above, false).action);
        } else {
            EXPECT_TRUE(c.action == Plan::Refuse || lock_rule::Same(current, p.target));
            EXPECT_NE(std::string::npos, (v.why + std::string(p.mend)).find(c.expected)) << v.why << p.mend;
        }
    }
}

// Windows' own SDDL back as it came; a SID Windows 7 has no alias for stays
// a number; anything not read whole is not read at all.
TEST(LockRule, ReadsWholeOrNotAtAllAndWritesItBack)
{
    const char *const kWhole[] = {
        "O:SYD:AI(A;OICIIO;SDGXGWGR;;;AU)(A;;0x1301bf;;;AU)", LOCKED,
        "O:" USER
        "D:(A;;FA;;;S-1-5-32-579)(D;NP;SD;;;S-1-15-3-1024-3635283841-2530182609-996808640-1887759898-"
        "3848208603-3313616867-983405619-2501854204)"};
    for (const char *sddl : kWhole) EXPECT_EQ(sddl, Sddl(Parsed(sddl)));
    EXPECT_EQ(LOCKED,
              Sddl(Parsed("O:S-1-5-32-544D:PAI(A;CIOI;0x1f01ff;;;S-1-5-18)(A;OICI;FA;;;BA)(A;OICI;0x1200A9;;;BU)")));
    lock_rule::Descriptor d;
    EXPECT_TRUE(lock_rule::Parse("O:BAG:SYD:NO_ACCESS_CONTROL", &d));
    EXPECT_FALSE(d.has_dacl);
    for (const char *broken : {"", "O:BA", "D:P(A;;FA;;;BA)", "O:BAD:(A;;FA;;;BA", "O:BAD:(A;;QQ;;;BU)",
                               "O:ZZD:", "O:BAD:(OA;;GA;bf967aba-0de6-11d0-a285-00aa003049e2;;AU)",
                               "O:BAD:(A;;FA;;;S-1-5-)", "O:BAD:(XA;;FA;;;WD;(Member_of {SID(BA)}))"})
        EXPECT_FALSE(lock_rule::Parse(broken, &d)) << broken;
    EXPECT_FALSE(lock_rule::Same(Parsed(LOCKED), Parsed("O:SYD:PAI" LOCKED_ACES)));
    EXPECT_TRUE(lock_rule::Same(Parsed(LOCKED), Parsed("O:BAD:P" LOCKED_ACES)));  // AI is bookkeeping
    char small[16];
    EXPECT_EQ(-1, lock_rule::Format(Parsed(LOCKED), small, sizeof small));
}

TEST(LockRule, WhatWindowsMayLoad)
{
    for (const char *name : {"AWG10K.DLL", "minute-trigger.exe", "run.cmd", "x.Bat", "a.exe.manifest", "a.exe.local"})
        EXPECT_EQ(Role::Loadable, lock_rule::RoleOfFile(name)) << name;
    for (const char *name : {"INSTALL.txt", "dll", "x.dllx", "minute-trigger.log", "a.dll.txt"})
        EXPECT_EQ(Role::File, lock_rule::RoleOfFile(name)) << name;
}

}  // namespace
