// LockFolders, a deferred step of task-for-folder.dll, run as SYSTEM before
// any file of the package is written: it makes what the tasks run and read
// changeable by administrators alone, from the drive's root down (why:
// docs/windows.md, The lock).
//
// Handed the folder to install into (CustomActionData: "first " before it on
// a first install, "reset " on an upgrade, then "|" and ACCEPTFILES), it goes
// from the drive's root down to that folder and to the waveform file the
// program loads, holding each object on the way (folder_walk.h) before
// anything is changed. Then each object gets what the permission rule
// (lock_rule.h) plans for it, written on the held handle for that object
// alone and read back on it: the folder and every file directly in it
// exactly locked, its subfolders (the vendor's data) left as they are; the
// folders above and the waveform file made so that only administrators can
// delete or change them, with nothing below them touched. SetSecurityInfo
// and icacls would instead walk and rewrite every descendant by path.
//
// On a first install or an upgrade it also deletes the package's own files
// (Delete). A winmm.dll beside the program, which Windows would load before
// its own (it is no KnownDLL), refuses the install.
//
// On a first install it saves, for each object whose permissions it
// changes, what it had and what it was given, keyed by its file ID, under
// kSaved, for its undo (restore_folders.cpp) to give back.
#include "folder_walk.h"

#include <msiquery.h>

#include "layout.h"

