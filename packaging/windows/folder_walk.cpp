// The objects on the way to a folder, held (folder_walk.h).
#include "folder_walk.h"

#include <sddl.h>

using lock_rule::Descriptor;
using lock_rule::Role;

bool Allocate(Objects *objects)
{
    objects->at =
        static_cast<Object *>(VirtualAlloc(nullptr, sizeof(Object) * kMaxObjects, MEM_COMMIT, PAGE_READWRITE));
    objects->count = 0;
    return objects->at != nullptr;
}

void CloseAll(Objects *objects)
{
    for (int i = 0; i < objects->count; ++i)
        if (objects->at[i].handle != nullptr) CloseHandle(objects->at[i].handle);
    objects->count = 0;
}

void Free(Objects *objects)
{
    if (objects->at != nullptr) VirtualFree(objects->at, 0, MEM_RELEASE);
    objects->at = nullptr;
}

void EnablePrivileges()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return;
    const wchar_t *const names[] = {L"SeBackupPrivilege", L"SeRestorePrivilege", L"SeTakeOwnershipPrivilege"};
    for (const wchar_t *name : names) {
        TOKEN_PRIVILEGES p{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
        if (LookupPrivilegeValueW(nullptr, name, &p.Privileges[0].Luid))
            AdjustTokenPrivileges(token, FALSE, &p, 0, nullptr, nullptr);
    }
    CloseHandle(token);
}

