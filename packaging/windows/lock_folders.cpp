// LockFolders, a deferred step of task-for-folder.dll, run as SYSTEM before
// any file of the package is written: what SYSTEM runs (the boot task) or
// what every user's session runs (the logon task) must sit where only
// administrators can change anything, from the drive's root down. A user who
// can rename a folder of the path can put one of their own in its place; one
// who owns a file can change its permissions; a junction leads SYSTEM's
// writes elsewhere.
//
// Handed the folder to install into (CustomActionData: "reset " before it on
// a first install or an upgrade, then "|" and ACCEPTFILES), it goes from the
// drive's root down to that folder and to the waveform file the program
// loads, opening each object by its one name relative to its parent's
// handle, never following a link, and holding every handle, shared for
// reading only, until the end of the step: nothing on the way can be renamed,
// replaced or written meanwhile, and a handle someone opened before the lock
// (which would keep the access it was opened with) shows as a sharing
// violation before anything is changed. Then each object gets what the
// permission rule (lock_rule.h) plans for it, written on the held handle for
// that object alone and read back on it: the folder and every file directly
// in it exactly locked, its subfolders (the vendor's data) left as they are;
// the folders above and the waveform file made so that only administrators
// can delete or change them, with nothing below them touched. SetSecurityInfo
// and icacls would instead walk and rewrite every descendant by path.
//
// On a first install or an upgrade it also deletes any file named as one of
// the package's own, so that Windows Installer (forced to write every file,
// REINSTALLMODE) writes each afresh: a planted file could otherwise survive.
// A winmm.dll beside the program, which Windows would load before its own
// (it is no KnownDLL), refuses the install.
//
// On a first install ("first " before the folder) it saves, for each object
// whose permissions it changes, what it had and what it was given, keyed by
// its file ID, under kSaved; RestoreFolders, a commit step of the final
// uninstall, and UnlockFolders, the rollback of a failed first install, give
// each back where the object is still the same one and has kept what the
// package gave it, never with a user as its owner.
#define _WIN32_WINNT 0x0600  // GetVolumeInformationByHandleW
#include <windows.h>
#include <winternl.h>
#include <sddl.h>
#include <msi.h>
#include <msiquery.h>

#include "install_step.h"
#include "lock_rule.h"
#include "waveform_path.h"

namespace {

using lock_rule::Descriptor;
using lock_rule::Plan;
using lock_rule::Role;

constexpr int kPathChars = MAX_PATH * 2;
constexpr int kSddlChars = 8192;
// The folder's files and the folders above; a vendor's folder holds tens.
constexpr int kMaxObjects = 1024;
constexpr NTSTATUS kNotFound = static_cast<NTSTATUS>(0xC0000034), kPathNotFound = static_cast<NTSTATUS>(0xC000003A),
                   kSharingViolation = static_cast<NTSTATUS>(0xC0000043), kNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
const SECURITY_INFORMATION kOwnerAndDacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
// Only the writes and the reads of permissions, and the listing; asking for
// the data's read access too makes the sharing count: without it Windows
// checks and records no sharing at all.
const ACCESS_MASK kAccess = READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES | FILE_READ_DATA | SYNCHRONIZE;
const wchar_t kKey[] = L"Software\\minute-trigger", kSaved[] = L"Software\\minute-trigger\\Saved";
// The launcher's log (run-minute-trigger.cmd), which its cmd holds open for
// appending while the program runs, the boot task's always: held without
// the data access, so taking no part in sharing, or no repair could lock it.
// Windows never loads it.
const wchar_t kLog[] = L"minute-trigger.log";
const wchar_t kRestart[] = L"in use by another program: restart Windows, then install again: ";

// With 1.0.0's second program, which a task could still name. The package's
// documents carry its name: INSTALL.txt or BUILD.txt may be the vendor's.
const wchar_t* const kOwnFiles[] = {L"minute-trigger.exe",       L"minute-trigger-check.exe",   L"minute-trigger-precise.exe",
                                    L"run-minute-trigger.cmd",   L"minute-trigger-logon.xml",   L"minute-trigger-boot.xml",
                                    L"minute-trigger-INSTALL.txt", L"minute-trigger-BUILD.txt"};

// Windows already protects the path down to a folder in Program Files.
// Users and Windows itself write in its own folders, ProgramData and the
// users' folders: a folder there has a path that cannot be locked.
const wchar_t kProfiles[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// ntdll's entries, found at run time: MinGW declares them, but its import
// library for ntdll differs between its versions.
struct Ntdll {
  NTSTATUS(NTAPI* create)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG,
                          ULONG, ULONG, PVOID, ULONG);
  NTSTATUS(NTAPI* query_file)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
  NTSTATUS(NTAPI* set_file)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
  NTSTATUS(NTAPI* list)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS, BOOLEAN,
                        PUNICODE_STRING, BOOLEAN);
  NTSTATUS(NTAPI* query_security)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, ULONG, PULONG);
  NTSTATUS(NTAPI* set_security)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);
  // Wine keeps no permissions: it accepts any, and reads back one made from
  // the Unix file's mode. Told by ntdll's own export, which no user can set.
  bool wine;
};

