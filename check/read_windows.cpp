// What minute-trigger-check reads on Windows, asking for read access only:
// Windows' version, the files beside this check (the program's folder), the
// task through the Task Scheduler's COM interface, the processes, the
// permissions of each object on the program's way, as SDDL, Windows Time, the power plan and
// the registry's policies. Every registry read takes the 64-bit view
// (KEY_WOW64_64KEY): a 32-bit process on 64-bit Windows would otherwise
// read the 32-bit copy of SOFTWARE, which holds none of these values.
#include <windows.h>

#include <accctrl.h>
#include <aclapi.h>
#include <sddl.h>
#include <taskschd.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>

#include "platform.h"
#include "read.h"
#include "waveform_path.h"

namespace {

// Text in the console's code page, as the report is shown there (or, with
// no console, Windows' own): a localised group name in UTF-8 would come out
// garbled, and setting the console to UTF-8 would outlast the check.
std::string Narrow(const wchar_t *text, int size = -1)
{
    if (text == nullptr) return "";
    const UINT page = GetConsoleOutputCP() != 0 ? GetConsoleOutputCP() : CP_ACP;
    const int n = WideCharToMultiByte(page, 0, text, size, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(page, 0, text, size, &out[0], n, nullptr, nullptr);
    if (size < 0 && !out.empty()) out.pop_back();  // the terminating NUL
    return out;
}
std::wstring Wide(const char *ascii) { return std::wstring(ascii, ascii + strlen(ascii)); }
std::wstring Lower(std::wstring text)
{
    for (wchar_t &c : text) c = towlower(c);
    return text;
}

bool RegString(const wchar_t *key, const wchar_t *name, std::string *out)
{
    wchar_t value[1024];
    DWORD size = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    HKEY k;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_64KEY, &k) != ERROR_SUCCESS) return false;
    const LONG read = RegQueryValueExW(k, name, nullptr, &type, reinterpret_cast<BYTE *>(value), &size);
    RegCloseKey(k);
    if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    value[size / sizeof(wchar_t)] = L'\0';
    *out = Narrow(value);
    return true;
}
bool RegDword(const wchar_t *key, const wchar_t *name, unsigned long *out)
{
    DWORD value = 0, size = sizeof value, type = 0;
    HKEY k;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_64KEY, &k) != ERROR_SUCCESS) return false;
    const LONG read = RegQueryValueExW(k, name, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size);
    RegCloseKey(k);
    if (read != ERROR_SUCCESS || type != REG_DWORD) return false;
    *out = value;
    return true;
}

// The folder of this check, ending in a backslash: the program's.
std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring self(path, n);
    return self.substr(0, self.rfind(L'\\') + 1);
}

bool Elevated()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool read = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return read && elevation.TokenIsElevated != 0;
}

// Wine's ntdll exports its version; Windows' has no such entry.
bool UnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

template <typename F> F Find(const wchar_t *module, const char *name)
{
    const HMODULE m = GetModuleHandleW(module) != nullptr ? GetModuleHandleW(module) : LoadLibraryW(module);
    return m == nullptr ? nullptr : reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(m, name)));
}

const wchar_t CurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

WindowsVersion ReadWindows()
{
    WindowsVersion w;
    // GetVersionEx reports 6.2 to a program without a manifest that names
    // the newer versions; the kernel's own call does not.
    using Get = LONG(WINAPI *)(OSVERSIONINFOW *);
    OSVERSIONINFOW v{};
    v.dwOSVersionInfoSize = sizeof v;
    if (const Get get = Find<Get>(L"ntdll.dll", "RtlGetVersion")) get(&v);
    w.major = v.dwMajorVersion, w.minor = v.dwMinorVersion, w.build = v.dwBuildNumber;
    unsigned long ubr = 0;
    if (RegDword(CurrentVersion, L"UBR", &ubr)) w.ubr = ubr;
    RegString(CurrentVersion, L"ProductName", &w.product);
    RegString(CurrentVersion, L"EditionID", &w.edition);
    if (!RegString(CurrentVersion, L"DisplayVersion", &w.display_version))
        RegString(CurrentVersion, L"ReleaseId", &w.display_version);
    // Windows 11 keeps "Windows 10" in ProductName.
    if (w.build >= 22000 && w.product.rfind("Windows 10", 0) == 0) w.product.replace(8, 2, "11");
    if (w.product.empty()) w.product = "Windows";
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    w.os64 = sizeof(void *) == 8 || wow64;
    return w;
}

