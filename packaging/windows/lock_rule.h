// Who may change what the package runs, and what the installer writes to
// make it so: one rule, read by the installer's locking step
// (lock_folders.cpp) and by minute-trigger-check's permission lines alike.
// Plain code over an object's readings as SDDL, with no Windows call, no
// allocation and no C++ runtime (the step's DLL has none), so that every
// verdict and every plan is tried on Linux (tests/lock_rule_test.cpp).
#pragma once

namespace lock_rule {

// A SID as SDDL writes it: an alias (BA) or S-1-... with up to 15 numbers; an
// app capability's (S-1-15-3-1024-...) runs past 100 characters.
constexpr int kSidChars = 192;
constexpr int kMaxAces = 48;
constexpr int kTextChars = 512;

// Windows' ACE flags.
constexpr unsigned kObjectInherit = 0x1, kContainerInherit = 0x2, kNoPropagate = 0x4, kInheritOnly = 0x8,
                   kInherited = 0x10;

struct Ace {
    char type;       // 'A' allowed, 'D' denied; Parse refuses any other kind (object, callback, conditional)
    unsigned flags;  // the ACE flags above
    unsigned mask;   // the access mask as written, generic bits included
    char sid[kSidChars];
};

struct Descriptor {
    char owner[kSidChars];
    bool has_dacl;        // false: a NULL DACL, which lets anyone do anything
    bool is_protected;    // P: nothing inherited from the parent
    bool auto_inherited;  // AI
    int count;
    Ace aces[kMaxAces];
};

// SDDL as ConvertSecurityDescriptorToStringSecurityDescriptor writes it
// (owner and DACL; a group or SACL is skipped; S-1-5-32-544 and the other
// SIDs every Windows writes as an alias are read as it); false where it cannot be read
// whole, which the callers treat as a refusal, never as "nothing to see".
bool Parse(const char *sddl, Descriptor *out);
// D as SDDL ("O:BAD:P(A;OICI;FA;;;SY)..."), its length, or -1 when OUT (CAPACITY
// characters, the closing NUL among them) is too small.
int Format(const Descriptor &d, char *out, int capacity);
// Owner, protection and each entry, in order: what a read-back compares (AI
// is Windows' bookkeeping, not a permission, and is left out).
bool Same(const Descriptor &a, const Descriptor &b);

// Whether SID, as Parse reads it, is one of the accounts that alone may
// change or own what the package locks: Administrators, SYSTEM or
// TrustedInstaller.
bool Trusted(const char *sid);

// What an object is to the program.
enum class Role {
    Path,      // a folder on the way to the program's folder or to the waveform file, the drive's root among them
    Folder,    // the program's folder (INSTALLDIR)
    File,      // a file directly in it that Windows does not load into the program: the log, texts, data
    Loadable,  // one it may load: .dll .exe .cmd .bat .manifest .local
    Waveform,  // the waveform file
};
// NAME's role directly in the program's folder: Loadable or File.
Role RoleOfFile(const char *name);

struct Verdict {
    // Only Administrators, SYSTEM or TrustedInstaller may change it; and what
    // the package locks holds entries for no one else but Users, and a file
    // in the folder only what the folder hands down.
    bool safe;
    char why[kTextChars];  // not safe: who may do what ("owned by S-1-5-21-...; Everyone may delete, change
                           // permissions")
};
// PARENT: the folder that holds it (null for a drive's root, which cannot be
// deleted), whose delete-child right on it counts too. A Path's own
// delete-child right counts as well: it is what the next folder down hangs on.
Verdict Judge(Role role, const Descriptor &d, const Descriptor *parent);

struct Plan {
    enum Action { Keep, Write, Refuse } action;
    Descriptor target;  // Write: the descriptor to write on the held handle, without propagation; Keep: the current one
    char why[kTextChars];   // Write: what it mends; Refuse: why it cannot
    char mend[kTextChars];  // Refuse: the property or step that mends it (never an icacls line)
};
// ACCEPTED: a property names this file as one users may have written before
// the install (a Loadable owned by a user is otherwise refused). A Path is
// planned for what it allows itself: a parent that lets others delete it is
// on the path too, and its own plan takes that right away.
Plan PlanFor(Role role, const Descriptor &current, const Descriptor *parent, bool accepted);
// The property that accepts loadable files users owned (file names, ';' between).
constexpr char kAcceptProperty[] = "ACCEPTFILES";

}  // namespace lock_rule