template <typename F> void Find(HMODULE ntdll, const char* name, F* entry) {
  *entry = reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(ntdll, name)));
}

bool LoadNtdll(Ntdll* nt) {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return false;
  Find(ntdll, "NtCreateFile", &nt->create);
  Find(ntdll, "NtQueryInformationFile", &nt->query_file);
  Find(ntdll, "NtSetInformationFile", &nt->set_file);
  Find(ntdll, "NtQueryDirectoryFile", &nt->list);
  Find(ntdll, "NtQuerySecurityObject", &nt->query_security);
  Find(ntdll, "NtSetSecurityObject", &nt->set_security);
  nt->wine = GetProcAddress(ntdll, "wine_get_version") != nullptr;
  return nt->create && nt->query_file && nt->set_file && nt->list && nt->query_security && nt->set_security;
}

// One object on the way: a folder's path ends in a backslash.
struct Object {
  wchar_t path[kPathChars];
  int parent;      // its index, -1 for a drive's root
  Role role;
  bool folder;
  bool own;        // one of the package's files, to be deleted
  HANDLE handle;   // null where it is missing
  Plan plan;       // its target is what it has once the step is done
};

struct Objects {
  Object* at;
  int count;
};

// What the step's lines are built in.
struct Line {
  wchar_t text[2 * kSddlChars];
};

void Append(Line* line, const wchar_t* text) {
  const int used = lstrlenW(line->text);
  lstrcpynW(line->text + used, text, static_cast<int>(sizeof line->text / sizeof line->text[0]) - used);
}

void AppendNarrow(Line* line, const char* text) {
  int used = lstrlenW(line->text);
  for (; *text && used < static_cast<int>(sizeof line->text / sizeof line->text[0]) - 1; ++text)
    line->text[used++] = static_cast<unsigned char>(*text);
  line->text[used] = 0;
}

UINT FailStatus(MSIHANDLE install, const wchar_t* what, NTSTATUS status, const wchar_t* path) {
  Line line{};
  wchar_t number[16];
  wsprintfW(number, L" (0x%08lx): ", static_cast<unsigned long>(status));
  Append(&line, what);
  Append(&line, number);
  return Fail(install, line.text, path);
}

bool Same(const wchar_t* a, const wchar_t* b, int length) {
  return CompareStringOrdinal(a, length, b, length, TRUE) == CSTR_EQUAL;
}

bool IsPrefix(const wchar_t* prefix, const wchar_t* text) {
  const int length = lstrlenW(prefix);
  return length > 0 && lstrlenW(text) >= length && Same(text, prefix, length);
}

// Whether PATH lies in the folder Windows keeps as NAME under KEY, or in
// Windows' own folder (NAME null), read from the registry and the system
// rather than from the environment, which a step's process may lack.
bool WithinKnown(const wchar_t* path, const wchar_t* key, const wchar_t* name) {
  wchar_t folder[MAX_PATH + 1], full[MAX_PATH + 2];
  DWORD size = sizeof folder;
  if (name == nullptr) {
    const UINT n = GetSystemWindowsDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return true;
  } else {
    HKEY opened;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS) return false;
    const bool read = RegGetValueW(opened, nullptr, name, RRF_RT_REG_SZ, nullptr, folder, &size) == ERROR_SUCCESS;
    RegCloseKey(opened);
    if (!read) return false;
  }
  if (GetFullPathNameW(folder, MAX_PATH, full, nullptr) == 0) return true;
  if (full[lstrlenW(full) - 1] != L'\\') lstrcatW(full, L"\\");
  return IsPrefix(full, path);
}