DeviceDll ReadDll(const std::wstring &folder)
{
    DeviceDll d;
    d.path = Narrow((folder + L"AWG10K.dll").c_str());
    d.expected_machine = sizeof(void *) == 4 ? 0x14c : 0x8664;
    const HANDLE file = CreateFileW((folder + L"AWG10K.dll").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return d;
    d.present = true;
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    d.bytes.resize(static_cast<size_t>(std::min<LONGLONG>(size.QuadPart, 64 << 20)));
    DWORD read = 0;
    if (!d.bytes.empty() && ReadFile(file, d.bytes.data(), static_cast<DWORD>(d.bytes.size()), &read, nullptr)) d.bytes.resize(read);
    CloseHandle(file);
    return d;
}

WaveformFile ReadWaveform()
{
    WaveformFile f;
    f.path = WaveformPath;
    f.present = GetFileAttributesA(WaveformPath) != INVALID_FILE_ATTRIBUTES;
    const DWORD why = GetLastError();
    if (!f.present && why != ERROR_FILE_NOT_FOUND && why != ERROR_PATH_NOT_FOUND) f.error = why;
    return f;
}

Task ReadTask(const std::wstring &folder, bool elevated, bool wine)
{
    Task t;
    t.folder = Narrow(folder.c_str());
    t.elevated = elevated, t.wine = wine;
    ITaskService *service = nullptr;
    ITaskFolder *root = nullptr;
    IRegisteredTask *task = nullptr;
    HRESULT hr = CoCreateInstance(__uuidof(TaskScheduler), nullptr, CLSCTX_INPROC_SERVER, __uuidof(ITaskService),
                                  reinterpret_cast<void **>(&service));
    VARIANT none;
    VariantInit(&none);
    BSTR name = SysAllocString(L"\\");
    BSTR task_name = SysAllocString(L"minute-trigger");
    if (SUCCEEDED(hr)) hr = service->Connect(none, none, none, none);
    if (SUCCEEDED(hr)) hr = service->GetFolder(name, &root);
    if (SUCCEEDED(hr)) hr = root->GetTask(task_name, &task);
    if (SUCCEEDED(hr)) {
        VARIANT_BOOL enabled = VARIANT_FALSE;
        BSTR xml = nullptr;
        task->get_Enabled(&enabled);
        hr = task->get_Xml(&xml);
        t.enabled = enabled != VARIANT_FALSE;
        t.xml = Narrow(xml);
        SysFreeString(xml);
    }
    if (SUCCEEDED(hr)) t.state = Task::Registered;
    else if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) t.state = Task::NotFound;
    else if (hr == E_ACCESSDENIED) t.state = Task::Denied;
    t.error = hr;
    SysFreeString(name);
    SysFreeString(task_name);
    if (task) task->Release();
    if (root) root->Release();
    if (service) service->Release();
    return t;
}

Running ReadRunning(const std::wstring &folder, bool elevated)
{
    Running r;
    r.folder = Narrow(folder.c_str());
    r.elevated = elevated;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return r;
    struct Process {
        DWORD parent;
        std::wstring name;
    };
    std::map<DWORD, Process> processes;
    PROCESSENTRY32W e{};
    e.dwSize = sizeof e;
    for (BOOL more = Process32FirstW(snapshot, &e); more; more = Process32NextW(snapshot, &e))
        processes[e.th32ProcessID] = {e.th32ParentProcessID, Lower(e.szExeFile)};
    CloseHandle(snapshot);
    for (const auto &[pid, p] : processes) {
        if (p.name.rfind(L"minute-trigger", 0) != 0 || p.name == L"minute-trigger-check.exe") continue;
        wchar_t path[MAX_PATH * 2];
        DWORD size = MAX_PATH * 2;
        const HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        const bool read = h != nullptr && QueryFullProcessImageNameW(h, 0, path, &size);
        if (h != nullptr) CloseHandle(h);
        if (!read) {
            ++r.unreadable;
            continue;
        }
        const std::wstring image(path, size);
        if (Lower(image.substr(0, image.rfind(L'\\') + 1)) != Lower(folder)) continue;
        ++r.programs;
        // The launcher's cmd.exe is the program's parent on Windows, its
        // grandparent under Wine, whose cmd starts it through start.exe.
        DWORD up = p.parent;
        for (int level = 0; level < 2 && processes.count(up) != 0; ++level, up = processes[up].parent)
            r.launcher = r.launcher || processes[up].name == L"cmd.exe";
    }
    return r;
}

