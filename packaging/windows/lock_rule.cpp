// The permission rule (lock_rule.h, which says why it is plain code).
#include "lock_rule.h"

namespace lock_rule {
namespace {

constexpr unsigned kWrite = 0x2, kAppend = 0x4, kDeleteChild = 0x40, kDelete = 0x10000, kWriteDac = 0x40000,
                   kWriteOwner = 0x80000;
constexpr unsigned kFileAll = 0x1f01ff, kFileRead = 0x120089, kFileWrite = 0x120116, kFileExecute = 0x1200a0,
                   kReadExecute = 0x1200a9;
// What a Path folder's this-folder entries lose: whoever holds one of these
// could delete, rename or re-permit the folder, or a folder below it.
constexpr unsigned kTakesAway = kDelete | kDeleteChild | kWriteDac | kWriteOwner;

const char kTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

struct Code {
    const char *code;
    unsigned mask;
};
// Whole masks, written in place of their parts (the K ones only read).
const Code kWhole[] = {{"FA", kFileAll}, {"FR", kFileRead}, {"FW", kFileWrite}, {"FX", kFileExecute},
                       {"KA", 0xf003f},  {"KR", 0x20019},   {"KW", 0x20006},    {"KX", 0x20019}};
constexpr int kWrittenWhole = 4;
// Single rights in the ascending order of their bits, Windows' own order.
const Code kBits[] = {{"CC", 0x1},         {"DC", 0x2},        {"LC", 0x4},        {"SW", 0x8},
                      {"RP", 0x10},        {"WP", 0x20},       {"DT", 0x40},       {"LO", 0x80},
                      {"CR", 0x100},       {"SD", kDelete},    {"RC", 0x20000},    {"WD", kWriteDac},
                      {"WO", kWriteOwner}, {"GA", 0x10000000}, {"GX", 0x20000000}, {"GW", 0x40000000},
                      {"GR", 0x80000000}};
const Code kFlags[] = {
    {"OI", kObjectInherit}, {"CI", kContainerInherit}, {"NP", kNoPropagate}, {"IO", kInheritOnly}, {"ID", kInherited}};

// SDDL's aliases, and a name for the report. A SID written as S-1-... is
// read as its alias only where every Windows the package runs on (7 and
// later) writes and reads that alias: the newer ones are kept as written,
// so that what is copied from a descriptor is written back as Windows gave it.
struct Alias {
    const char *code;
    const char *sid;
    const char *name;
};
const Alias kAliases[] = {{"AN", "S-1-5-7", "Anonymous"},
                          {"AO", "S-1-5-32-548", "Account Operators"},
                          {"AU", "S-1-5-11", "Authenticated Users"},
                          {"BA", "S-1-5-32-544", "Administrators"},
                          {"BG", "S-1-5-32-546", "Guests"},
                          {"BO", "S-1-5-32-551", "Backup Operators"},
                          {"BU", "S-1-5-32-545", "Users"},
                          {"CG", "S-1-3-1", "Creator Group"},
                          {"CO", "S-1-3-0", "Creator Owner"},
                          {"IU", "S-1-5-4", "Interactive"},
                          {"LS", "S-1-5-19", "Local Service"},
                          {"LU", "S-1-5-32-559", nullptr},
                          {"MU", "S-1-5-32-558", nullptr},
                          {"NO", "S-1-5-32-556", nullptr},
                          {"NS", "S-1-5-20", "Network Service"},
                          {"NU", "S-1-5-2", "Network"},
                          {"PO", "S-1-5-32-550", nullptr},
                          {"PS", "S-1-5-10", nullptr},
                          {"PU", "S-1-5-32-547", "Power Users"},
                          {"RC", "S-1-5-12", nullptr},
                          {"RD", "S-1-5-32-555", "Remote Desktop Users"},
                          {"RE", "S-1-5-32-552", nullptr},
                          {"SO", "S-1-5-32-549", nullptr},
                          {"SU", "S-1-5-6", nullptr},
                          {"SY", "S-1-5-18", "SYSTEM"},
                          {"WD", "S-1-1-0", "Everyone"},
                          {"OW", nullptr, "Owner Rights"},
                          {"AC", nullptr, "All Application Packages"},
                          {"AA", nullptr, nullptr},
                          {"AP", nullptr, nullptr},
                          {"AS", nullptr, nullptr},
                          {"CA", nullptr, nullptr},
                          {"CD", nullptr, nullptr},
                          {"CN", nullptr, nullptr},
                          {"CY", nullptr, nullptr},
                          {"DA", nullptr, nullptr},
                          {"DC", nullptr, nullptr},
                          {"DD", nullptr, nullptr},
                          {"DG", nullptr, nullptr},
                          {"DU", nullptr, nullptr},
                          {"EA", nullptr, nullptr},
                          {"ED", nullptr, nullptr},
                          {"EK", nullptr, nullptr},
                          {"ER", nullptr, nullptr},
                          {"ES", nullptr, nullptr},
                          {"HA", nullptr, nullptr},
                          {"HI", nullptr, nullptr},
                          {"IS", nullptr, nullptr},
                          {"KA", nullptr, nullptr},
                          {"LA", nullptr, nullptr},
                          {"LG", nullptr, nullptr},
                          {"LW", nullptr, nullptr},
                          {"ME", nullptr, nullptr},
                          {"MP", nullptr, nullptr},
                          {"MS", nullptr, nullptr},
                          {"PA", nullptr, nullptr},
                          {"RA", nullptr, nullptr},
                          {"RM", nullptr, nullptr},
                          {"RO", nullptr, nullptr},
                          {"RS", nullptr, nullptr},
                          {"SA", nullptr, nullptr},
                          {"SI", nullptr, nullptr},
                          {"SS", nullptr, nullptr},
                          {"UD", nullptr, nullptr},
                          {"WR", nullptr, nullptr}};

bool Equal(const char *a, const char *b)
{
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

bool StartsWith(const char *text, const char *prefix)
{
    while (*prefix && *text == *prefix) ++text, ++prefix;
    return *prefix == 0;
}

bool Copy(char *out, const char *text, int capacity)
{
    int n = 0;
    for (; text[n]; ++n)
        if (n + 1 >= capacity) return false;
    for (int i = 0; i <= n; ++i) out[i] = text[i];
    return true;
}

// Text built into a fixed buffer; what does not fit is cut off.
struct Text {
    char *out;
    int capacity, length;
    bool cut;
    Text(char *buffer, int size) : out(buffer), capacity(size), length(0), cut(false) { out[0] = 0; }
    Text &operator<<(const char *text)
    {
        for (; *text && !(cut = length + 1 >= capacity); ++text) out[length++] = *text;
        out[length] = 0;
        return *this;
    }
};

// --- reading ------------------------------------------------------------------

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int HexDigit(char c)
{
    if (IsDigit(c)) return c - '0';
    c = static_cast<char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// A SID at *AT, as an alias or as S-1-..., into OUT: a known fixed SID as its
// alias, as Windows writes it.
bool ReadSid(const char **at, char *out)
{
    const char *s = *at;
    if (s[0] == 'S' && s[1] == '-') {
        int n = 2, parts = 0;
        while (IsDigit(s[n])) {
            while (IsDigit(s[n])) ++n;
            ++parts;
            if (s[n] != '-' || !IsDigit(s[n + 1])) break;
            ++n;
        }
        if (parts < 2 || n + 1 > kSidChars) return false;
        for (int i = 0; i < n; ++i) out[i] = s[i];
        out[n] = 0;
        for (const Alias &a : kAliases)
            if (a.sid && Equal(a.sid, out)) Copy(out, a.code, kSidChars);
        *at = s + n;
        return true;
    }
    for (const Alias &a : kAliases)
        if (StartsWith(s, a.code)) {
            Copy(out, a.code, kSidChars);
            *at = s + 2;
            return true;
        }
    return false;
}

bool ReadMask(const char **at, unsigned *mask)
{
    const char *s = *at;
    *mask = 0;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        int digits = 0;
        for (s += 2; HexDigit(*s) >= 0; ++s, ++digits) {
            if (digits == 8) return false;
            *mask = *mask << 4 | static_cast<unsigned>(HexDigit(*s));
        }
        *at = s;
        return digits > 0;
    }
    while (*s != ';') {
        bool known = false;
        for (const Code &c : kWhole) known = known || (StartsWith(s, c.code) && (*mask |= c.mask, true));
        for (const Code &c : kBits) known = known || (StartsWith(s, c.code) && (*mask |= c.mask, true));
        if (!known) return false;
        s += 2;
    }
    *at = s;
    return true;
}

bool Expect(const char **at, char c)
{
    return **at == c && (++*at, true);
}

bool ReadAce(const char **at, Ace *ace)
{
    const char *s = *at;
    if (!Expect(&s, '(') || (*s != 'A' && *s != 'D') || s[1] != ';') return false;
    ace->type = *s;
    s += 2;
    ace->flags = 0;
    while (*s != ';') {
        bool known = false;
        for (const Code &f : kFlags) known = known || (StartsWith(s, f.code) && (ace->flags |= f.mask, true));
        if (!known) return false;
        s += 2;
    }
    ++s;
    if (!ReadMask(&s, &ace->mask) || !Expect(&s, ';') || !Expect(&s, ';') || !Expect(&s, ';') ||
        !ReadSid(&s, ace->sid) || !Expect(&s, ')'))
        return false;
    *at = s;
    return true;
}

// --- judging ------------------------------------------------------------------

// OWNER RIGHTS stands for whoever owns the object.
bool Trusted(const char *sid, const char *owner)
{
    return lock_rule::Trusted(Equal(sid, "OW") ? owner : sid);
}

// Generic rights as what they mean for a file or folder.
unsigned Mapped(unsigned mask)
{
    unsigned out = mask & 0x0fffffff;
    if (mask & 0x10000000) out |= kFileAll;
    if (mask & 0x20000000) out |= kFileExecute;
    if (mask & 0x40000000) out |= kFileWrite;
    if (mask & 0x80000000) out |= kFileRead;
    return out;
}

bool Ours(Role role)
{
    return role != Role::Path;
}

void Who(Text *why, const char *sid)
{
    for (const Alias &a : kAliases)
        if (a.name && Equal(a.code, sid)) {
            *why << a.name;
            return;
        }
    *why << sid;
}

void Next(Text *why)
{
    if (why->length > 0) *why << "; ";
}

void Rights(Text *why, unsigned rights)
{
    const Code kWords[] = {{"write", kWrite},
                           {"append", kAppend},
                           {"delete", kDelete},
                           {"delete what it holds", kDeleteChild},
                           {"change permissions", kWriteDac},
                           {"take ownership", kWriteOwner}};
    const char *comma = "";
    for (const Code &w : kWords)
        if (rights & w.mask) *why << comma << w.code, comma = ", ";
}

// What D allows others on itself (and, for the program's folder, hands down
// to its files), into WHY; ROOT: a drive's root, which nobody can delete.
void OwnFaults(Role role, const Descriptor &d, bool root, Text *why)
{
    if (!Trusted(d.owner, d.owner)) Next(why), *why << "owned by ", Who(why, d.owner);
    if (!d.has_dacl) Next(why), *why << "no permissions set: anyone may do anything";
    const unsigned changing = Ours(role) ? kWrite | kAppend | kTakesAway : kTakesAway & ~(root ? kDelete : 0u);
    for (int i = 0; d.has_dacl && i < d.count; ++i) {
        const Ace &a = d.aces[i];
        const bool applies = !(a.flags & kInheritOnly), hands = role == Role::Folder && (a.flags & kObjectInherit);
        // A CREATOR OWNER entry matches nobody on the object itself.
        if (a.type != 'A' || Trusted(a.sid, d.owner) || !(applies || hands) ||
            (applies && !hands && Equal(a.sid, "CO")))
            continue;
        const unsigned rights = Mapped(a.mask) & changing;
        if (rights) {
            Next(why), Who(why, a.sid), *why << " may ", Rights(why, rights);
            if (!applies) *why << " (handed down to its files)";
        } else if (Ours(role) && !Equal(a.sid, "BU")) {
            Next(why), *why << "an entry for ", Who(why, a.sid);
        } else if ((role == Role::File || role == Role::Loadable) && !(a.flags & kInherited)) {
            Next(why), *why << "an entry of its own for ", Who(why, a.sid);
        }
    }
}

void ParentFaults(const Descriptor &parent, Text *why)
{
    if (!parent.has_dacl) Next(why), *why << "anyone may delete or replace it: the folder above has no permissions set";
    for (int i = 0; parent.has_dacl && i < parent.count; ++i) {
        const Ace &a = parent.aces[i];
        if (a.type == 'A' && !(a.flags & kInheritOnly) && !Trusted(a.sid, parent.owner) && !Equal(a.sid, "CO") &&
            (Mapped(a.mask) & kDeleteChild))
            Next(why), Who(why, a.sid), *why << " may delete or replace it (delete what the folder above holds)";
    }
}

// --- planning ----------------------------------------------------------------

bool Add(Descriptor *d, char type, unsigned flags, unsigned mask, const char *sid)
{
    if (d->count == kMaxAces) return false;
    Ace &a = d->aces[d->count++];
    a.type = type, a.flags = flags, a.mask = mask;
    return Copy(a.sid, sid, kSidChars);
}

void Locked(Descriptor *d, bool is_protected, unsigned flags, unsigned users)
{
    Copy(d->owner, "BA", kSidChars);
    d->has_dacl = true, d->is_protected = is_protected, d->auto_inherited = true;
    Add(d, 'A', flags, kFileAll, "SY");
    Add(d, 'A', flags, kFileAll, "BA");
    Add(d, 'A', flags, users, "BU");
}

// Each former entry kept, for itself and for what is below, but what lets
// others remove or re-permit the folder (or one below it) taken from what
// applies to it; so what is below inherits exactly what it did. A NULL DACL
// counts as Everyone's full control, handed down.
bool PathTarget(const Descriptor &current, Descriptor *t)
{
    Copy(t->owner, "BA", kSidChars);
    t->has_dacl = true, t->is_protected = true, t->auto_inherited = true;
    Descriptor anyone{};
    anyone.count = 1;
    anyone.aces[0] = Ace{'A', kObjectInherit | kContainerInherit, kFileAll, "WD"};
    const Descriptor &former = current.has_dacl ? current : anyone;
    for (int i = 0; i < former.count; ++i) {
        const Ace &a = former.aces[i];
        const unsigned flags = a.flags & ~kInherited;
        if (a.type != 'A' || (a.flags & kInheritOnly) || Trusted(a.sid, "BA") || !(Mapped(a.mask) & kTakesAway)) {
            if (!Add(t, a.type, flags, a.mask, a.sid)) return false;
            continue;
        }
        const bool inheritable = flags & (kObjectInherit | kContainerInherit);
        if (inheritable && !Add(t, 'A', flags | kInheritOnly, a.mask, a.sid)) return false;
        const unsigned left = Mapped(a.mask) & ~kTakesAway;
        if (left && !Add(t, 'A', 0, left, a.sid)) return false;
    }
    return true;
}

}  // namespace

bool Trusted(const char *sid)
{
    return Equal(sid, "BA") || Equal(sid, "SY") || Equal(sid, kTrustedInstaller);
}

bool Parse(const char *sddl, Descriptor *out)
{
    *out = Descriptor{};
    bool owner = false, dacl = false;
    const char *s = sddl;
    while (*s && !(s[0] == 'S' && s[1] == ':')) {  // the SACL comes last and is not ours to read
        const char tag = s[0];
        if (s[1] != ':') return false;
        s += 2;
        char group[kSidChars];
        if (tag == 'O' && !owner) {
            if (!ReadSid(&s, out->owner)) return false;
            owner = true;
        } else if (tag == 'G') {
            if (!ReadSid(&s, group)) return false;
        } else if (tag == 'D' && !dacl) {
            dacl = out->has_dacl = true;
            for (;;) {
                if (StartsWith(s, "P"))
                    out->is_protected = true, s += 1;
                else if (StartsWith(s, "AI"))
                    out->auto_inherited = true, s += 2;
                else if (StartsWith(s, "AR"))
                    s += 2;
                else if (StartsWith(s, "NO_ACCESS_CONTROL"))
                    out->has_dacl = false, s += 17;
                else
                    break;
            }
            while (*s == '(') {
                if (!out->has_dacl || out->count == kMaxAces || !ReadAce(&s, &out->aces[out->count])) return false;
                ++out->count;
            }
        } else {
            return false;
        }
    }
    return owner && dacl;
}

int Format(const Descriptor &d, char *out, int capacity)
{
    Text t(out, capacity);
    t << "O:" << d.owner << "D:";
    if (d.is_protected) t << "P";
    if (d.auto_inherited) t << "AI";
    if (!d.has_dacl) t << "NO_ACCESS_CONTROL";
    for (int i = 0; d.has_dacl && i < d.count; ++i) {
        const Ace &a = d.aces[i];
        const char type[2] = {a.type, 0};
        t << "(" << type << ";";
        for (const Code &f : kFlags)
            if (a.flags & f.mask) t << f.code;
        t << ";";
        const Code *whole = nullptr;
        for (int w = 0; w < kWrittenWhole; ++w)
            if (kWhole[w].mask == a.mask) whole = &kWhole[w];
        unsigned named = 0;
        for (const Code &b : kBits) named |= b.mask;
        if (whole) {
            t << whole->code;
        } else if (a.mask != 0 && (a.mask & ~named) == 0) {
            for (const Code &b : kBits)
                if (a.mask & b.mask) t << b.code;
        } else {
            char hex[11] = "0x";
            int n = 2;
            for (int shift = 28; shift >= 0; shift -= 4) {
                const unsigned v = a.mask >> shift & 0xf;
                if (v || n > 2 || shift == 0) hex[n++] = "0123456789abcdef"[v];
            }
            hex[n] = 0;
            t << hex;
        }
        t << ";;;" << a.sid << ")";
    }
    return t.cut ? -1 : t.length;
}

bool Same(const Descriptor &a, const Descriptor &b)
{
    if (!Equal(a.owner, b.owner) || a.has_dacl != b.has_dacl || a.is_protected != b.is_protected || a.count != b.count)
        return false;
    for (int i = 0; i < a.count; ++i) {
        const Ace &x = a.aces[i], &y = b.aces[i];
        if (x.type != y.type || x.flags != y.flags || x.mask != y.mask || !Equal(x.sid, y.sid)) return false;
    }
    return true;
}

Role RoleOfFile(const char *name)
{
    const char *const kLoadable[] = {".dll", ".exe", ".cmd", ".bat", ".manifest", ".local"};
    int dot = -1, n = 0;
    for (; name[n]; ++n)
        if (name[n] == '.') dot = n;
    for (const char *type : kLoadable) {
        int i = 0;
        while (dot >= 0 && type[i] && (name[dot + i] | 0x20) == type[i]) ++i;
        if (dot >= 0 && !type[i] && !name[dot + i]) return Role::Loadable;
    }
    return Role::File;
}

Verdict Judge(Role role, const Descriptor &d, const Descriptor *parent)
{
    Verdict v{};
    Text why(v.why, kTextChars);
    OwnFaults(role, d, parent == nullptr, &why);
    if (parent) ParentFaults(*parent, &why);
    v.safe = why.length == 0;
    return v;
}

Plan PlanFor(Role role, const Descriptor &current, const Descriptor *parent, bool accepted)
{
    Plan p{};
    Text why(p.why, kTextChars), mend(p.mend, kTextChars);
    OwnFaults(role, current, role == Role::Path && parent == nullptr, &why);
    const bool faults = why.length > 0;
    bool built = true;
    switch (role) {
        case Role::Path:
            if (!faults) break;
            built = PathTarget(current, &p.target);
            break;
        case Role::Folder: Locked(&p.target, true, kObjectInherit | kContainerInherit, kReadExecute); break;
        case Role::File:
        case Role::Loadable: Locked(&p.target, false, kInherited, kReadExecute); break;
        case Role::Waveform: Locked(&p.target, true, 0, kFileRead); break;
    }
    // Kept, the target is what stays: the parent the next object is planned
    // and judged against.
    if ((role == Role::Path && !faults) || (built && Same(current, p.target))) {
        p.action = Plan::Keep;
        p.target = current;
        return p;
    }
    p.action = Plan::Write;
    if (!built) {
        p.action = Plan::Refuse;
        why << "; more entries than the locked copy can hold";
        mend << "remove the entries this folder no longer needs (Properties, Security, Advanced), then install again";
    } else if (role == Role::Loadable && !Trusted(current.owner, current.owner) && !accepted) {
        p.action = Plan::Refuse;
        why << ": Windows may load it into the program, and whoever owns it could have changed it before this install";
        mend
            << "reinstall the vendor's software from its own medium, then install again; or, to run it as it is, name it in "
            << kAcceptProperty << " (file names separated by semicolons)";
    } else if (role == Role::Loadable && faults) {
        why << ": others could change it before this install; reinstall the vendor's software from its own medium";
    } else if (!faults) {
        why << "not yet as the package locks it";
    }
    return p;
}

}  // namespace lock_rule