// Whether FOLDER (a full path ending in a backslash) lies where its path can
// be locked: below a drive letter's root, outside Windows' own folders,
// ProgramData and the users' folders.
bool Lockable(const wchar_t* folder) {
  const bool drive = ((folder[0] | 0x20) >= L'a' && (folder[0] | 0x20) <= L'z') && folder[1] == L':' && folder[2] == L'\\';
  return drive && folder[3] != 0 && !WithinKnown(folder, nullptr, nullptr) &&
         !WithinKnown(folder, kProfiles, L"ProgramData") && !WithinKnown(folder, kProfiles, L"ProfilesDirectory");
}

// Opens NAME (LENGTH characters) relative to PARENT (null: NAME is a full NT
// path), never following a link on it; DISPOSITION FILE_CREATE makes a
// folder with DESCRIPTOR.
NTSTATUS OpenAt(const Ntdll& nt, HANDLE parent, const wchar_t* name, int length, bool folder, ACCESS_MASK access,
                ULONG disposition, PSECURITY_DESCRIPTOR descriptor, HANDLE* opened) {
  UNICODE_STRING text{static_cast<USHORT>(length * sizeof(wchar_t)), static_cast<USHORT>(length * sizeof(wchar_t)),
                      const_cast<wchar_t*>(name)};
  OBJECT_ATTRIBUTES attributes{};
  attributes.Length = sizeof attributes;
  attributes.RootDirectory = parent;
  attributes.ObjectName = &text;
  attributes.Attributes = OBJ_CASE_INSENSITIVE;
  attributes.SecurityDescriptor = descriptor;
  IO_STATUS_BLOCK io{};
  const ULONG options = FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT |
                        (folder ? FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT : FILE_NON_DIRECTORY_FILE);
  *opened = nullptr;
  return nt.create(opened, access, &attributes, &io, nullptr, folder ? FILE_ATTRIBUTE_DIRECTORY : 0, FILE_SHARE_READ,
                   disposition, options, nullptr, 0);
}

// Why the object held by HANDLE cannot be locked, or null: a reparse point
// (a junction, a link, a mount point) leads elsewhere; a file with a second
// name can be changed through that one; a drive that keeps no permissions
// (FAT, exFAT) lets anyone change anything.
const wchar_t* Unlockable(const Ntdll& nt, HANDLE handle, bool folder) {
  IO_STATUS_BLOCK io{};
  FILE_ATTRIBUTE_TAG_INFO tag{};
  FILE_STANDARD_INFORMATION standard{};
  DWORD flags = 0;
  if (nt.query_file(handle, &io, &tag, sizeof tag, static_cast<FILE_INFORMATION_CLASS>(35)) < 0 ||  // FileAttributeTagInformation
      nt.query_file(handle, &io, &standard, sizeof standard, FileStandardInformation) < 0)
    return L"cannot read what it is: ";
  if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return L"a junction or link, which would lead the lock elsewhere, refuses the install (remove it, then install again): ";
  if (!folder && standard.NumberOfLinks > 1)
    return L"a file with more than one name (a hard link, changeable through the other) refuses the install (remove it, then install again): ";
  if (!GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
    return L"cannot read what its drive keeps: ";
  if (!(flags & FILE_PERSISTENT_ACLS))
    return L"its drive keeps no permissions (FAT, exFAT): install onto an NTFS drive: ";
  return nullptr;
}

// The permissions on HANDLE, as SDDL in TEXT (CAPACITY characters) and read
// into OUT; false where they cannot be read whole.
bool ReadDescriptor(const Ntdll& nt, HANDLE handle, char* text, int capacity, Descriptor* out) {
  alignas(8) unsigned char buffer[16384];
  ULONG needed = 0;
  if (nt.query_security(handle, kOwnerAndDacl, buffer, sizeof buffer, &needed) < 0) return false;
  wchar_t* wide = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(buffer, SDDL_REVISION_1, kOwnerAndDacl, &wide, nullptr))
    return false;
  // SDDL is ASCII.
  int n = 0;
  for (; wide[n] && n < capacity - 1; ++n) text[n] = static_cast<char>(wide[n]);
  const bool whole = wide[n] == 0;
  text[n] = 0;
  LocalFree(wide);
  return whole && lock_rule::Parse(text, out);
}