LastTrigger ReadLog(const std::wstring &folder)
{
    LastTrigger last;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    last.now = static_cast<int64_t>((ULARGE_INTEGER{{now.dwLowDateTime, now.dwHighDateTime}}.QuadPart / 10000000) - 11644473600LL);
    // Where the launcher writes it: beside itself, or where that cannot be
    // written (the logon task's, in the locked folder), in the profile of
    // the user it runs as, of whom only this one's can be found. The newer
    // of the two is the one in use.
    wchar_t data[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"LOCALAPPDATA", data, MAX_PATH);
    const std::wstring logs[] = {folder + L"minute-trigger.log", std::wstring(data) + L"\\minute-trigger\\minute-trigger.log"};
    std::wstring log;
    ULONGLONG newest = 0;
    for (const std::wstring &candidate : logs) {
        WIN32_FILE_ATTRIBUTE_DATA a;
        if (!GetFileAttributesExW(candidate.c_str(), GetFileExInfoStandard, &a)) continue;
        const ULONGLONG written = ULARGE_INTEGER{{a.ftLastWriteTime.dwLowDateTime, a.ftLastWriteTime.dwHighDateTime}}.QuadPart;
        if (log.empty() || written > newest) log = candidate, newest = written;
    }
    if (log.empty()) {
        last.readable = false;
        last.where = "the launcher's log";
        last.why = "no " + Narrow(logs[0].c_str()) + " nor " + Narrow(logs[1].c_str());
        last.how = "the launcher writes it once started: schtasks /Run /TN minute-trigger";
        return last;
    }
    last.where = Narrow(log.c_str());
    const HANDLE file = CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        last.readable = false;
        last.why = "error " + std::to_string(GetLastError());
        last.how = "run this check from a Command Prompt opened as administrator";
        return last;
    }
    // The tail is enough: one line a minute.
    LARGE_INTEGER size{}, at{};
    GetFileSizeEx(file, &size);
    at.QuadPart = std::max<LONGLONG>(0, size.QuadPart - 65536);
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    std::string tail(static_cast<size_t>(size.QuadPart - at.QuadPart), '\0');
    DWORD read = 0;
    if (!tail.empty()) ReadFile(file, &tail[0], static_cast<DWORD>(tail.size()), &read, nullptr);
    CloseHandle(file);
    tail.resize(read);
    const size_t trigger = tail.rfind("Trigger: ");
    if (trigger != std::string::npos) last.line = tail.substr(trigger, tail.find_first_of("\r\n", trigger) - trigger);
    return last;
}

PathSecurity ReadSecurity(const std::wstring &path, lock_rule::Role role)
{
    PathSecurity p;
    p.path = Narrow(path.c_str());
    p.role = role;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    PSECURITY_DESCRIPTOR sd = nullptr;
    const DWORD got = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, what, nullptr, nullptr, nullptr, nullptr, &sd);
    wchar_t *text = nullptr;
    if (got != ERROR_SUCCESS) {
        p.error = got;
    } else if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, what, &text, nullptr)) {
        p.error = GetLastError();
    } else {
        p.read = true;
        p.sddl = Narrow(text);
    }
    LocalFree(text);
    LocalFree(sd);
    return p;
}

struct Object {
    std::wstring path;  // "C:\" for a drive's root, no trailing backslash for anything else
    lock_rule::Role role;
};

// Each folder from the drive's root down to path's, then path itself, as ROLE.
void AddChain(const std::wstring &path, lock_rule::Role role, std::vector<Object> *objects)
{
    auto add = [&](const std::wstring &part, lock_rule::Role as) {
        for (const Object &o : *objects)
            if (o.path == part) return;
        objects->push_back({part, as});
    };
    for (size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        add(path.substr(0, at == 2 ? 3 : at), at + 1 == path.size() ? role : lock_rule::Role::Path);
    if (path.back() != L'\\') add(path, role);
}

std::vector<PathSecurity> ReadPermissions(const std::wstring &folder)
{
    std::vector<Object> objects;
    AddChain(folder, lock_rule::Role::Folder, &objects);
    // Every file directly in the program's folder, each as the installer
    // locks it; not the vendor's subfolders, which it leaves as they are.
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((folder + L"*").c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found))
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            objects.push_back({folder + found.cFileName, lock_rule::RoleOfFile(Narrow(found.cFileName).c_str())});
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    AddChain(Wide(WaveformPath), lock_rule::Role::Waveform, &objects);
    std::vector<Object> present;
    for (const Object &o : objects)
        if (GetFileAttributesW(o.path.c_str()) != INVALID_FILE_ATTRIBUTES) present.push_back(o);  // nothing there to change
    std::vector<PathSecurity> out;
    for (const Object &o : present) {
        out.push_back(ReadSecurity(o.path, o.role));
        // What holds an object is there too: it comes before it in its chain.
        const size_t slash = o.path.rfind(L'\\');
        const std::wstring holder = o.path.size() == 3 ? L"" : o.path.substr(0, slash == 2 ? 3 : slash);
        for (size_t i = 0; i < present.size() && !holder.empty(); ++i)
            if (present[i].path == holder) out.back().parent = static_cast<int>(i);
    }
    return out;
}

