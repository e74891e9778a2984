// The objects on the way from a drive's root to a folder or a file, each
// opened by its one name relative to its parent's handle, never following a
// link, and held, shared for reading only, until the step ends: nothing on
// the way can be renamed, replaced or written meanwhile, and a handle
// someone opened before (which would keep the access it was opened with)
// shows as a sharing violation. Shared by LockFolders (lock_folders.cpp) and
// its undo (restore_folders.cpp), with where the undo's saved state lives.
#pragma once
#include "install_step.h"
#include "layout.h"
#include "lock_rule.h"

constexpr int kPathChars = MAX_PATH * 2;
constexpr int kSddlChars = 8192;
// The folder's files and the folders above; a vendor's folder holds tens.
constexpr int kMaxObjects = 1024;
constexpr NTSTATUS kNotFound = static_cast<NTSTATUS>(0xC0000034), kPathNotFound = static_cast<NTSTATUS>(0xC000003A),
                   kSharingViolation = static_cast<NTSTATUS>(0xC0000043),
                   kNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
const SECURITY_INFORMATION kOwnerAndDacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
// Only the writes and the reads of permissions, and the listing; asking for
// the data's read access too makes the sharing count: without it Windows
// checks and records no sharing at all.
const ACCESS_MASK kAccess =
    READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES | FILE_READ_DATA | SYNCHRONIZE;
// What the first install changed, by file ID, for its undo to give back
// (layout.h says how).
const wchar_t kKey[] = WIDE(LAYOUT_KEY), kSaved[] = WIDE(LAYOUT_SAVED_KEY);
const wchar_t kRestart[] = L"in use by another program: restart Windows, then install again: ";

// One object on the way: a folder's path ends in a backslash.
struct Object {
    wchar_t path[kPathChars];
    int parent;  // its index, -1 for a drive's root
    lock_rule::Role role;
    bool folder;
    bool own;              // one of the package's files, to be deleted
    HANDLE handle;         // null where it is missing
    lock_rule::Plan plan;  // its target is what it has once the step is done
};

// What a step holds open: kMaxObjects, too many for its stack.
struct Objects {
    Object *at;
    int count;
};
// False where there is no memory for them.
bool Allocate(Objects *objects);
// Closes every handle held, and forgets the objects.
void CloseAll(Objects *objects);
void Free(Objects *objects);

// Lets SYSTEM open and take over what a user made to shut it out (backup
// intent and ownership), as its token allows but does not yet enable.
void EnablePrivileges();

// Whether FOLDER (a full path ending in a backslash) lies where its path can
// be locked: below a drive letter's root, outside Windows' own folders,
// ProgramData and the users' folders.
bool Lockable(const wchar_t *folder);

// Opens NAME (LENGTH characters) relative to PARENT (null: NAME is a full NT
// path), never following a link on it; DISPOSITION FILE_CREATE makes a
// folder with DESCRIPTOR.
NTSTATUS OpenAt(const Ntdll &nt, HANDLE parent, const wchar_t *name, int length, bool folder, ACCESS_MASK access,
                ULONG disposition, PSECURITY_DESCRIPTOR descriptor, HANDLE *opened);

// The permissions on HANDLE, as SDDL in TEXT (CAPACITY characters) and read
// into OUT; false where they cannot be read whole.
bool ReadDescriptor(const Ntdll &nt, HANDLE handle, char *text, int capacity, lock_rule::Descriptor *out);
// D made a security descriptor, to be freed with LocalFree; null where it
// cannot be.
PSECURITY_DESCRIPTOR Build(const lock_rule::Descriptor &d);

// Opens the object NAME (LENGTH characters) in the object at PARENT, or the
// drive's root (PARENT -1, NAME its NT path), and adds it: its index, or -1
// with the failure logged. A missing one is added without a handle.
int Add(MSIHANDLE install, const Ntdll &nt, Objects *objects, const wchar_t *path, int parent, const wchar_t *name,
        int length, lock_rule::Role role, bool folder, ACCESS_MASK access);

// What is done with each object AddPath adds, before the next is opened:
// false stops the walk, the failure logged.
using PlanStep = bool (*)(MSIHANDLE install, const Ntdll &nt, Objects *objects, int index);
// Adds the objects from PATH's drive's root down to PATH (a folder's ends in
// a backslash), LAST's role for the last, each given to PLAN, if any: its
// index, or -1 with the failure logged.
int AddPath(MSIHANDLE install, const Ntdll &nt, Objects *objects, const wchar_t *path, lock_rule::Role last,
            PlanStep plan);

// The object's identity, its volume's serial and its file ID, into OUT (at
// least 32 characters): what a saved descriptor is given back to.
bool FileId(const Ntdll &nt, HANDLE handle, wchar_t *out);
