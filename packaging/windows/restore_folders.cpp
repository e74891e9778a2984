// The undo of LockFolders (lock_folders.cpp), two steps of
// task-for-folder.dll: RestoreFolders, a commit step of the final uninstall,
// and UnlockFolders, the rollback of a failed first install, give each object
// whose permissions the first install changed what it had, where it is still
// the same one (by its file ID) and has kept what the package gave it.
#include "folder_walk.h"

#include <msiquery.h>

#include "layout.h"

using lock_rule::Descriptor;
using lock_rule::Role;

namespace {

// Gives back to the object saved as ID what it had (DATA: its path, what it
// had and what it was given, a line each), where it is still that object and
// has what the package gave it.
void RestoreOne(MSIHANDLE install, const Ntdll &nt, Objects *objects, const wchar_t *id, wchar_t *data)
{
    wchar_t *before = data;
    while (*before && *before != L'\n') ++before;
    if (*before) *before++ = 0;
    wchar_t *given = before;
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
    if (!read || !lock_rule::Parse(text, &gave))
        return Log(install, L"the saved permissions cannot be read, left as they are: ", data);
    const int index = AddPath(install, nt, objects, data, Role::Path, nullptr);
    wchar_t found[40];
    if (index < 0 || objects->at[index].handle == nullptr)
        return Log(install, L"gone or unreachable, not given back: ", data);
    const HANDLE handle = objects->at[index].handle;
    if (!FileId(nt, handle, found) || lstrcmpiW(found, id) != 0)
        return Log(install, L"another object than the one changed, left as it is: ", data);
    if (!nt.wine && (!ReadDescriptor(nt, handle, text, kSddlChars, &now) || !lock_rule::Same(now, gave)))
        return Log(install, L"changed since the install, left as it is: ", data);
    // Never a user as its owner, who could change its permissions again.
    if (!lock_rule::Trusted(was.owner)) lstrcpyA(was.owner, "BA");
    PSECURITY_DESCRIPTOR descriptor = Build(was);
    const SECURITY_INFORMATION what = kOwnerAndDacl | (was.is_protected ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                        : UNPROTECTED_DACL_SECURITY_INFORMATION);
    if (descriptor == nullptr || nt.set_security(handle, what, descriptor) < 0)
        Log(install, L"cannot give back the permissions of ", data);
    else
        Log(install, L"given back the permissions it had before the install: ", data);
    LocalFree(descriptor);
}

// Gives back what the first install saved, then forgets it.
void Restore(MSIHANDLE install)
{
    HKEY saved;
    Ntdll nt{};
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSaved, 0, KEY_READ, &saved) != ERROR_SUCCESS) return;
    Objects objects{nullptr, 0};
    if (LoadNtdll(&nt) && Allocate(&objects)) {
        EnablePrivileges();
        if (nt.wine)
            Log(install, L"Wine keeps no permissions: whether they changed since the install is not checked", L"");
        Line value;
        wchar_t id[64];
        for (DWORD i = 0;; ++i) {
            DWORD id_chars = sizeof id / sizeof id[0], bytes = sizeof value.text - sizeof(wchar_t), type = 0;
            if (RegEnumValueW(saved, i, id, &id_chars, nullptr, &type, reinterpret_cast<BYTE *>(value.text), &bytes) !=
                ERROR_SUCCESS)
                break;
            value.text[bytes / sizeof(wchar_t)] = 0;
            if (type == REG_SZ) RestoreOne(install, nt, &objects, id, value.text);
            CloseAll(&objects);
        }
    }
    Free(&objects);
    RegCloseKey(saved);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSaved);
    // The package's key, where Windows Installer has left it empty only
    // because Saved was still in it.
    HKEY key;
    DWORD keys = 1, values = 1;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    if (keys == 0 && values == 0) RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
}

// Removes FOLDER (a full path ending in a backslash) where it is empty, then
// each folder above it in turn, down to the drive's root.
void RemoveEmpty(MSIHANDLE install, const wchar_t *folder)
{
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
extern "C" __declspec(dllexport) UINT __stdcall RestoreFolders(MSIHANDLE install)
{
    Restore(install);
    return ERROR_SUCCESS;
}

// The rollback of a failed first install, once the task it registered is
// deleted (UndoCreateTask): what it changed given back, then the folders
// LockFolders would have created, on the way to INSTALLDIR and to the
// waveform file, removed where they are empty once Windows Installer has
// taken its files away.
extern "C" __declspec(dllexport) UINT __stdcall UnlockFolders(MSIHANDLE install)
{
    Restore(install);
    wchar_t data[kPathChars], folder[kPathChars], waveform[] = WIDE(WAVEFORM_PATH);
    if (!ReadData(install, data, sizeof data / sizeof data[0]) ||
        GetFullPathNameW(data, kPathChars - 1, folder, nullptr) == 0)
        return ERROR_SUCCESS;
    EndWithBackslash(folder);
    if (Lockable(folder)) RemoveEmpty(install, folder);
    int last = 0;
    for (int n = 0; waveform[n]; ++n)
        if (waveform[n] == L'\\') last = n;
    waveform[last + 1] = 0;
    RemoveEmpty(install, waveform);
    return ERROR_SUCCESS;
}