TimeService ReadTimeService(unsigned build)
{
    TimeService s;
    s.build = build;
    const SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    const SC_HANDLE service = manager == nullptr ? nullptr : OpenServiceW(manager, L"W32Time", SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
    SERVICE_STATUS status;
    if (service != nullptr && QueryServiceStatus(service, &status)) {
        s.state = status.dwCurrentState == SERVICE_RUNNING ? TimeService::Running : TimeService::Stopped;
        alignas(QUERY_SERVICE_CONFIGW) BYTE config[8192];
        DWORD needed = 0;
        if (QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW *>(config), sizeof config, &needed))
            s.start_type = reinterpret_cast<QUERY_SERVICE_CONFIGW *>(config)->dwStartType;
        // SERVICE_CONFIG_TRIGGER_INFO (8) and its SERVICE_TRIGGER_INFO,
        // Windows 7 and later, which MinGW declares only for a build that
        // targets them: the count is the first member.
        alignas(void *) BYTE triggers[8192];
        if (QueryServiceConfig2W(service, 8, triggers, sizeof triggers, &needed))
            s.trigger_start = *reinterpret_cast<DWORD *>(triggers) > 0;
    } else {
        s.error = GetLastError();
        s.state = s.error == ERROR_SERVICE_DOES_NOT_EXIST ? TimeService::Missing : TimeService::Unreadable;
    }
    if (service != nullptr) CloseServiceHandle(service);
    if (manager != nullptr) CloseServiceHandle(manager);
    const wchar_t *w32time = L"SYSTEM\\CurrentControlSet\\Services\\W32Time\\";
    RegString((std::wstring(w32time) + L"Parameters").c_str(), L"Type", &s.type);
    RegString((std::wstring(w32time) + L"Parameters").c_str(), L"NtpServer", &s.ntp_server);
    s.poll_read = RegDword((std::wstring(w32time) + L"Config").c_str(), L"MinPollInterval", &s.min_poll) &&
                  RegDword((std::wstring(w32time) + L"Config").c_str(), L"MaxPollInterval", &s.max_poll) &&
                  RegDword((std::wstring(w32time) + L"TimeProviders\\NtpClient").c_str(), L"SpecialPollInterval", &s.special_poll);
    return s;
}

Power ReadPower()
{
    Power p;
    // Found at run time: Wine's powrprof does not export
    // PowerReadACValueIndex, and the check must still start there.
    using Active = DWORD(WINAPI *)(HKEY, GUID **);
    using ReadAc = DWORD(WINAPI *)(HKEY, const GUID *, const GUID *, const GUID *, DWORD *);
    const Active active = Find<Active>(L"powrprof.dll", "PowerGetActiveScheme");
    const ReadAc read = Find<ReadAc>(L"powrprof.dll", "PowerReadACValueIndex");
    GUID *scheme = nullptr;
    if (active == nullptr || read == nullptr) {
        p.why = "powrprof.dll has no PowerReadACValueIndex";
        return p;
    }
    if (active(nullptr, &scheme) != ERROR_SUCCESS) {
        p.why = "no active power scheme";
        return p;
    }
    static const GUID Sleep = {0x238c9fa8, 0x0aad, 0x41ed, {0x83, 0xf4, 0x97, 0xbe, 0x24, 0x2c, 0x8f, 0x20}};
    static const GUID Standby = {0x29f6c1db, 0x86da, 0x48c5, {0x9f, 0xdb, 0xf2, 0xb6, 0x7b, 0x1f, 0x44, 0xda}};
    static const GUID Hibernate = {0x9d7815a6, 0x7ee4, 0x497e, {0x88, 0x88, 0x51, 0x5a, 0x05, 0xf0, 0x23, 0x64}};
    static const GUID Usb = {0x2a737441, 0x1930, 0x4402, {0x8d, 0x77, 0xb2, 0xbe, 0xbb, 0xa3, 0x08, 0xa3}};
    static const GUID Suspend = {0x48e6b7a6, 0x50f5, 0x4782, {0xa5, 0xd4, 0x53, 0xbb, 0x8f, 0x07, 0xe2, 0x26}};
    DWORD value = 0;
    p.readable = read(nullptr, scheme, &Sleep, &Standby, &value) == ERROR_SUCCESS;
    p.sleep = value;
    value = 0;
    p.readable = read(nullptr, scheme, &Sleep, &Hibernate, &value) == ERROR_SUCCESS && p.readable;
    p.hibernate = value;
    value = 0;
    p.usb_read = read(nullptr, scheme, &Usb, &Suspend, &value) == ERROR_SUCCESS;
    p.usb_suspend = value;
    if (!p.readable) p.why = "the sleep settings cannot be read";
    LocalFree(scheme);
    // Group Policy writes its own values under Policies, which win over
    // the plan's.
    unsigned long ignored;
    const std::wstring policies = L"SOFTWARE\\Policies\\Microsoft\\Power\\PowerSettings\\";
    p.sleep_policy = RegDword((policies + L"29F6C1DB-86DA-48C5-9FDB-F2B67B1F44DA").c_str(), L"ACSettingIndex", &ignored);
    p.hibernate_policy = RegDword((policies + L"9D7815A6-7EE4-497E-8888-515A05F02364").c_str(), L"ACSettingIndex", &ignored);
    p.usb_policy = RegDword((policies + L"48E6B7A6-50F5-4782-A5D4-53BB8F07E226").c_str(), L"ACSettingIndex", &ignored);
    return p;
}

