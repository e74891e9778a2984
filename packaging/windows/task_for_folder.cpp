// task-for-folder.dll: the steps of the Windows installer that Windows
// Installer cannot take by itself. It lives in the package's Binary table and
// is never installed.
//
// WriteTasksForFolder, a deferred step, is handed the installed folder (its
// CustomActionData) and rewrites the two task definitions installed there
// (UTF-16 with a byte order mark, as they are shipped) in place, with every
// mention of the default folder, C:\Qmx\AWG10K\, made that folder: a task
// naming another folder than its files' would start nothing, or an older
// copy, whether the installer registers it or someone imports it by hand.
// Windows Installer can put a folder into a command line but never into a
// file's text. It knows nothing of the definitions' elements, so a change to
// them needs none here.
//
// EndFolderPrograms, a deferred step, is handed a folder and ends the
// launchers running minute-trigger from it, then the programs run from it,
// and nothing else: taskkill /IM would end a program of the same name run
// from any folder, and schtasks /End ends only the task's own process, the
// console host, while the launcher's cmd.exe lives on and starts the program
// again 10 s later. An upgrade that replaced the launcher under a running
// cmd.exe would have it read the new file from the old one's byte offset.
#define _WIN32_WINNT 0x0600  // QueryFullProcessImageNameW
#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>
#include <wbemidl.h>
#include <msi.h>
#include <msiquery.h>

#include "install_step.h"
#include "task_text.h"