namespace {

// Windows already protects the path down to a folder in Program Files.
// Users and Windows itself write in its own folders, ProgramData and the
// users' folders: a folder there has a path that cannot be locked.
const wchar_t kProfiles[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// Whether PATH lies in the folder Windows keeps as NAME under KEY, or in
// Windows' own folder (NAME null), read from the registry and the system
// rather than from the environment, which a step's process may lack.
bool WithinKnown(const wchar_t *path, const wchar_t *key, const wchar_t *name)
{
    wchar_t folder[MAX_PATH + 1], full[MAX_PATH + 2];
    DWORD size = sizeof folder;
    if (name == nullptr) {
        const UINT n = GetSystemWindowsDirectoryW(folder, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return true;
    } else {
        HKEY opened;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS)
            return false;
        const bool read = RegGetValueW(opened, nullptr, name, RRF_RT_REG_SZ, nullptr, folder, &size) == ERROR_SUCCESS;
        RegCloseKey(opened);
        if (!read) return false;
    }
    if (GetFullPathNameW(folder, MAX_PATH, full, nullptr) == 0) return true;
    if (full[lstrlenW(full) - 1] != L'\\') lstrcatW(full, L"\\");
    return IsPrefix(full, path);
}

// Why the object held by HANDLE cannot be locked, or null: a reparse point
// (a junction, a link, a mount point) leads elsewhere; a file with a second
// name can be changed through that one; a drive that keeps no permissions
// (FAT, exFAT) lets anyone change anything.
const wchar_t *Unlockable(const Ntdll &nt, HANDLE handle, bool folder)
{
    IO_STATUS_BLOCK io{};
    FILE_ATTRIBUTE_TAG_INFO tag{};
    FILE_STANDARD_INFORMATION standard{};
    DWORD flags = 0;
    if (nt.query_file(handle, &io, &tag, sizeof tag, static_cast<FILE_INFORMATION_CLASS>(35)) <
            0 ||  // FileAttributeTagInformation
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

// The index of the object at PATH, or -1.
int Lookup(const Objects &objects, const wchar_t *path)
{
    for (int i = 0; i < objects.count; ++i)
        if (lstrlenW(objects.at[i].path) == lstrlenW(path) && IsPrefix(path, objects.at[i].path)) return i;
    return -1;
}

}  // namespace

bool Lockable(const wchar_t *folder)
{
    const bool drive =
        ((folder[0] | 0x20) >= L'a' && (folder[0] | 0x20) <= L'z') && folder[1] == L':' && folder[2] == L'\\';
    return drive && folder[3] != 0 && !WithinKnown(folder, nullptr, nullptr) &&
           !WithinKnown(folder, kProfiles, L"ProgramData") && !WithinKnown(folder, kProfiles, L"ProfilesDirectory");
}

NTSTATUS OpenAt(const Ntdll &nt, HANDLE parent, const wchar_t *name, int length, bool folder, ACCESS_MASK access,
                ULONG disposition, PSECURITY_DESCRIPTOR descriptor, HANDLE *opened)
{
    UNICODE_STRING text{static_cast<USHORT>(length * sizeof(wchar_t)), static_cast<USHORT>(length * sizeof(wchar_t)),
                        const_cast<wchar_t *>(name)};
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

bool ReadDescriptor(const Ntdll &nt, HANDLE handle, char *text, int capacity, Descriptor *out)
{
    alignas(8) unsigned char buffer[16384];
    ULONG needed = 0;
    if (nt.query_security(handle, kOwnerAndDacl, buffer, sizeof buffer, &needed) < 0) return false;
    wchar_t *wide = nullptr;
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

PSECURITY_DESCRIPTOR Build(const Descriptor &d)
{
    char text[kSddlChars];
    wchar_t wide[kSddlChars];
    const int n = lock_rule::Format(d, text, kSddlChars);
    if (n < 0) return nullptr;
    for (int i = 0; i <= n; ++i) wide[i] = static_cast<unsigned char>(text[i]);
    PSECURITY_DESCRIPTOR built = nullptr;
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(wide, SDDL_REVISION_1, &built, nullptr) ? built
                                                                                                        : nullptr;
}

int Add(MSIHANDLE install, const Ntdll &nt, Objects *objects, const wchar_t *path, int parent, const wchar_t *name,
        int length, Role role, bool folder, ACCESS_MASK access)
{
    if (objects->count == kMaxObjects) return Fail(install, L"too many files in the folder: ", path), -1;
    Object &o = objects->at[objects->count];
    lstrcpynW(o.path, path, kPathChars);
    o.parent = parent, o.role = role, o.folder = folder, o.own = false, o.handle = nullptr;
    const HANDLE above = parent < 0 ? nullptr : objects->at[parent].handle;
    if (parent < 0 || above != nullptr) {
        // A drive's root can be neither renamed nor replaced: it is held without
        // the data access, which would clash with Windows' own handles on it.
        const NTSTATUS status = OpenAt(nt, above, name, length, folder, parent < 0 ? access & ~FILE_READ_DATA : access,
                                       FILE_OPEN, nullptr, &o.handle);
        if (status == kSharingViolation) return Fail(install, kRestart, path), -1;
        // A drive that is not there is no folder to create.
        if (status < 0 && (parent < 0 || (status != kNotFound && status != kPathNotFound)))
            return FailStatus(install, L"cannot open", status, path), -1;
        if (status < 0) o.handle = nullptr;
    }
    ++objects->count;
    if (o.handle != nullptr)
        if (const wchar_t *why = Unlockable(nt, o.handle, folder)) return Fail(install, why, path), -1;
    return objects->count - 1;
}

int AddPath(MSIHANDLE install, const Ntdll &nt, Objects *objects, const wchar_t *path, Role last, PlanStep plan)
{
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
        const wchar_t *name = part;
        int length = at + 1;
        if (index < 0) {
            root[4] = path[0];
            name = root, length = 7;
        } else {
            const wchar_t *above = objects->at[index].path;
            name = part + lstrlenW(above);
            length = at + 1 - lstrlenW(above) - (folder ? 1 : 0);
        }
        const Role role = !path[at + 1] ? last : Role::Path;
        const int added = Add(install, nt, objects, part, index, name, length, role, folder, kAccess);
        if (added < 0 || (plan != nullptr && !plan(install, nt, objects, added))) return -1;
        index = added;
    }
    return index;
}

bool FileId(const Ntdll &nt, HANDLE handle, wchar_t *out)
{
    FILE_INTERNAL_INFORMATION internal{};
    IO_STATUS_BLOCK io{};
    DWORD serial = 0;
    if (nt.query_file(handle, &io, &internal, sizeof internal, FileInternalInformation) < 0 ||
        !GetVolumeInformationByHandleW(handle, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0))
        return false;
    wsprintfW(out, L"%08lx-%08lx%08lx", static_cast<unsigned long>(serial),
              static_cast<unsigned long>(internal.IndexNumber.HighPart),
              static_cast<unsigned long>(internal.IndexNumber.LowPart));
    return true;
}