AutoLogon ReadAutoLogon(const std::string &kind)
{
    AutoLogon l;
    l.task_kind = kind;
    const wchar_t *winlogon = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    HKEY k;
    l.readable = RegOpenKeyExW(HKEY_LOCAL_MACHINE, winlogon, 0, KEY_READ | KEY_WOW64_64KEY, &k) == ERROR_SUCCESS;
    if (!l.readable) return l;
    RegCloseKey(k);
    RegString(winlogon, L"AutoAdminLogon", &l.auto_admin_logon);
    RegString(winlogon, L"DefaultUserName", &l.user);
    l.count_set = RegDword(winlogon, L"AutoLogonCount", &l.count);
    return l;
}

UpdatePolicy ReadUpdatePolicy()
{
    UpdatePolicy u;
    const wchar_t *update = L"SOFTWARE\\Policies\\Microsoft\\Windows\\WindowsUpdate";
    const wchar_t *au = L"SOFTWARE\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU";
    u.drivers_set = RegDword(update, L"ExcludeWUDriversInQualityUpdate", &u.exclude_drivers);
    u.reboot_set = RegDword(au, L"NoAutoRebootWithLoggedOnUsers", &u.no_reboot);
    u.options_set = RegDword(au, L"AUOptions", &u.au_options);
    return u;
}

}  // namespace

Findings CheckThisMachine()
{
    const std::wstring folder = OwnFolder();
    const bool elevated = Elevated(), wine = UnderWine();
    Findings out;
    SYSTEMTIME today;
    GetSystemTime(&today);
    const WindowsVersion windows = ReadWindows();
    out.push_back(JudgeWindows(windows, today.wYear * 10000 + today.wMonth * 100 + today.wDay));
    const std::wstring program = folder + L"minute-trigger.exe";
    out.push_back(JudgeProgramBeside(Narrow(program.c_str()), GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES));
    out.push_back(JudgeDeviceDll(ReadDll(folder)));
    out.push_back(JudgeWaveform(ReadWaveform()));

    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const Task task = ReadTask(folder, elevated, wine);
    CoUninitialize();
    for (const Finding &f : JudgeTask(task)) out.push_back(f);
    out.push_back(JudgeRunning(ReadRunning(folder, elevated)));
    out.push_back(JudgeLastTrigger(ReadLog(folder), "schtasks /Run /TN minute-trigger; the lines before it in the log say why none came"));

    std::wstring bare = folder;
    bare.pop_back();
    for (const Finding &f : JudgePermissions(ReadPermissions(folder), Narrow(bare.c_str()), wine)) out.push_back(f);

    ClockSync sync;
    ReadClockSync(&sync);
    for (const Finding &f : JudgeTimeService(ReadTimeService(windows.build), sync)) out.push_back(f);
    out.push_back(JudgeClockLine(sync, "", "w32tm /resync, then keep Windows Time correcting: see \"Keeping the clock on UTC\" in INSTALL.txt"));
    for (const Finding &f : JudgePower(ReadPower())) out.push_back(f);
    out.push_back(JudgeAutoLogon(ReadAutoLogon(TaskKind(task))));
    for (const Finding &f : JudgeUpdatePolicy(ReadUpdatePolicy())) out.push_back(f);
    return out;
}