// D made a security descriptor, to be freed with LocalFree; null where it
// cannot be.
PSECURITY_DESCRIPTOR Build(const Descriptor& d) {
  char text[kSddlChars];
  wchar_t wide[kSddlChars];
  const int n = lock_rule::Format(d, text, kSddlChars);
  if (n < 0) return nullptr;
  for (int i = 0; i <= n; ++i) wide[i] = static_cast<unsigned char>(text[i]);
  PSECURITY_DESCRIPTOR built = nullptr;
  return ConvertStringSecurityDescriptorToSecurityDescriptorW(wide, SDDL_REVISION_1, &built, nullptr) ? built : nullptr;
}

// The index of the object at PATH, or -1.
int Lookup(const Objects& objects, const wchar_t* path) {
  for (int i = 0; i < objects.count; ++i)
    if (lstrlenW(objects.at[i].path) == lstrlenW(path) && IsPrefix(path, objects.at[i].path)) return i;
  return -1;
}

// What an object that is not yet there is made with: the folder's lock, so
// that nothing can be planted in it before the vendor's software is.
Plan LockedFolder(const Descriptor* parent) {
  Descriptor anyone;
  lock_rule::Parse("O:WDD:(A;;FA;;;WD)", &anyone);
  Plan plan = lock_rule::PlanFor(Role::Folder, anyone, parent, false);
  plan.action = Plan::Write;
  return plan;
}

