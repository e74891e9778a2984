// EndFolderPrograms, a deferred step of task-for-folder.dll, is handed a
// folder and ends the launchers running minute-trigger from it, then the
// programs run from it, and nothing else: taskkill /IM would end a program of
// the same name run from any folder, and schtasks /End ends only the task's
// own process, the console host, while the launcher's cmd.exe lives on and
// starts the program again 10 s later. An upgrade that replaced the launcher
// under a running cmd.exe would have it read the new file from the old one's
// byte offset.
// install_step.h first: it says which Windows the headers are for.
#include "install_step.h"

#include <tlhelp32.h>
#include <wbemidl.h>

#include "layout.h"

namespace {

// 1.0.0's second program too: an upgrade from it must end that program, or
// its file stays in use.
const wchar_t *const kPrograms[] = {WIDE(LAYOUT_PROGRAM), WIDE(LAYOUT_PRECISE_1_0_0)};

// What a process snapshot tells of one process, and what this step makes of it.
struct Process {
    DWORD id, parent;
    bool cmd, ours, end;
    ULONGLONG created;
    bool line_known, names_launcher;  // a cmd.exe's command line read, and whether it names ours
};
constexpr int kMaxProcesses = 4096;

// What the step knows: the folder, its launcher and the processes last seen.
struct Folder {
    wchar_t folder[MAX_PATH * 2];  // ending in a backslash
    wchar_t launcher[MAX_PATH * 3];
    Ntdll nt;
    Process processes[kMaxProcesses];
    int count;
};

ULONGLONG Created(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (ULONGLONG{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

// Whether PROCESS runs one of the programs from the folder, by its image's
// full path: a program of the same name elsewhere is someone else's.
bool RunsOurProgram(const Folder &f, HANDLE process)
{
    wchar_t path[MAX_PATH * 3];
    DWORD size = sizeof path / sizeof path[0];
    if (!QueryFullProcessImageNameW(process, 0, path, &size)) return false;
    const int length = lstrlenW(f.folder);
    if (!Same(path, f.folder, length)) return false;
    for (const wchar_t *program : kPrograms)
        if (lstrcmpiW(path + length, program) == 0) return true;
    return false;
}

// Whether TEXT holds PART, in any case.
bool Contains(const wchar_t *text, const wchar_t *part)
{
    const int length = lstrlenW(part);
    for (int left = lstrlenW(text) - length; left >= 0; --left, ++text)
        if (Same(text, part, length)) return true;
    return false;
}

// A cmd.exe's command line from ntdll, where it gives it.
void ReadCommandLine(const Folder &f, HANDLE process, Process *p)
{
    constexpr ULONG kProcessCommandLineInformation = 60;
    alignas(8) BYTE command_line[8192];
    ULONG size = 0;
    if (f.nt.query_process == nullptr ||
        f.nt.query_process(process, static_cast<PROCESSINFOCLASS>(kProcessCommandLineInformation), command_line,
                           sizeof command_line - 2, &size) < 0)
        return;
    auto *line = reinterpret_cast<UNICODE_STRING *>(command_line);
    if (line->Buffer == nullptr || line->Length >= sizeof command_line - sizeof(UNICODE_STRING) - 2) return;
    line->Buffer[line->Length / 2] = 0;
    p->line_known = true;
    p->names_launcher = Contains(line->Buffer, f.launcher);
}

void Snapshot(Folder *f)
{
    f->count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && f->count < kMaxProcesses;
         more = Process32NextW(snapshot, &entry)) {
        Process &p = f->processes[f->count++];
        p = Process{entry.th32ProcessID,
                    entry.th32ParentProcessID,
                    lstrcmpiW(entry.szExeFile, WIDE(LAYOUT_LAUNCHER_SHELL)) == 0,
                    false,
                    false,
                    0,
                    false,
                    false};
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, p.id);
        if (process == nullptr) continue;
        p.created = Created(process);
        p.ours = RunsOurProgram(*f, process);
        if (p.cmd) ReadCommandLine(*f, process, &p);
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}

Process *Find(Folder *f, DWORD id)
{
    for (int i = 0; i < f->count; ++i)
        if (f->processes[i].id == id) return &f->processes[i];
    return nullptr;
}

// The command lines ntdll would not give, from WMI's Win32_Process (Windows
// before 8.1). Wine's WMI gives no other process's.
void ReadCommandLinesFromWmi(Folder *f)
{
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IWbemLocator *locator = nullptr;
    IWbemServices *services = nullptr;
    IEnumWbemClassObject *rows = nullptr;
    BSTR space = SysAllocString(L"ROOT\\CIMV2");
    BSTR language = SysAllocString(L"WQL");
    BSTR query = SysAllocString(
        L"SELECT ProcessId, CommandLine FROM Win32_Process WHERE Name = '" WIDE(LAYOUT_LAUNCHER_SHELL) L"'");
    if (SUCCEEDED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                   reinterpret_cast<void **>(&locator))) &&
        SUCCEEDED(locator->ConnectServer(space, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services)) &&
        SUCCEEDED(CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                                    RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE)) &&
        SUCCEEDED(services->ExecQuery(language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                      &rows))) {
        IWbemClassObject *row = nullptr;
        ULONG got = 0;
        // Never more than 10 s a process: an uninstall must not hang on WMI.
        while (rows->Next(10000, 1, &row, &got) == WBEM_S_NO_ERROR && got == 1) {
            VARIANT line, id;
            VariantInit(&line);
            VariantInit(&id);
            Process *p = nullptr;
            if (SUCCEEDED(row->Get(L"CommandLine", 0, &line, nullptr, nullptr)) && line.vt == VT_BSTR &&
                SUCCEEDED(row->Get(L"ProcessId", 0, &id, nullptr, nullptr)) && id.vt == VT_I4 &&
                (p = Find(f, static_cast<DWORD>(id.lVal))) != nullptr && p->cmd && !p->line_known) {
                p->line_known = true;
                p->names_launcher = Contains(line.bstrVal, f->launcher);
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
void EndMarked(MSIHANDLE install, const Folder &f, bool launchers)
{
    for (int i = 0; i < f.count; ++i) {
        const Process &p = f.processes[i];
        if (!p.end || p.cmd != launchers) continue;
        const DWORD access = PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;
        HANDLE process = OpenProcess(access, FALSE, p.id);
        if (process == nullptr) continue;
        // The id may have gone to another process since the snapshot.
        if (Created(process) == p.created && TerminateProcess(process, 1)) {
            WaitForSingleObject(process, 5000);
            Log(install, launchers ? L"ended a launcher of " : L"ended a program of ", f.folder);
        }
        CloseHandle(process);
    }
}

// Marks what of the folder runs: its programs, and its launchers, by
// layout.h's rule; a technician's prompt above a program is no launcher. A
// parent must be older than its child, as ids are reused. True if anything
// is marked.
bool MarkFolder(Folder *f)
{
    Snapshot(f);
    bool unread = false, any = false;
    for (int i = 0; i < f->count; ++i) unread = unread || (f->processes[i].cmd && !f->processes[i].line_known);
    if (unread) ReadCommandLinesFromWmi(f);
    for (int i = 0; i < f->count; ++i) {
        Process &p = f->processes[i];
        if (p.cmd && p.line_known) p.end = p.names_launcher;
        if (!p.ours) continue;
        p.end = true;
        const Process *child = &p;
        for (int up = 0; up < kLauncherLevels; ++up) {
            Process *parent = Find(f, child->parent);
            if (parent == nullptr || parent->created == 0 || parent->created > child->created) break;
            if (parent->cmd) {
                parent->end = parent->end || !parent->line_known;
                break;
            }
            child = parent;
        }
    }
    for (int i = 0; i < f->count; ++i) any = any || f->processes[i].end;
    return any;
}

UINT EndPrograms(MSIHANDLE install, Folder *f)
{
    // Room for the backslash EndWithBackslash may add.
    if (!ReadData(install, f->folder, sizeof f->folder / sizeof f->folder[0] - 1))
        return Fail(install, L"no CustomActionData", L"");
    EndWithBackslash(f->folder);
    lstrcpyW(f->launcher, f->folder);
    lstrcatW(f->launcher, WIDE(LAYOUT_LAUNCHER));
    LoadNtdll(&f->nt);
    // The launchers first, or one would start its program again; then a new
    // snapshot, since a launcher in its pause may have started one meanwhile,
    // until nothing of the folder runs (a bound, should something not end).
    for (int round = 0; round < 10 && MarkFolder(f); ++round) {
        EndMarked(install, *f, true);
        EndMarked(install, *f, false);
    }
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall EndFolderPrograms(MSIHANDLE install)
{
    return WithContext<Folder>(install, EndPrograms);
}