namespace {

using lock_rule::Descriptor;
using lock_rule::Plan;
using lock_rule::Role;

// The launcher's log, which its cmd holds open for appending while the
// program runs, the boot task's always: held without the data access, so
// taking no part in sharing, or no repair could lock it. Windows never
// loads it.
const wchar_t kLog[] = WIDE(LAYOUT_LOG);

const wchar_t *const kOwnFiles[] = {WIDE(LAYOUT_PROGRAM),     WIDE(LAYOUT_CHECK),      WIDE(LAYOUT_PRECISE_1_0_0),
                                    WIDE(LAYOUT_LAUNCHER),    WIDE(LAYOUT_LOGON_TASK), WIDE(LAYOUT_BOOT_TASK),
                                    WIDE(LAYOUT_INSTALL_TXT), WIDE(LAYOUT_BUILD_TXT)};

// What an object that is not yet there is made with: the folder's lock, so
// that nothing can be planted in it before the vendor's software is.
Plan LockedFolder(const Descriptor *parent)
{
    Descriptor anyone;
    lock_rule::Parse("O:WDD:(A;;FA;;;WD)", &anyone);
    Plan plan = lock_rule::PlanFor(Role::Folder, anyone, parent, false);
    plan.action = Plan::Write;
    return plan;
}

// Reads the object's permissions and plans them; on a refusal, fails the
// install with its reason and what mends it. BEFORE, if given, receives what
// it has now.
bool PlanObject(MSIHANDLE install, const Ntdll &nt, Objects *objects, int index, bool accepted, Descriptor *before)
{
    Object &o = objects->at[index];
    const Descriptor *parent = o.parent < 0 ? nullptr : &objects->at[o.parent].plan.target;
    if (o.handle == nullptr) {
        o.plan = LockedFolder(parent);
        return true;
    }
    char text[kSddlChars];
    Descriptor current;
    if (!ReadDescriptor(nt, o.handle, text, kSddlChars, &current))
        return Fail(install, L"cannot read its permissions: ", o.path), false;
    if (before != nullptr) *before = current;
    o.plan = lock_rule::PlanFor(o.role, current, parent, accepted);
    if (o.plan.action == Plan::Refuse) {
        Line line{};
        Append(&line, L"refused: ");
        AppendNarrow(&line, o.plan.why);
        Append(&line, L"; ");
        AppendNarrow(&line, o.plan.mend);
        Append(&line, L": ");
        return Fail(install, line.text, o.path), false;
    }
    if (o.plan.action == Plan::Keep) o.plan.target = current;
    return true;
}

// A folder on the way, planned as it is added.
bool PlanOnPath(MSIHANDLE install, const Ntdll &nt, Objects *objects, int index)
{
    return PlanObject(install, nt, objects, index, false, nullptr);
}

// Whether NAME (LENGTH characters) is one of LIST's, separated by ';'.
bool Named(const wchar_t *name, int length, const wchar_t *list)
{
    for (const wchar_t *at = list; *at;) {
        int n = 0;
        while (at[n] && at[n] != L';') ++n;
        if (n == length && Same(at, name, n)) return true;
        at += n + (at[n] ? 1 : 0);
    }
    return false;
}

// Adds each file directly in the folder at FOLDER, listed on its held handle,
// planned (subfolders are the vendor's and stay as they are); with RESET,
// the package's own files are added to be deleted. ACCEPTED: the files a
// property names as ones users may have written (see lock_rule::PlanFor).
// BEFORE: the folder's permissions before the install, by which each file's
// are judged for the log.
bool AddFiles(MSIHANDLE install, const Ntdll &nt, Objects *objects, int folder, bool reset, const wchar_t *accepted,
              const Descriptor &before)
{
    if (objects->at[folder].handle == nullptr) return true;
    alignas(8) unsigned char buffer[16384];
    wchar_t path[kPathChars];
    char narrow[MAX_PATH];
    for (BOOLEAN first = TRUE;; first = FALSE) {
        IO_STATUS_BLOCK io{};
        const NTSTATUS status = nt.list(objects->at[folder].handle, nullptr, nullptr, nullptr, &io, buffer,
                                        sizeof buffer, FileDirectoryInformation, FALSE, nullptr, first);
        if (status == kNoMoreFiles) return true;
        if (status < 0) return FailStatus(install, L"cannot list", status, objects->at[folder].path), false;
        for (auto *entry = reinterpret_cast<FILE_DIRECTORY_INFORMATION *>(buffer);;
             entry = reinterpret_cast<FILE_DIRECTORY_INFORMATION *>(reinterpret_cast<unsigned char *>(entry) +
                                                                    entry->NextEntryOffset)) {
            const wchar_t *name = entry->FileName;
            const int length = static_cast<int>(entry->FileNameLength / sizeof(wchar_t));
            lstrcpyW(path, objects->at[folder].path);
            const int used = lstrlenW(path);
            if (used + length >= kPathChars) return Fail(install, L"a name too long in ", path), false;
            lstrcpynW(path + used, name, length + 1);
            const bool dot = (length == 1 && name[0] == L'.') || (length == 2 && name[0] == L'.' && name[1] == L'.');
            if (!dot && (entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                return Fail(
                           install,
                           L"a junction or link in the folder, which would lead the lock elsewhere, refuses the install (remove it, then install again): ",
                           path),
                       false;
            if (!dot && !(entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                if (Same(path + used, L"winmm.dll", 10))
                    return Fail(
                               install,
                               L"a winmm.dll beside the program would be loaded in place of Windows' own: remove it, then install again: ",
                               path),
                           false;
                bool own = false;
                for (const wchar_t *file : kOwnFiles)
                    own = own || (lstrlenW(file) == length && Same(file, name, length));
                own = own && reset;
                int n = 0;
                for (; n < length && n < MAX_PATH - 1; ++n)
                    narrow[n] = name[n] < 0x80 ? static_cast<char>(name[n]) : '?';
                narrow[n] = 0;
                const Role role = lock_rule::RoleOfFile(narrow);
                const bool log = lstrlenW(kLog) == length && Same(kLog, name, length);
                const int added = Add(install, nt, objects, path, folder, name, length, role, false,
                                      own   ? DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES | FILE_READ_DATA
                                      : log ? kAccess & ~FILE_READ_DATA
                                            : kAccess);
                if (added < 0) return false;
                Object &o = objects->at[added];
                o.own = own;
                Descriptor current;
                if (!own && !PlanObject(install, nt, objects, added, Named(name, length, accepted), &current))
                    return false;
                const lock_rule::Verdict verdict =
                    own ? lock_rule::Verdict{true, ""} : lock_rule::Judge(role, current, &before);
                if (!verdict.safe) {
                    Line line{};
                    Append(&line, L"users could change this before the install (");
                    AppendNarrow(&line, verdict.why);
                    Append(&line, L"); reinstall the vendor's software from its own medium: ");
                    Log(install, line.text, path);
                }
            }
            if (entry->NextEntryOffset == 0) break;
        }
    }
}

// Deletes the package's own file held by O, so that Windows Installer
// writes it afresh (docs/windows.md, The step table, says why).
bool Delete(MSIHANDLE install, const Ntdll &nt, Object *o)
{
    FILE_DISPOSITION_INFORMATION disposition{TRUE};
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = nt.set_file(o->handle, &io, &disposition, sizeof disposition, FileDispositionInformation);
    CloseHandle(o->handle);
    o->handle = nullptr;
    if (status < 0)
        return FailStatus(
                   install,
                   L"in use and cannot be replaced (close what holds it, or restart Windows, then install again)",
                   status, o->path),
               false;
    Log(install, L"deleted, to be written afresh: ", o->path);
    return true;
}

// Creates the missing folder O in its parent, with its planned permissions.
bool Create(MSIHANDLE install, const Ntdll &nt, const Objects &objects, Object *o)
{
    PSECURITY_DESCRIPTOR descriptor = Build(o->plan.target);
    if (descriptor == nullptr) return Fail(install, L"cannot make the permissions of ", o->path), false;
    const Object &parent = objects.at[o->parent];
    const wchar_t *name = o->path + lstrlenW(parent.path);
    const NTSTATUS status =
        OpenAt(nt, parent.handle, name, lstrlenW(name) - 1, true, kAccess, FILE_CREATE, descriptor, &o->handle);
    LocalFree(descriptor);
    if (status == kSharingViolation) return Fail(install, kRestart, o->path), false;
    if (status < 0) return FailStatus(install, L"cannot create", status, o->path), false;
    Log(install, L"created, locked: ", o->path);
    return true;
}

// Saves under SAVED, by O's file ID, its path, what it had (BEFORE) and
// what it is given; one saved before (an uninstall that could not give it
// back) is kept, as the older.
bool Save(MSIHANDLE install, const Ntdll &nt, HKEY saved, const Object &o, const char *before)
{
    wchar_t id[40];
    char given[kSddlChars];
    Line line{};
    if (!FileId(nt, o.handle, id) || lock_rule::Format(o.plan.target, given, kSddlChars) < 0)
        return Fail(install, L"cannot save the permissions of ", o.path), false;
    if (RegQueryValueExW(saved, id, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) return true;
    Append(&line, o.path);
    Append(&line, L"\n");
    AppendNarrow(&line, before);
    Append(&line, L"\n");
    AppendNarrow(&line, given);
    const DWORD bytes = static_cast<DWORD>((lstrlenW(line.text) + 1) * sizeof(wchar_t));
    if (RegSetValueExW(saved, id, 0, REG_SZ, reinterpret_cast<const BYTE *>(line.text), bytes) != ERROR_SUCCESS)
        return Fail(install, L"cannot save the permissions of ", o.path), false;
    return true;
}

// Writes O's planned permissions on its held handle, for it alone, having
// saved what it had under SAVED, if given.
bool Write(MSIHANDLE install, const Ntdll &nt, Object *o, HKEY saved)
{
    if (saved != nullptr) {
        char before[kSddlChars];
        Descriptor current;
        if (!ReadDescriptor(nt, o->handle, before, kSddlChars, &current) || !Save(install, nt, saved, *o, before))
            return Fail(install, L"cannot save the permissions of ", o->path), false;
    }
    PSECURITY_DESCRIPTOR descriptor = Build(o->plan.target);
    if (descriptor == nullptr) return Fail(install, L"cannot make the permissions of ", o->path), false;
    const SECURITY_INFORMATION what =
        kOwnerAndDacl |
        (o->plan.target.is_protected ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
    const NTSTATUS status = nt.set_security(o->handle, what, descriptor);
    LocalFree(descriptor);
    if (status < 0) return FailStatus(install, L"cannot set the permissions of", status, o->path), false;
    Line line{};
    Append(&line, L"set (");
    AppendNarrow(&line, o->plan.why);
    Append(&line, L"): ");
    Log(install, line.text, o->path);
    return true;
}

// Whether O now has what was written, read back on the same handle; the
// install fails, naming both, where it has not.
bool ReadBack(MSIHANDLE install, const Ntdll &nt, const Object &o)
{
    char wrote[kSddlChars], read[kSddlChars];
    Descriptor back;
    if (!ReadDescriptor(nt, o.handle, read, kSddlChars, &back))
        return Fail(install, L"cannot read back the permissions of ", o.path), false;
    if (lock_rule::Same(o.plan.target, back)) return true;
    lock_rule::Format(o.plan.target, wrote, kSddlChars);
    Line line{};
    Append(&line, L"the permissions read back differ from those written (written ");
    AppendNarrow(&line, wrote);
    Append(&line, L", read ");
    AppendNarrow(&line, read);
    Append(&line, L"): ");
    return Fail(install, line.text, o.path), false;
}

// Makes every object what its plan says, root down: the package's own files
// deleted, missing folders created, the rest written (what they had saved
// under SAVED, if given) and read back. Under Wine the read-back is skipped,
// and said once.
bool Apply(MSIHANDLE install, const Ntdll &nt, Objects *objects, HKEY saved)
{
    int unread = 0;
    for (int i = 0; i < objects->count; ++i) {
        Object &o = objects->at[i];
        if (o.own) {
            if (!Delete(install, nt, &o)) return false;
            continue;
        }
        const bool missing = o.handle == nullptr;
        // The waveform file, where the vendor's software has not brought it yet.
        if (missing && !o.folder) continue;
        if (o.plan.action != Plan::Write) continue;
        if (missing ? !Create(install, nt, *objects, &o) : !Write(install, nt, &o, saved)) return false;
        if (nt.wine)
            ++unread;
        else if (!ReadBack(install, nt, o))
            return false;
    }
    if (unread > 0) {
        wchar_t count[16];
        wsprintfW(count, L"%d", unread);
        Log(install, L"Wine keeps no permissions: read-back skipped for the objects written: ", count);
    }
    return true;
}

// Everything the step does, with OBJECTS to hold what it opens. DATA: the
// CustomActionData.
UINT Lock(MSIHANDLE install, const Ntdll &nt, Objects *objects, wchar_t *data)
{
    const bool first = IsPrefix(L"first ", data), reset = first || IsPrefix(L"reset ", data);
    wchar_t *accepted = data;
    while (*accepted && *accepted != L'|') ++accepted;
    if (*accepted) *accepted++ = 0;
    wchar_t folder[kPathChars];
    const wchar_t *const waveform = WIDE(WAVEFORM_PATH);
    if (GetFullPathNameW(reset ? data + 6 : data, kPathChars - 1, folder, nullptr) == 0)
        return Fail(install, L"cannot read the folder ", data);
    EndWithBackslash(folder);
    if (!Lockable(folder))
        return Fail(
            install,
            L"the folder lies where its path cannot be locked (a drive's root, Windows' own folders, ProgramData, the users' folders): ",
            folder);

    const int installed = AddPath(install, nt, objects, folder, Role::Folder, PlanOnPath);
    Descriptor before{};
    if (installed < 0) return ERROR_INSTALL_FAILURE;
    if (objects->at[installed].handle != nullptr) {
        char text[kSddlChars];
        ReadDescriptor(nt, objects->at[installed].handle, text, kSddlChars, &before);
    }
    if (!AddFiles(install, nt, objects, installed, reset, accepted, before)) return ERROR_INSTALL_FAILURE;
    const int wave = AddPath(install, nt, objects, waveform, Role::Waveform, PlanOnPath);
    if (wave < 0) return ERROR_INSTALL_FAILURE;
    if (objects->at[wave].handle == nullptr)
        Log(install,
            L"the waveform file is missing: install the vendor's software, then repair minute-trigger, which locks it: ",
            waveform);
    HKEY saved = nullptr;
    if (first && RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSaved, 0, nullptr, 0, KEY_READ | KEY_SET_VALUE, nullptr, &saved,
                                 nullptr) != ERROR_SUCCESS)
        return Fail(install, L"cannot create HKLM\\", kSaved);
    const bool applied = Apply(install, nt, objects, saved);
    if (saved != nullptr) RegCloseKey(saved);
    return applied ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall LockFolders(MSIHANDLE install)
{
    wchar_t data[kPathChars * 2];
    if (!ReadData(install, data, sizeof data / sizeof data[0])) return Fail(install, L"no CustomActionData", L"");
    Ntdll nt{};
    if (!LoadNtdll(&nt)) return Fail(install, L"ntdll lacks an entry the step needs", L"");
    EnablePrivileges();
    Objects objects;
    if (!Allocate(&objects)) return Fail(install, L"out of memory", L"");
    const UINT result = Lock(install, nt, &objects, data);
    CloseAll(&objects);
    Free(&objects);
    return result;
}