namespace {

const wchar_t kDefaultFolder[] = L"C:\\Qmx\\AWG10K\\";
const wchar_t* const kTasks[] = {L"minute-trigger-logon.xml", L"minute-trigger-boot.xml"};
// 1.0.0 shipped minute-trigger-precise.exe too, which a task could run: an
// upgrade from it must end that program, or its file stays in use.
const wchar_t* const kPrograms[] = {L"minute-trigger.exe", L"minute-trigger-precise.exe"};
// A task definition is a few kilobytes; the buffers are fixed, so that the
// DLL needs no C++ runtime and keeps the package small.
constexpr DWORD kMaxChars = 1 << 16;
wchar_t folder[MAX_PATH * 2];
wchar_t escaped[MAX_PATH * 10];
wchar_t path[MAX_PATH * 3];
wchar_t text[kMaxChars];
wchar_t out[2 * kMaxChars];

// The folder handed to the step, ending in a backslash; false if none (a
// folder of any length the buffer holds: its size is the buffer's, less the
// one character a backslash may add).
bool FolderFromData(MSIHANDLE install) {
  DWORD size = sizeof folder / sizeof folder[0] - 1;
  if (MsiGetPropertyW(install, L"CustomActionData", folder, &size) != ERROR_SUCCESS || size == 0) return false;
  if (folder[size - 1] != L'\\') lstrcatW(folder, L"\\");
  return true;
}

// Rewrites FOLDER\NAME in place for the folder: true, or false with the
// failure logged.
bool WriteForFolder(MSIHANDLE install, const wchar_t* name) {
  lstrcpyW(path, folder);
  lstrcatW(path, name);
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(install, L"cannot read ", path), false;
  // A file longer than the buffer would be read in part and written back
  // cut short, with no error: refused whole instead.
  LARGE_INTEGER size;
  DWORD bytes = 0;
  const bool read = GetFileSizeEx(file, &size) && size.QuadPart <= LONGLONG{sizeof text - sizeof(wchar_t)} &&
                    ReadFile(file, text, static_cast<DWORD>(size.QuadPart), &bytes, nullptr) && bytes == size.QuadPart;
  CloseHandle(file);
  if (!read || bytes % 2 != 0 || bytes < 2 || text[0] != 0xfeff)
    return Fail(install, L"not UTF-16 with a byte order mark, or too long: ", path), false;
  text[bytes / 2] = 0;

  const task_text::Rewritten r = task_text::Rewrite(text, kDefaultFolder, escaped, out, sizeof out / sizeof out[0]);
  if (r.length < 0) return Fail(install, L"too long once written: ", path), false;
  // Written for this folder before (a repair, say): nothing to do. One that
  // names neither would be registered naming some other folder.
  if (r.replaced == 0 && r.names_to) return true;
  if (r.replaced == 0) return Fail(install, L"names no C:\\Qmx\\AWG10K\\ to replace: ", path), false;
  const DWORD n = static_cast<DWORD>(r.length);

  file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(install, L"cannot write ", path), false;
  DWORD done = 0;
  const bool wrote = WriteFile(file, out, n * sizeof(wchar_t), &done, nullptr) && done == n * sizeof(wchar_t);
  if (!CloseHandle(file) || !wrote) return Fail(install, L"cannot write ", path), false;
  Log(install, L"the default folder made this one in ", path);
  return true;
}

// What a process snapshot tells of one process, and what this step makes of it.
struct Process {
  DWORD id, parent;
  bool cmd, ours, end;
  ULONGLONG created;
  bool line_known, names_launcher;  // a cmd.exe's command line read, and whether it names ours
};
constexpr int kMaxProcesses = 4096;
Process processes[kMaxProcesses];
int process_count;

ULONGLONG Created(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (ULONGLONG{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

// Whether PROCESS runs one of the programs from the folder, by its image's
// full path: a program of the same name elsewhere is someone else's.
bool RunsOurProgram(HANDLE process) {
  DWORD size = sizeof path / sizeof path[0];
  if (!QueryFullProcessImageNameW(process, 0, path, &size)) return false;
  const int length = lstrlenW(folder);
  if (CompareStringOrdinal(path, length, folder, length, TRUE) != CSTR_EQUAL) return false;
  for (const wchar_t* program : kPrograms)
    if (lstrcmpiW(path + length, program) == 0) return true;
  return false;
}

// Whether TEXT holds PART, in any case.
bool Contains(const wchar_t* text, const wchar_t* part) {
  const int length = lstrlenW(part);
  for (int left = lstrlenW(text) - length; left >= 0; --left, ++text)
    if (CompareStringOrdinal(text, length, part, length, TRUE) == CSTR_EQUAL) return true;
  return false;
}

// A cmd.exe's command line from ntdll's ProcessCommandLineInformation
// (Windows 8.1 and later; earlier ones, and Wine's, may refuse it).
wchar_t launcher[MAX_PATH * 3];
alignas(8) BYTE command_line[8192];
using QueryProcess = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kProcessCommandLineInformation = 60;
void ReadCommandLine(HANDLE process, Process& p) {
  static const auto query = reinterpret_cast<QueryProcess>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  ULONG size = 0;
  if (query == nullptr || query(process, kProcessCommandLineInformation, command_line, sizeof command_line - 2, &size) < 0)
    return;
  auto* line = reinterpret_cast<UNICODE_STRING*>(command_line);
  if (line->Buffer == nullptr || line->Length >= sizeof command_line - sizeof(UNICODE_STRING) - 2) return;
  line->Buffer[line->Length / 2] = 0;
  p.line_known = true;
  p.names_launcher = Contains(line->Buffer, launcher);
}

void Snapshot() {
  process_count = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && process_count < kMaxProcesses;
       more = Process32NextW(snapshot, &entry)) {
    Process& p = processes[process_count++];
    p = Process{entry.th32ProcessID, entry.th32ParentProcessID, lstrcmpiW(entry.szExeFile, L"cmd.exe") == 0,
                false, false, 0, false, false};
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, p.id);
    if (process == nullptr) continue;
    p.created = Created(process);
    p.ours = RunsOurProgram(process);
    if (p.cmd) ReadCommandLine(process, p);
    CloseHandle(process);
  }
  CloseHandle(snapshot);
}

Process* Find(DWORD id) {
  for (int i = 0; i < process_count; ++i)
    if (processes[i].id == id) return &processes[i];
  return nullptr;
}

// The command lines ntdll would not give, from WMI's Win32_Process (Windows
// before 8.1). Wine's WMI gives no other process's.
void ReadCommandLinesFromWmi() {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IWbemLocator* locator = nullptr;
  IWbemServices* services = nullptr;
  IEnumWbemClassObject* rows = nullptr;
  BSTR space = SysAllocString(L"ROOT\\CIMV2");
  BSTR language = SysAllocString(L"WQL");
  BSTR query = SysAllocString(L"SELECT ProcessId, CommandLine FROM Win32_Process WHERE Name = 'cmd.exe'");
  if (SUCCEEDED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                 reinterpret_cast<void**>(&locator))) &&
      SUCCEEDED(locator->ConnectServer(space, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services)) &&
      SUCCEEDED(CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                                  RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE)) &&
      SUCCEEDED(services->ExecQuery(language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                    nullptr, &rows))) {
    IWbemClassObject* row = nullptr;
    ULONG got = 0;
    // Never more than 10 s a process: an uninstall must not hang on WMI.
    while (rows->Next(10000, 1, &row, &got) == WBEM_S_NO_ERROR && got == 1) {
      VARIANT line, id;
      VariantInit(&line);
      VariantInit(&id);
      Process* p = nullptr;
      if (SUCCEEDED(row->Get(L"CommandLine", 0, &line, nullptr, nullptr)) && line.vt == VT_BSTR &&
          SUCCEEDED(row->Get(L"ProcessId", 0, &id, nullptr, nullptr)) && id.vt == VT_I4 &&
          (p = Find(static_cast<DWORD>(id.lVal))) != nullptr && p->cmd && !p->line_known) {
        p->line_known = true;
        p->names_launcher = Contains(line.bstrVal, launcher);
      }
      VariantClear(&line);
      VariantClear(&id);
      row->Release();
    }
  }
  if (rows) rows->Release();
  if (services) services->Release();
  if (locator) locator->Release();
  SysFreeString(space);
  SysFreeString(language);
  SysFreeString(query);
  if (SUCCEEDED(com)) CoUninitialize();
}

