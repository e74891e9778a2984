// LockFolders, a deferred step of task-for-folder.dll, run as SYSTEM before
// any file of the package is written: what SYSTEM runs (the boot task) or
// what every user's session runs (the logon task) must sit where only
// administrators can change anything, from the drive's root down. A user who
// can rename a folder of the path can put one of their own in its place; one
// who owns a file can change its permissions; a junction leads SYSTEM's
// writes elsewhere.
//
// Handed the folder to install into (CustomActionData, "reset " before it on
// a first install or an upgrade), it locks two trees from their top folder
// below the drive's root, creating what is missing already locked: the
// folder's (for one under Program Files, the folder below that), and C:\Qmx,
// the vendor's, which holds the waveform file built into the program. Users
// may read and run there, nothing else. On a first install or an upgrade it
// also gives everything in the trees to Administrators, resets what was set
// on each file and folder to what the top hands down, and moves away any
// file named as one of the package's own, so that Windows Installer (forced
// to write every file, REINSTALLMODE) writes each afresh: a planted file
// could otherwise survive, or a handle opened on it before the lock write
// into it afterwards. A repair leaves what administrators set since alone.
// A winmm.dll beside the program, which Windows would load before its own
// (it is no KnownDLL), refuses the install.
#define _WIN32_WINNT 0x0600  // GetFinalPathNameByHandleW
#include <windows.h>
#include <sddl.h>
#include <msi.h>
#include <msiquery.h>

#include "install_step.h"