// Reads the object's permissions and plans them; on a refusal, fails the
// install with its reason and what mends it. BEFORE, if given, receives what
// it has now.
bool PlanObject(MSIHANDLE install, const Ntdll& nt, Objects* objects, int index, bool accepted, Descriptor* before) {
  Object& o = objects->at[index];
  const Descriptor* parent = o.parent < 0 ? nullptr : &objects->at[o.parent].plan.target;
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

// Opens the object NAME (LENGTH characters) in the object at PARENT, or the
// drive's root (PARENT -1, NAME its NT path), and adds it: its index, or -1
// with the failure logged. A missing one is added without a handle.
int Add(MSIHANDLE install, const Ntdll& nt, Objects* objects, const wchar_t* path, int parent, const wchar_t* name,
        int length, Role role, bool folder, ACCESS_MASK access) {
  if (objects->count == kMaxObjects) return Fail(install, L"too many files in the folder: ", path), -1;
  Object& o = objects->at[objects->count];
  lstrcpynW(o.path, path, kPathChars);
  o.parent = parent, o.role = role, o.folder = folder, o.own = false, o.handle = nullptr;
  const HANDLE above = parent < 0 ? nullptr : objects->at[parent].handle;
  if (parent < 0 || above != nullptr) {
    // A drive's root can be neither renamed nor replaced: it is held without
    // the data access, which would clash with Windows' own handles on it.
    const NTSTATUS status =
        OpenAt(nt, above, name, length, folder, parent < 0 ? access & ~FILE_READ_DATA : access, FILE_OPEN, nullptr, &o.handle);
    if (status == kSharingViolation) return Fail(install, kRestart, path), -1;
    // A drive that is not there is no folder to create.
    if (status < 0 && (parent < 0 || (status != kNotFound && status != kPathNotFound)))
      return FailStatus(install, L"cannot open", status, path), -1;
    if (status < 0) o.handle = nullptr;
  }
  ++objects->count;
  if (o.handle != nullptr)
    if (const wchar_t* why = Unlockable(nt, o.handle, folder)) return Fail(install, why, path), -1;
  return objects->count - 1;
}

// Adds the objects from PATH's drive's root down to PATH (a folder's ends in
// a backslash), LAST's role for the last, planned: its index, or -1 with the
// failure logged.
int AddPath(MSIHANDLE install, const Ntdll& nt, Objects* objects, const wchar_t* path, Role last, bool plan = true) {
  wchar_t part[kPathChars];
  wchar_t root[] = L"\\??\\X:\\";
  int index = -1;
  for (int at = 2; path[at]; ++at) {
    if (path[at] != L'\\' && path[at + 1] != 0) continue;
    const bool folder = path[at] == L'\\';
    lstrcpynW(part, path, at + 2);
    const int found = Lookup(*objects, part);
    if (found >= 0) {
      index = found;
      continue;
    }
    const wchar_t* name = part;
    int length = at + 1;
    if (index < 0) {
      root[4] = path[0];
      name = root, length = 7;
    } else {
      const wchar_t* above = objects->at[index].path;
      name = part + lstrlenW(above);
      length = at + 1 - lstrlenW(above) - (folder ? 1 : 0);
    }
    const Role role = !path[at + 1] ? last : Role::Path;
    const int added = Add(install, nt, objects, part, index, name, length, role, folder, kAccess);
    if (added < 0 || (plan && !PlanObject(install, nt, objects, added, false, nullptr))) return -1;
    index = added;
  }
  return index;
}

// Whether NAME (LENGTH characters) is one of LIST's, separated by ';'.
bool Named(const wchar_t* name, int length, const wchar_t* list) {
  for (const wchar_t* at = list; *at;) {
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
bool AddFiles(MSIHANDLE install, const Ntdll& nt, Objects* objects, int folder, bool reset, const wchar_t* accepted,
              const Descriptor& before) {
  if (objects->at[folder].handle == nullptr) return true;
  alignas(8) unsigned char buffer[16384];
  wchar_t path[kPathChars];
  char narrow[MAX_PATH];
  for (BOOLEAN first = TRUE;; first = FALSE) {
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = nt.list(objects->at[folder].handle, nullptr, nullptr, nullptr, &io, buffer, sizeof buffer,
                                    FileDirectoryInformation, FALSE, nullptr, first);
    if (status == kNoMoreFiles) return true;
    if (status < 0) return FailStatus(install, L"cannot list", status, objects->at[folder].path), false;
    for (auto* entry = reinterpret_cast<FILE_DIRECTORY_INFORMATION*>(buffer);;
         entry = reinterpret_cast<FILE_DIRECTORY_INFORMATION*>(reinterpret_cast<unsigned char*>(entry) + entry->NextEntryOffset)) {
      const wchar_t* name = entry->FileName;
      const int length = static_cast<int>(entry->FileNameLength / sizeof(wchar_t));
      lstrcpyW(path, objects->at[folder].path);
      const int used = lstrlenW(path);
      if (used + length >= kPathChars) return Fail(install, L"a name too long in ", path), false;
      lstrcpynW(path + used, name, length + 1);
      const bool dot = (length == 1 && name[0] == L'.') || (length == 2 && name[0] == L'.' && name[1] == L'.');
      if (!dot && (entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return Fail(install, L"a junction or link in the folder, which would lead the lock elsewhere, refuses the install (remove it, then install again): ", path), false;
      if (!dot && !(entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (Same(path + used, L"winmm.dll", 10))
          return Fail(install, L"a winmm.dll beside the program would be loaded in place of Windows' own: remove it, then install again: ", path), false;
        bool own = false;
        for (const wchar_t* file : kOwnFiles) own = own || (lstrlenW(file) == length && Same(file, name, length));
        own = own && reset;
        int n = 0;
        for (; n < length && n < MAX_PATH - 1; ++n) narrow[n] = name[n] < 0x80 ? static_cast<char>(name[n]) : '?';
        narrow[n] = 0;
        const Role role = lock_rule::RoleOfFile(narrow);
        const bool log = lstrlenW(kLog) == length && Same(kLog, name, length);
        const int added = Add(install, nt, objects, path, folder, name, length, role, false,
                              own ? DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES | FILE_READ_DATA
                                  : log ? kAccess & ~FILE_READ_DATA : kAccess);
        if (added < 0) return false;
        Object& o = objects->at[added];
        o.own = own;
        Descriptor current;
        if (!own && !PlanObject(install, nt, objects, added, Named(name, length, accepted), &current)) return false;
        const lock_rule::Verdict verdict = own ? lock_rule::Verdict{true, ""} : lock_rule::Judge(role, current, &before);
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
// writes it afresh.
bool Delete(MSIHANDLE install, const Ntdll& nt, Object* o) {
  FILE_DISPOSITION_INFORMATION disposition{TRUE};
  IO_STATUS_BLOCK io{};
  const NTSTATUS status = nt.set_file(o->handle, &io, &disposition, sizeof disposition, FileDispositionInformation);
  CloseHandle(o->handle);
  o->handle = nullptr;
  if (status < 0) return FailStatus(install, L"in use and cannot be replaced (close what holds it, or restart Windows, then install again)", status, o->path), false;
  Log(install, L"deleted, to be written afresh: ", o->path);
  return true;
}

// Creates the missing folder O in its parent, with its planned permissions.
bool Create(MSIHANDLE install, const Ntdll& nt, const Objects& objects, Object* o) {
  PSECURITY_DESCRIPTOR descriptor = Build(o->plan.target);
  if (descriptor == nullptr) return Fail(install, L"cannot make the permissions of ", o->path), false;
  const Object& parent = objects.at[o->parent];
  const wchar_t* name = o->path + lstrlenW(parent.path);
  const NTSTATUS status =
      OpenAt(nt, parent.handle, name, lstrlenW(name) - 1, true, kAccess, FILE_CREATE, descriptor, &o->handle);
  LocalFree(descriptor);
  if (status == kSharingViolation) return Fail(install, kRestart, o->path), false;
  if (status < 0) return FailStatus(install, L"cannot create", status, o->path), false;
  Log(install, L"created, locked: ", o->path);
  return true;
}

// The object's identity, its volume's serial and its file ID, into OUT (at
// least 32 characters): what a saved descriptor is given back to.
bool FileId(const Ntdll& nt, HANDLE handle, wchar_t* out) {
  FILE_INTERNAL_INFORMATION internal{};
  IO_STATUS_BLOCK io{};
  DWORD serial = 0;
  if (nt.query_file(handle, &io, &internal, sizeof internal, FileInternalInformation) < 0 ||
      !GetVolumeInformationByHandleW(handle, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0))
    return false;
  wsprintfW(out, L"%08lx-%08lx%08lx", static_cast<unsigned long>(serial),
            static_cast<unsigned long>(internal.IndexNumber.HighPart), static_cast<unsigned long>(internal.IndexNumber.LowPart));
  return true;
}

// Saves under SAVED, by O's file ID, its path, what it had (BEFORE) and
// what it is given; one saved before (an uninstall that could not give it
// back) is kept, as the older.
bool Save(MSIHANDLE install, const Ntdll& nt, HKEY saved, const Object& o, const char* before) {
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
  if (RegSetValueExW(saved, id, 0, REG_SZ, reinterpret_cast<const BYTE*>(line.text), bytes) != ERROR_SUCCESS)
    return Fail(install, L"cannot save the permissions of ", o.path), false;
  return true;
}

// Writes O's planned permissions on its held handle, for it alone, having
// saved what it had under SAVED, if given.
bool Write(MSIHANDLE install, const Ntdll& nt, Object* o, HKEY saved) {
  if (saved != nullptr) {
    char before[kSddlChars];
    Descriptor current;
    if (!ReadDescriptor(nt, o->handle, before, kSddlChars, &current) || !Save(install, nt, saved, *o, before))
      return Fail(install, L"cannot save the permissions of ", o->path), false;
  }
  PSECURITY_DESCRIPTOR descriptor = Build(o->plan.target);
  if (descriptor == nullptr) return Fail(install, L"cannot make the permissions of ", o->path), false;
  const SECURITY_INFORMATION what =
      kOwnerAndDacl | (o->plan.target.is_protected ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
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
bool ReadBack(MSIHANDLE install, const Ntdll& nt, const Object& o) {
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
bool Apply(MSIHANDLE install, const Ntdll& nt, Objects* objects, HKEY saved) {
  int unread = 0;
  for (int i = 0; i < objects->count; ++i) {
    Object& o = objects->at[i];
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
UINT Lock(MSIHANDLE install, const Ntdll& nt, Objects* objects, wchar_t* data) {
  const bool first = IsPrefix(L"first ", data), reset = first || IsPrefix(L"reset ", data);
  wchar_t* accepted = data;
  while (*accepted && *accepted != L'|') ++accepted;
  if (*accepted) *accepted++ = 0;
  wchar_t folder[kPathChars], waveform[kPathChars];
  if (GetFullPathNameW(reset ? data + 6 : data, kPathChars - 1, folder, nullptr) == 0)
    return Fail(install, L"cannot read the folder ", data);
  if (folder[lstrlenW(folder) - 1] != L'\\') lstrcatW(folder, L"\\");
  if (!Lockable(folder))
    return Fail(install, L"the folder lies where its path cannot be locked (a drive's root, Windows' own folders, ProgramData, the users' folders): ", folder);
  int n = 0;
  for (; WaveformPath[n]; ++n) waveform[n] = static_cast<unsigned char>(WaveformPath[n]);
  waveform[n] = 0;

  const int installed = AddPath(install, nt, objects, folder, Role::Folder);
  Descriptor before{};
  if (installed < 0) return ERROR_INSTALL_FAILURE;
  if (objects->at[installed].handle != nullptr) {
    char text[kSddlChars];
    ReadDescriptor(nt, objects->at[installed].handle, text, kSddlChars, &before);
  }
  if (!AddFiles(install, nt, objects, installed, reset, accepted, before)) return ERROR_INSTALL_FAILURE;
  const int wave = AddPath(install, nt, objects, waveform, Role::Waveform);
  if (wave < 0) return ERROR_INSTALL_FAILURE;
  if (objects->at[wave].handle == nullptr)
    Log(install, L"the waveform file is missing: install the vendor's software, then repair minute-trigger, which locks it: ", waveform);
  HKEY saved = nullptr;
  if (first && RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSaved, 0, nullptr, 0, KEY_READ | KEY_SET_VALUE, nullptr, &saved,
                               nullptr) != ERROR_SUCCESS)
    return Fail(install, L"cannot create HKLM\\", kSaved);
  const bool applied = Apply(install, nt, objects, saved);
  if (saved != nullptr) RegCloseKey(saved);
  return applied ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

// Lets SYSTEM open and take over what a user made to shut it out (backup
// intent and ownership), as its token allows but does not yet enable.
void EnablePrivileges() {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return;
  const wchar_t* const names[] = {L"SeBackupPrivilege", L"SeRestorePrivilege", L"SeTakeOwnershipPrivilege"};
  for (const wchar_t* name : names) {
    TOKEN_PRIVILEGES p{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    if (LookupPrivilegeValueW(nullptr, name, &p.Privileges[0].Luid))
      AdjustTokenPrivileges(token, FALSE, &p, 0, nullptr, nullptr);
  }
  CloseHandle(token);
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall LockFolders(MSIHANDLE install) {
  wchar_t data[kPathChars * 2];
  DWORD size = sizeof data / sizeof data[0];
  if (MsiGetPropertyW(install, L"CustomActionData", data, &size) != ERROR_SUCCESS || size == 0)
    return Fail(install, L"no CustomActionData", L"");
  Ntdll nt{};
  if (!LoadNtdll(&nt)) return Fail(install, L"ntdll lacks an entry the step needs", L"");
  EnablePrivileges();
  Objects objects{static_cast<Object*>(VirtualAlloc(nullptr, sizeof(Object) * kMaxObjects, MEM_COMMIT, PAGE_READWRITE)), 0};
  if (objects.at == nullptr) return Fail(install, L"out of memory", L"");
  const UINT result = Lock(install, nt, &objects, data);
  for (int i = 0; i < objects.count; ++i)
    if (objects.at[i].handle != nullptr) CloseHandle(objects.at[i].handle);
  VirtualFree(objects.at, 0, MEM_RELEASE);
  return result;
}

namespace {

// Whether SID may own what the package gave back: Administrators, SYSTEM or
// TrustedInstaller.
bool Trusted(const char* sid) {
  const char* const kTrusted[] = {"BA", "SY", "S-1-5-32-544", "S-1-5-18",
                                  "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
  for (const char* t : kTrusted)
    if (lstrcmpA(sid, t) == 0) return true;
  return false;
}

// Gives back to the object saved as ID what it had (DATA: its path, what it
// had and what it was given, a line each), where it is still that object and
// has what the package gave it.
void RestoreOne(MSIHANDLE install, const Ntdll& nt, Objects* objects, const wchar_t* id, wchar_t* data) {
  wchar_t* before = data;
  while (*before && *before != L'\n') ++before;
  if (*before) *before++ = 0;
  wchar_t* given = before;
  while (*given && *given != L'\n') ++given;
  if (*given) *given++ = 0;
  char text[kSddlChars];
  Descriptor was, gave, now;
  int n = 0;
  for (; before[n] && n < kSddlChars - 1; ++n) text[n] = static_cast<char>(before[n]);
  text[n] = 0;
  const bool read = lock_rule::Parse(text, &was);
  for (n = 0; given[n] && n < kSddlChars - 1; ++n) text[n] = static_cast<char>(given[n]);
  text[n] = 0;
  if (!read || !lock_rule::Parse(text, &gave)) return Log(install, L"the saved permissions cannot be read, left as they are: ", data);
  const int index = AddPath(install, nt, objects, data, Role::Path, false);
  wchar_t found[40];
  if (index < 0 || objects->at[index].handle == nullptr) return Log(install, L"gone or unreachable, not given back: ", data);
  const HANDLE handle = objects->at[index].handle;
  if (!FileId(nt, handle, found) || lstrcmpiW(found, id) != 0)
    return Log(install, L"another object than the one changed, left as it is: ", data);
  // Wine reads back permissions of its own making, never what was set.
  if (!nt.wine && (!ReadDescriptor(nt, handle, text, kSddlChars, &now) || !lock_rule::Same(now, gave)))
    return Log(install, L"changed since the install, left as it is: ", data);
  if (!Trusted(was.owner)) lstrcpyA(was.owner, "BA");
  PSECURITY_DESCRIPTOR descriptor = Build(was);
  const SECURITY_INFORMATION what =
      kOwnerAndDacl | (was.is_protected ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
  if (descriptor == nullptr || nt.set_security(handle, what, descriptor) < 0)
    Log(install, L"cannot give back the permissions of ", data);
  else
    Log(install, L"given back the permissions it had before the install: ", data);
  LocalFree(descriptor);
}

// Gives back what the first install saved, then forgets it.
void Restore(MSIHANDLE install) {
  HKEY saved;
  Ntdll nt{};
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSaved, 0, KEY_READ, &saved) != ERROR_SUCCESS) return;
  Objects objects{static_cast<Object*>(VirtualAlloc(nullptr, sizeof(Object) * kMaxObjects, MEM_COMMIT, PAGE_READWRITE)), 0};
  if (LoadNtdll(&nt) && objects.at != nullptr) {
    EnablePrivileges();
    if (nt.wine) Log(install, L"Wine keeps no permissions: whether they changed since the install is not checked", L"");
    static Line value;
    wchar_t id[64];
    for (DWORD i = 0;; ++i) {
      DWORD id_chars = sizeof id / sizeof id[0], bytes = sizeof value.text - sizeof(wchar_t), type = 0;
      if (RegEnumValueW(saved, i, id, &id_chars, nullptr, &type, reinterpret_cast<BYTE*>(value.text), &bytes) != ERROR_SUCCESS)
        break;
      value.text[bytes / sizeof(wchar_t)] = 0;
      if (type == REG_SZ) RestoreOne(install, nt, &objects, id, value.text);
      for (int h = 0; h < objects.count; ++h)
        if (objects.at[h].handle != nullptr) CloseHandle(objects.at[h].handle);
      objects.count = 0;
    }
  }
  if (objects.at != nullptr) VirtualFree(objects.at, 0, MEM_RELEASE);
  RegCloseKey(saved);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSaved);
  // The package's key, where Windows Installer has left it empty only
  // because Saved was still in it.
  HKEY key;
  DWORD keys = 1, values = 1;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  if (keys == 0 && values == 0) RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
}

// Removes FOLDER (a full path ending in a backslash) where it is empty, then
// each folder above it in turn, down to the drive's root.
void RemoveEmpty(MSIHANDLE install, const wchar_t* folder) {
  wchar_t path[kPathChars];
  lstrcpynW(path, folder, kPathChars);
  for (int at = lstrlenW(path) - 1; at > 2; --at) {
    if (path[at] != L'\\') continue;
    path[at] = 0;
    if (!RemoveDirectoryW(path)) return;
    Log(install, L"removed, empty: ", path);
  }
}

}  // namespace

// The final uninstall's commit step, once the task is deleted: gives back
// what the first install changed.
extern "C" __declspec(dllexport) UINT __stdcall RestoreFolders(MSIHANDLE install) {
  Restore(install);
  return ERROR_SUCCESS;
}

// The rollback of a failed first install, once the task it registered is
// deleted (UndoCreateTask): what it changed given back, then the folders
// LockFolders would have created, on the way to INSTALLDIR and to the
// waveform file, removed where they are empty once Windows Installer has
// taken its files away.
extern "C" __declspec(dllexport) UINT __stdcall UnlockFolders(MSIHANDLE install) {
  Restore(install);
  wchar_t data[kPathChars], folder[kPathChars], waveform[kPathChars];
  DWORD size = sizeof data / sizeof data[0];
  if (MsiGetPropertyW(install, L"CustomActionData", data, &size) != ERROR_SUCCESS || size == 0 ||
      GetFullPathNameW(data, kPathChars - 1, folder, nullptr) == 0)
    return ERROR_SUCCESS;
  if (folder[lstrlenW(folder) - 1] != L'\\') lstrcatW(folder, L"\\");
  if (Lockable(folder)) RemoveEmpty(install, folder);
  int n = 0, last = 0;
  for (; WaveformPath[n]; ++n)
    if ((waveform[n] = static_cast<unsigned char>(WaveformPath[n])) == L'\\') last = n;
  waveform[last + 1] = 0;
  RemoveEmpty(install, waveform);
  return ERROR_SUCCESS;
}