// Ends every process marked, and waits for it to be gone (its files free).
void EndMarked(MSIHANDLE install, bool launchers) {
  for (int i = 0; i < process_count; ++i) {
    if (!processes[i].end || processes[i].cmd != launchers) continue;
    const DWORD access = PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;
    HANDLE process = OpenProcess(access, FALSE, processes[i].id);
    if (process == nullptr) continue;
    // The id may have gone to another process since the snapshot.
    if (Created(process) == processes[i].created && TerminateProcess(process, 1)) {
      WaitForSingleObject(process, 5000);
      Log(install, launchers ? L"ended a launcher of " : L"ended a program of ", folder);
    }
    CloseHandle(process);
  }
}

// Marks what of the folder runs: its programs, and its launchers. A cmd.exe
// is a launcher when its command line names the folder's launcher (the Task
// Scheduler's and Explorer's starts name it by its full path), one in its
// 10 s pause included; a technician's prompt above a program is not. Where
// no command line can be read (Wine), the cmd.exe a program was started by
// is: its parent on Windows, its grandparent under Wine, whose cmd starts it
// through start.exe; a parent must be older than its child, as ids are
// reused. True if anything is marked.
bool MarkFolder() {
  Snapshot();
  bool unread = false, any = false;
  for (int i = 0; i < process_count; ++i) unread = unread || (processes[i].cmd && !processes[i].line_known);
  if (unread) ReadCommandLinesFromWmi();
  for (int i = 0; i < process_count; ++i) {
    Process& p = processes[i];
    if (p.cmd && p.line_known) p.end = p.names_launcher;
    if (!p.ours) continue;
    p.end = true;
    const Process* child = &p;
    for (int up = 0; up < 2; ++up) {
      Process* parent = Find(child->parent);
      if (parent == nullptr || parent->created == 0 || parent->created > child->created) break;
      if (parent->cmd) {
        parent->end = parent->end || !parent->line_known;
        break;
      }
      child = parent;
    }
  }
  for (int i = 0; i < process_count; ++i) any = any || processes[i].end;
  return any;
}

}  // namespace

void Log(MSIHANDLE install, const wchar_t* what, const wchar_t* path) {
  static wchar_t line[4 * MAX_PATH];
  lstrcpynW(line, L"task-for-folder: ", MAX_PATH);
  lstrcatW(line, what);
  lstrcatW(line, path);
  MSIHANDLE record = MsiCreateRecord(0);
  MsiRecordSetStringW(record, 0, line);
  MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
  MsiCloseHandle(record);
}

UINT Fail(MSIHANDLE install, const wchar_t* what, const wchar_t* path) {
  Log(install, what, path);
  return ERROR_INSTALL_FAILURE;
}

extern "C" __declspec(dllexport) UINT __stdcall WriteTasksForFolder(MSIHANDLE install) {
  if (!FolderFromData(install)) return Fail(install, L"no CustomActionData", L"");
  task_text::EscapeForXml(folder, escaped);
  for (const wchar_t* task : kTasks)
    if (!WriteForFolder(install, task)) return ERROR_INSTALL_FAILURE;
  return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall EndFolderPrograms(MSIHANDLE install) {
  if (!FolderFromData(install)) return Fail(install, L"no CustomActionData", L"");
  lstrcpyW(launcher, folder);
  lstrcatW(launcher, L"run-minute-trigger.cmd");
  // The launchers first, or one would start its program again; then a new
  // snapshot, since a launcher in its pause may have started one meanwhile,
  // until nothing of the folder runs (a bound, should something not end).
  for (int round = 0; round < 10 && MarkFolder(); ++round) {
    EndMarked(install, true);
    EndMarked(install, false);
  }
  return ERROR_SUCCESS;
}