namespace {

// Administrators own it; SYSTEM and Administrators have full control, Users
// read and run (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), all of it handed
// down; nothing comes from above (P).
const wchar_t kLocked[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const wchar_t kGrants[] = L"/inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX /Q";
const wchar_t kWaveformTop[] = L"C:\\Qmx\\";
// With 1.0.0's second program, which a task could still name.
const wchar_t* const kOwnFiles[] = {L"minute-trigger.exe",       L"minute-trigger-check.exe", L"minute-trigger-precise.exe",
                                    L"run-minute-trigger.cmd",   L"minute-trigger-logon.xml", L"minute-trigger-boot.xml",
                                    L"INSTALL.txt",              L"BUILD.txt"};

// Windows already protects the path down to a folder in Program Files.
const wchar_t kVersion[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const wchar_t* const kProgramFiles[] = {L"ProgramFilesDir", L"ProgramFilesDir (x86)"};
// Users and Windows itself write in ProgramData and the users' folders.
const wchar_t kProfiles[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

wchar_t data[MAX_PATH * 2 + 8];
wchar_t target[MAX_PATH * 2];
wchar_t top[MAX_PATH * 2];
wchar_t scratch[MAX_PATH * 4];
wchar_t walk[MAX_PATH * 4];
wchar_t command[MAX_PATH * 6];
SECURITY_ATTRIBUTES locked{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};

bool IsPrefix(const wchar_t* prefix, const wchar_t* text) {
  const int length = lstrlenW(prefix);
  return length > 0 && lstrlenW(text) >= length &&
         CompareStringOrdinal(text, length, prefix, length, TRUE) == CSTR_EQUAL;
}

// Whether PATH lies in FOLDER.
bool Within(const wchar_t* path, const wchar_t* folder) {
  if (GetFullPathNameW(folder, MAX_PATH * 4, scratch, nullptr) == 0) return false;
  if (scratch[lstrlenW(scratch) - 1] != L'\\') lstrcatW(scratch, L"\\");
  return IsPrefix(scratch, path);
}

// Whether PATH lies in the folder Windows keeps as NAME under KEY (in
// HKLM's 64-bit view, where there is one), read from the registry rather
// than from the environment, which a step's process may lack.
bool WithinKnown(const wchar_t* path, const wchar_t* key, const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  DWORD size = sizeof folder;
  HKEY opened;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS) return false;
  const bool read = RegGetValueW(opened, nullptr, name, RRF_RT_REG_SZ, nullptr, folder, &size) == ERROR_SUCCESS;
  RegCloseKey(opened);
  return read && Within(path, folder);
}

// TOP: the top folder of FOLDER's tree (X:\A\, or X:\Program Files\A\);
// false for a folder where that cannot be locked: a drive's root, none of a
// drive letter's, or one in Windows' own folders that users or Windows
// itself write to.
bool FindTop(const wchar_t* folder) {
  if (!(((folder[0] | 0x20) >= L'a' && (folder[0] | 0x20) <= L'z') && folder[1] == L':' && folder[2] == L'\\'))
    return false;
  wchar_t windows[MAX_PATH];
  const UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH || Within(folder, windows) || WithinKnown(folder, kProfiles, L"ProgramData") ||
      WithinKnown(folder, kProfiles, L"ProfilesDirectory"))
    return false;
  int skip = 1;  // the folders of the path above the top
  for (const wchar_t* name : kProgramFiles)
    if (WithinKnown(folder, kVersion, name)) skip = 2;
  int at = 3;
  for (int seen = 0; folder[at]; ++at)
    if (folder[at] == L'\\' && ++seen == skip) break;
  if (!folder[at]) return false;
  lstrcpynW(top, folder, at + 2);
  return true;
}

// Runs icacls with ARGS after the quoted PATH (a trailing backslash would
// escape the closing quote, so a folder is named with a dot after it): its
// exit code, or -1 if it could not be run.
int Icacls(const wchar_t* path, const wchar_t* args) {
  GetSystemDirectoryW(command, MAX_PATH);
  lstrcatW(command, L"\\icacls.exe \"");
  lstrcatW(command, path);
  lstrcatW(command, L"\" ");
  lstrcatW(command, args);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &process))
    return -1;
  DWORD code = 1;
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

// FOLDER\ held open for the step, so that neither it nor a folder above it
// can be renamed or replaced meanwhile; INVALID_HANDLE_VALUE where it is not
// itself: a junction or link on the path leads elsewhere.
HANDLE Hold(MSIHANDLE install, const wchar_t* folder) {
  HANDLE held = CreateFileW(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (held == INVALID_HANDLE_VALUE) return Fail(install, L"cannot open ", folder), held;
  const DWORD n = GetFinalPathNameByHandleW(held, scratch, MAX_PATH * 4, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  const wchar_t* final_path = IsPrefix(L"\\\\?\\", scratch) ? scratch + 4 : scratch;
  if (n == 0 || n >= MAX_PATH * 4 || GetLongPathNameW(folder, walk, MAX_PATH * 4) == 0) {
    CloseHandle(held);
    return Fail(install, L"cannot tell where this leads: ", folder), INVALID_HANDLE_VALUE;
  }
  int length = lstrlenW(walk);
  if (length > 3 && walk[length - 1] == L'\\') walk[--length] = 0;
  if (lstrlenW(final_path) != length || !IsPrefix(walk, final_path)) {
    CloseHandle(held);
    Log(install, L"leads to ", final_path);
    return Fail(install, L"a junction or link on the path refuses the install: ", folder), INVALID_HANDLE_VALUE;
  }
  return held;
}

// Whether anything in WALK's tree (WALK a folder, ending in a backslash) is a
// junction or link, which icacls' /T would follow out of the tree; WALK is
// left naming it.
bool HoldsLink() {
  const int length = lstrlenW(walk);
  if (length + 2 >= MAX_PATH * 4) return false;
  lstrcatW(walk, L"*");
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(walk, &found);
  walk[length] = 0;
  if (find == INVALID_HANDLE_VALUE) return false;
  bool link = false;
  do {
    if (lstrcmpW(found.cFileName, L".") == 0 || lstrcmpW(found.cFileName, L"..") == 0) continue;
    if (length + lstrlenW(found.cFileName) + 2 >= MAX_PATH * 4) continue;
    lstrcatW(walk, found.cFileName);
    link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!link && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      lstrcatW(walk, L"\\");
      link = HoldsLink();
    }
    if (!link) walk[length] = 0;
  } while (!link && FindNextFileW(find, &found));
  FindClose(find);
  return link;
}

// Locks the tree from TOP down: created locked where missing, else its own
// permissions replaced, then (RESET) everything in it given to
// Administrators and set to what TOP hands down. False, logged, on failure.
bool LockTree(MSIHANDLE install, bool reset, HANDLE* held) {
  lstrcpyW(scratch, top);
  scratch[lstrlenW(scratch) - 1] = 0;
  const bool made = CreateDirectoryW(scratch, &locked);
  if (!made && GetLastError() != ERROR_ALREADY_EXISTS) return Fail(install, L"cannot create ", top), false;
  if ((*held = Hold(install, top)) == INVALID_HANDLE_VALUE) return false;
  if (made) {
    Log(install, L"created, locked: ", top);
    return true;
  }
  lstrcpyW(walk, top);
  lstrcatW(walk, L".");
  // The permissions must be replaced; where the folder's owner denies
  // SYSTEM, taking the folder over first lets them be.
  if (Icacls(walk, kGrants) != 0 && (Icacls(walk, L"/setowner *S-1-5-32-544 /C /Q") != 0 || Icacls(walk, kGrants) != 0))
    return Fail(install, L"cannot lock ", top), false;
  Log(install, L"locked: ", top);
  if (!reset) return true;
  lstrcpyW(walk, top);
  if (HoldsLink()) return Fail(install, L"a junction or link in the tree refuses the install: ", walk), false;
  // A file in use may refuse either: that is no reason to fail.
  lstrcpyW(walk, top);
  lstrcatW(walk, L".");
  Icacls(walk, L"/setowner *S-1-5-32-544 /T /C /Q");
  lstrcpyW(walk, top);
  lstrcatW(walk, L"*");
  Icacls(walk, L"/reset /T /C /Q");
  Log(install, L"owned by Administrators and reset below: ", top);
  return true;
}

// Creates the folders from TOP down to TARGET that are missing; they take
// TOP's permissions.
bool MakeBelowTop(MSIHANDLE install) {
  for (int at = lstrlenW(top); target[at]; ++at) {
    if (target[at] != L'\\') continue;
    lstrcpynW(scratch, target, at + 1);
    if (!CreateDirectoryW(scratch, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      return Fail(install, L"cannot create ", scratch), false;
  }
  return true;
}

// Moves FOLDER\NAME aside and deletes it (at the next start of Windows if it
// is open): Windows Installer then writes the package's own afresh. False
// where it cannot be moved: a handle that does not share deletion holds it.
bool MoveAside(MSIHANDLE install, const wchar_t* name) {
  lstrcpyW(scratch, target);
  lstrcatW(scratch, name);
  if (GetFileAttributesW(scratch) == INVALID_FILE_ATTRIBUTES) return true;
  if (!GetTempFileNameW(target, L"old", 0, walk) || !MoveFileExW(scratch, walk, MOVEFILE_REPLACE_EXISTING))
    return Fail(install, L"in use and cannot be replaced (close what holds it, or restart Windows, then install again): ",
                scratch),
           false;
  if (!DeleteFileW(walk)) MoveFileExW(walk, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  Log(install, L"moved aside, to be written afresh: ", scratch);
  return true;
}

UINT Lock(MSIHANDLE install) {
  DWORD size = sizeof data / sizeof data[0];
  if (MsiGetPropertyW(install, L"CustomActionData", data, &size) != ERROR_SUCCESS || size == 0)
    return Fail(install, L"no CustomActionData", L"");
  const bool reset = IsPrefix(L"reset ", data);
  if (GetFullPathNameW(reset ? data + 6 : data, MAX_PATH * 2 - 1, target, nullptr) == 0)
    return Fail(install, L"cannot read the folder ", data);
  if (target[lstrlenW(target) - 1] != L'\\') lstrcatW(target, L"\\");
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kLocked, SDDL_REVISION_1, &descriptor, nullptr))
    return Fail(install, L"cannot make the locked permissions", L"");
  locked.lpSecurityDescriptor = descriptor;

  // The vendor's tree, then the folder's where that is another, then the
  // folders below its top; each held to the end of the step.
  HANDLE held[3] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
  bool done = FindTop(target);
  if (!done)
    Fail(install, L"the folder lies where its path cannot be locked (a drive's root, Windows' own folders, ProgramData, the users' folders): ", target);
  lstrcpyW(top, kWaveformTop);
  done = done && LockTree(install, reset, &held[0]) && FindTop(target);
  if (done && !IsPrefix(kWaveformTop, top)) done = LockTree(install, reset, &held[1]);
  done = done && MakeBelowTop(install) && (held[2] = Hold(install, target)) != INVALID_HANDLE_VALUE;
  lstrcpyW(scratch, target);
  lstrcatW(scratch, L"winmm.dll");
  if (done && GetFileAttributesW(scratch) != INVALID_FILE_ATTRIBUTES)
    done = Fail(install, L"a winmm.dll beside the program would be loaded in place of Windows' own: remove it, then install again: ",
                scratch) == ERROR_SUCCESS;
  for (const wchar_t* name : kOwnFiles) done = done && (!reset || MoveAside(install, name));
  for (HANDLE h : held)
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  LocalFree(descriptor);
  return done ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

// Removes FOLDER where it is empty, then each folder above it down to the
// top of its tree, where that is empty in turn.
void RemoveEmpty(MSIHANDLE install, const wchar_t* folder) {
  lstrcpyW(scratch, folder);
  for (int at = lstrlenW(scratch) - 1; at >= lstrlenW(top) - 1; --at) {
    if (scratch[at] != L'\\') continue;
    scratch[at] = 0;
    if (!RemoveDirectoryW(scratch)) return;
    Log(install, L"removed, empty: ", scratch);
  }
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall LockFolders(MSIHANDLE install) { return Lock(install); }

// The rollback of a failed first install: the folders LockFolders would have
// created, INSTALLDIR, its tree's top and C:\Qmx, removed where they are
// empty once Windows Installer has taken its files away. Permissions it
// replaced on folders that were there stay as they are, locked: icacls can
// put back only what was saved, and a saved list a user could reach before
// the lock could name anything.
extern "C" __declspec(dllexport) UINT __stdcall UnlockFolders(MSIHANDLE install) {
  DWORD size = sizeof data / sizeof data[0];
  if (MsiGetPropertyW(install, L"CustomActionData", data, &size) != ERROR_SUCCESS || size == 0 ||
      GetFullPathNameW(data, MAX_PATH * 2 - 1, target, nullptr) == 0)
    return ERROR_SUCCESS;
  if (target[lstrlenW(target) - 1] != L'\\') lstrcatW(target, L"\\");
  if (FindTop(target)) RemoveEmpty(install, target);
  lstrcpyW(top, kWaveformTop);
  RemoveEmpty(install, kWaveformTop);
  return ERROR_SUCCESS;
}
