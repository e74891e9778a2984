// What minute-trigger-check reads on Windows, asking for read access only:
// Windows' version, the files beside this check (the program's folder), the
// task through the Task Scheduler's COM interface, the processes, the
// permissions of each object on the program's way, as SDDL, Windows Time, the power plan and
// the registry's policies. Every registry read takes the 64-bit view
// (KEY_WOW64_64KEY): a 32-bit process on 64-bit Windows would otherwise
// read the 32-bit copy of SOFTWARE, which holds none of these values; but
// for the package's own key, in the package's width's view, as this check's.
#include <windows.h>

#include <accctrl.h>
#include <aclapi.h>
#include <lm.h>
#include <sddl.h>
#include <taskschd.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>

#include "platform.h"
#include "read.h"
#include "sntp.h"
#include "layout.h"

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
std::wstring Wide(const char *ascii)
{
    return std::wstring(ascii, ascii + strlen(ascii));
}
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

// From System32 alone, the DLL and all it imports: the default search tries
// this check's own folder first, the folder whose permissions it reports,
// and administrators run it elevated. (Windows 7 has the flag from update
// KB2533623 on; without it the load fails, and the line goes unread.)
template <typename F>
F Find(const wchar_t *module, const char *name)
{
    HMODULE m = GetModuleHandleW(module);
    if (m == nullptr) m = LoadLibraryExW(module, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
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
    if (!d.bytes.empty() && ReadFile(file, d.bytes.data(), static_cast<DWORD>(d.bytes.size()), &read, nullptr))
        d.bytes.resize(read);
    CloseHandle(file);
    // Where Windows looks for its imports, besides the program's folder: the
    // system folder of the program's width (SysWOW64 for a 32-bit one on
    // 64-bit Windows), and the API sets it resolves itself.
    wchar_t system[MAX_PATH] = L"";
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    if (!(wow64 ? GetSystemWow64DirectoryW(system, MAX_PATH) : GetSystemDirectoryW(system, MAX_PATH))) return d;
    d.system_folder = Narrow(system);
    for (const std::string &name : PeImports(d.bytes)) {
        std::wstring wide(name.begin(), name.end());
        if (Lower(wide).rfind(L"api-ms-", 0) == 0 || Lower(wide).rfind(L"ext-ms-", 0) == 0) continue;
        if (GetFileAttributesW((folder + wide).c_str()) == INVALID_FILE_ATTRIBUTES &&
            GetFileAttributesW((std::wstring(system) + L"\\" + wide).c_str()) == INVALID_FILE_ATTRIBUTES)
            d.missing_imports.push_back(name);
    }
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
    SYSTEMTIME local;
    GetLocalTime(&local);
    char now[24];
    snprintf(now, sizeof now, "%04u-%02u-%02uT%02u:%02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
             local.wMinute, local.wSecond);
    t.now = now;
    t.elevated = elevated, t.wine = wine;
    ITaskService *service = nullptr;
    ITaskFolder *root = nullptr;
    IRegisteredTask *task = nullptr;
    HRESULT hr = CoCreateInstance(__uuidof(TaskScheduler), nullptr, CLSCTX_INPROC_SERVER, __uuidof(ITaskService),
                                  reinterpret_cast<void **>(&service));
    VARIANT none;
    VariantInit(&none);
    BSTR name = SysAllocString(L"\\");
    BSTR task_name = SysAllocString(WIDE(LAYOUT_TASK_NAME));
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
    if (SUCCEEDED(hr))
        t.state = Task::Registered;
    else if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
        t.state = Task::NotFound;
    else if (hr == E_ACCESSDENIED)
        t.state = Task::Denied;
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
        if (p.name.rfind(L"minute-trigger", 0) != 0 || p.name == WIDE(LAYOUT_CHECK)) continue;
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
        // A cmd.exe above it, within layout.h's bound for the launcher.
        DWORD up = p.parent;
        for (int level = 0; level < kLauncherLevels && processes.count(up) != 0; ++level, up = processes[up].parent)
            r.launcher = r.launcher || processes[up].name == WIDE(LAYOUT_LAUNCHER_SHELL);
    }
    return r;
}

// Where the launcher writes its log: beside itself, or, where that cannot be
// written (the logon task's, in the locked folder), in the profile of the
// user it runs as, who need not be the one running this check (a standard
// user's task, checked as an administrator): every profile's.
std::vector<std::wstring> LogPlaces(const std::wstring &folder)
{
    const wchar_t *const own = L"\\" WIDE(LAYOUT_LOG_IN_LOCAL_APPDATA);
    std::vector<std::wstring> places = {folder + WIDE(LAYOUT_LOG)};
    wchar_t data[MAX_PATH] = L"";
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", data, MAX_PATH);
    if (length > 0 && length < MAX_PATH) places.push_back(data + std::wstring(own));
    const wchar_t *list = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    HKEY k;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, list, 0, KEY_READ | KEY_WOW64_64KEY, &k) != ERROR_SUCCESS) return places;
    wchar_t sid[256];
    for (DWORD i = 0, size = 256; RegEnumKeyExW(k, i, sid, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, size = 256) {
        // ProfileImagePath is REG_EXPAND_SZ: %SystemDrive%\Users\lab.
        wchar_t image[MAX_PATH], path[MAX_PATH];
        DWORD bytes = sizeof image - sizeof(wchar_t);
        if (RegGetValueW(k, sid, L"ProfileImagePath", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr,
                         image, &bytes) != ERROR_SUCCESS)
            continue;
        const DWORD n = ExpandEnvironmentStringsW(image, path, MAX_PATH);
        if (n == 0 || n > MAX_PATH) continue;
        const std::wstring place = path + std::wstring(L"\\" WIDE(LAYOUT_LOCAL_APPDATA_IN_PROFILE)) + own;
        bool known = false;
        for (const std::wstring &p : places) known = known || Lower(p) == Lower(place);
        if (!known) places.push_back(place);
    }
    RegCloseKey(k);
    return places;
}

LastTrigger ReadLog(const std::wstring &folder, bool elevated)
{
    LastTrigger last;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    last.now = static_cast<int64_t>((ULARGE_INTEGER{{now.dwLowDateTime, now.dwHighDateTime}}.QuadPart / 10000000) -
                                    11644473600LL);
    // The newest is the one in use.
    const std::vector<std::wstring> places = LogPlaces(folder);
    std::wstring log;
    ULONGLONG newest = 0;
    int found = 0, denied = 0;
    for (const std::wstring &candidate : places) {
        WIN32_FILE_ATTRIBUTE_DATA a;
        if (!GetFileAttributesExW(candidate.c_str(), GetFileExInfoStandard, &a)) {
            denied += GetLastError() == ERROR_ACCESS_DENIED;
            continue;
        }
        ++found;
        const ULONGLONG written =
            ULARGE_INTEGER{{a.ftLastWriteTime.dwLowDateTime, a.ftLastWriteTime.dwHighDateTime}}.QuadPart;
        if (log.empty() || written > newest) log = candidate, newest = written;
    }
    const std::string unseen =
        denied > 0 && !elevated ? ", other users' profiles unseen: run this check as administrator" : "";
    if (log.empty()) {
        last.readable = false;
        last.where = "the launcher's log";
        const size_t profiles = places.size() - 1;
        last.why = "none beside the launcher, nor in " +
                   (profiles == 1 ? std::string("the one profile") : std::to_string(profiles) + " profiles") +
                   " looked in" + unseen;
        last.how = denied > 0 && !elevated ? "run this check from a Command Prompt opened as administrator"
                                           : "the launcher writes it once started: schtasks /Run /TN " LAYOUT_TASK_NAME;
        return last;
    }
    last.where =
        Narrow(log.c_str()) + (found > 1 ? " (the newest of " + std::to_string(found) + " logs)" : "") + unseen;
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
    FindLastTrigger(tail, &last);
    return last;
}

PathSecurity ReadSecurity(const std::wstring &path, lock_rule::Role role)
{
    PathSecurity p;
    p.path = Narrow(path.c_str());
    p.role = role;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    PSECURITY_DESCRIPTOR sd = nullptr;
    const DWORD got =
        GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, what, nullptr, nullptr, nullptr, nullptr, &sd);
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
        if (GetFileAttributesW(o.path.c_str()) != INVALID_FILE_ATTRIBUTES)
            present.push_back(o);  // nothing there to change
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

// Unlike the other keys, read in this check's own width's view: the
// package's step, of the same width, saved them there.
SavedPermissions ReadSaved()
{
    SavedPermissions s;
    HKEY k;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, WIDE(LAYOUT_SAVED_KEY), 0, KEY_READ, &k);
    if (opened == ERROR_FILE_NOT_FOUND) return s;
    if (opened != ERROR_SUCCESS) {
        s.readable = false, s.error = static_cast<unsigned long>(opened);
        return s;
    }
    // A path and two descriptors of at most 8192 characters each.
    std::vector<wchar_t> data(32768);
    wchar_t name[64];
    for (DWORD i = 0;; ++i) {
        DWORD length = 64, bytes = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t)), type = 0;
        const LONG read =
            RegEnumValueW(k, i, name, &length, nullptr, &type, reinterpret_cast<BYTE *>(data.data()), &bytes);
        if (read == ERROR_NO_MORE_ITEMS) break;
        if (read != ERROR_SUCCESS) {
            s.readable = false, s.error = static_cast<unsigned long>(read);
            break;
        }
        if (type != REG_SZ) continue;
        data[bytes / sizeof(wchar_t)] = L'\0';
        s.values.push_back(Narrow(data.data()));
    }
    RegCloseKey(k);
    return s;
}

TimeService ReadTimeService(unsigned build)
{
    TimeService s;
    s.build = build;
    const SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    const SC_HANDLE service =
        manager == nullptr ? nullptr : OpenServiceW(manager, L"W32Time", SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
    SERVICE_STATUS status;
    if (service != nullptr && QueryServiceStatus(service, &status)) {
        s.state = status.dwCurrentState == SERVICE_RUNNING ? TimeService::Running : TimeService::Stopped;
        alignas(QUERY_SERVICE_CONFIGW) BYTE config[8192];
        DWORD needed = 0;
        if (QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW *>(config), sizeof config, &needed))
            s.start_type = reinterpret_cast<QUERY_SERVICE_CONFIGW *>(config)->dwStartType;
        // SERVICE_CONFIG_TRIGGER_INFO (8) and its SERVICE_TRIGGER_INFO,
        // Windows 7 and later, which MinGW declares only for a build that
        // targets them: laid out here as there, its pointers into the buffer.
        struct Trigger {
            DWORD type, action;
            const GUID *subtype;
            DWORD items;
            void *data;
        };
        struct Triggers {
            DWORD count;
            const Trigger *triggers;
            BYTE *reserved;
        };
        alignas(void *) BYTE triggers[8192];
        if (QueryServiceConfig2W(service, 8, triggers, sizeof triggers, &needed)) {
            const auto *info = reinterpret_cast<const Triggers *>(triggers);
            for (DWORD i = 0; i < info->count; ++i) {
                ServiceTrigger t;
                t.start = info->triggers[i].action == 1;  // SERVICE_TRIGGER_ACTION_SERVICE_START
                t.type = info->triggers[i].type;
                if (const GUID *g = info->triggers[i].subtype) {
                    char text[40];
                    snprintf(text, sizeof text, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                             static_cast<unsigned long>(g->Data1), g->Data2, g->Data3, g->Data4[0], g->Data4[1],
                             g->Data4[2], g->Data4[3], g->Data4[4], g->Data4[5], g->Data4[6], g->Data4[7]);
                    t.subtype = text;
                }
                s.triggers.push_back(t);
            }
        }
    } else {
        s.error = GetLastError();
        s.state = s.error == ERROR_SERVICE_DOES_NOT_EXIST ? TimeService::Missing : TimeService::Unreadable;
    }
    if (service != nullptr) CloseServiceHandle(service);
    if (manager != nullptr) CloseServiceHandle(manager);
    // Each value the service's own, unless Group Policy sets it, which then
    // wins over it and over any change made there.
    const std::wstring own = L"SYSTEM\\CurrentControlSet\\Services\\W32Time\\",
                       policy = L"SOFTWARE\\Policies\\Microsoft\\W32Time\\";
    auto text = [&](const wchar_t *key, const wchar_t *name, std::string *out) {
        const bool set = RegString((policy + key).c_str(), name, out);
        s.policy = s.policy || set;
        return set || RegString((own + key).c_str(), name, out);
    };
    auto number = [&](const wchar_t *key, const wchar_t *name, unsigned long *out) {
        const bool set = RegDword((policy + key).c_str(), name, out);
        s.policy = s.policy || set;
        return set || RegDword((own + key).c_str(), name, out);
    };
    text(L"Parameters", L"Type", &s.type);
    text(L"Parameters", L"NtpServer", &s.ntp_server);
    const bool least = number(L"Config", L"MinPollInterval", &s.min_poll);
    const bool most = number(L"Config", L"MaxPollInterval", &s.max_poll);
    s.poll_read = number(L"TimeProviders\\NtpClient", L"SpecialPollInterval", &s.special_poll) && least && most;
    // Found at run time, as the power calls are: netapi32 is no import of
    // this check's.
    using Join = DWORD(WINAPI *)(const wchar_t *, wchar_t **, int *);
    using Free = DWORD(WINAPI *)(void *);
    const Join join = Find<Join>(L"netapi32.dll", "NetGetJoinInformation");
    const Free free_buffer = Find<Free>(L"netapi32.dll", "NetApiBufferFree");
    wchar_t *name = nullptr;
    int joined = 0;
    if (join != nullptr && join(nullptr, &name, &joined) == 0) {
        s.domain = joined == 3;  // NetSetupDomainName
        if (free_buffer != nullptr) free_buffer(name);
    }
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
    p.sleep.read = read(nullptr, scheme, &Sleep, &Standby, &value) == ERROR_SUCCESS;
    p.sleep.plan = value;
    value = 0;
    p.hibernate.read = read(nullptr, scheme, &Sleep, &Hibernate, &value) == ERROR_SUCCESS;
    p.hibernate.plan = value;
    value = 0;
    p.usb_suspend.read = read(nullptr, scheme, &Usb, &Suspend, &value) == ERROR_SUCCESS;
    p.usb_suspend.plan = value;
    p.readable = p.sleep.read && p.hibernate.read;
    if (!p.readable) p.why = "the sleep settings cannot be read";
    LocalFree(scheme);
    // Group Policy writes its own values under Policies, which win over
    // the plan's.
    const std::wstring policies = L"SOFTWARE\\Policies\\Microsoft\\Power\\PowerSettings\\";
    p.sleep.policy_set =
        RegDword((policies + L"29F6C1DB-86DA-48C5-9FDB-F2B67B1F44DA").c_str(), L"ACSettingIndex", &p.sleep.policy);
    p.hibernate.policy_set =
        RegDword((policies + L"9D7815A6-7EE4-497E-8888-515A05F02364").c_str(), L"ACSettingIndex", &p.hibernate.policy);
    p.usb_suspend.policy_set = RegDword((policies + L"48E6B7A6-50F5-4782-A5D4-53BB8F07E226").c_str(), L"ACSettingIndex",
                                        &p.usb_suspend.policy);
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
    // The account's password, if it is a local account: found at run time,
    // as netapi32 is no import of this check's. USER_INFO_1's age and flags,
    // USER_MODALS_INFO_0's longest age, all in seconds.
    using GetUser = DWORD(WINAPI *)(const wchar_t *, const wchar_t *, DWORD, BYTE **);
    using GetModals = DWORD(WINAPI *)(const wchar_t *, DWORD, BYTE **);
    using Free = DWORD(WINAPI *)(void *);
    const GetUser get_user = Find<GetUser>(L"netapi32.dll", "NetUserGetInfo");
    const GetModals get_modals = Find<GetModals>(L"netapi32.dll", "NetUserModalsGet");
    const Free free_buffer = Find<Free>(L"netapi32.dll", "NetApiBufferFree");
    BYTE *user = nullptr, *modals = nullptr;
    const std::wstring name(l.user.begin(), l.user.end());
    if (get_user != nullptr && get_modals != nullptr && free_buffer != nullptr && !l.user.empty() &&
        get_user(nullptr, name.c_str(), 1, &user) == 0 && get_modals(nullptr, 0, &modals) == 0) {
        const auto *info = reinterpret_cast<const USER_INFO_1 *>(user);
        const DWORD lasts = reinterpret_cast<const USER_MODALS_INFO_0 *>(modals)->usrmod0_max_passwd_age;
        l.password_read = true;
        l.password_age = info->usri1_password_age / 86400;
        l.password_lasts = (info->usri1_flags & UF_DONT_EXPIRE_PASSWD) || lasts == TIMEQ_FOREVER ? 0 : lasts / 86400;
    }
    if (user != nullptr) free_buffer(user);
    if (modals != nullptr) free_buffer(modals);
    return l;
}

UpdatePolicy ReadUpdatePolicy(unsigned build)
{
    UpdatePolicy u;
    u.build = build;
    u.search_order_set = RegDword(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\DriverSearching",
                                  L"SearchOrderConfig", &u.search_order);
    const wchar_t *update = L"SOFTWARE\\Policies\\Microsoft\\Windows\\WindowsUpdate";
    const wchar_t *au = L"SOFTWARE\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU";
    u.drivers_set = RegDword(update, L"ExcludeWUDriversInQualityUpdate", &u.exclude_drivers);
    u.reboot_set = RegDword(au, L"NoAutoRebootWithLoggedOnUsers", &u.no_reboot);
    u.options_set = RegDword(au, L"AUOptions", &u.au_options);
    return u;
}

// How many of the System log's events match `select` (within its
// System[...]); -1 where the log cannot be read. wevtapi is found at run
// time: Windows 7's and later, no import of this check's.
int CountEvents(const std::wstring &select)
{
    using Query = HANDLE(WINAPI *)(HANDLE, const wchar_t *, const wchar_t *, DWORD);
    using Next = BOOL(WINAPI *)(HANDLE, DWORD, HANDLE *, DWORD, DWORD, DWORD *);
    using Close = BOOL(WINAPI *)(HANDLE);
    const Query query = Find<Query>(L"wevtapi.dll", "EvtQuery");
    const Next next = Find<Next>(L"wevtapi.dll", "EvtNext");
    const Close close = Find<Close>(L"wevtapi.dll", "EvtClose");
    if (query == nullptr || next == nullptr || close == nullptr) return -1;
    const std::wstring xpath = L"*[System[" + select + L"]]";
    const HANDLE results = query(nullptr, L"System", xpath.c_str(), 1);  // EvtQueryChannelPath
    if (results == nullptr) return -1;
    int count = 0;
    HANDLE events[64];
    DWORD got = 0;
    while (next(results, 64, events, 1000, 0, &got)) {
        count += static_cast<int>(got);
        for (DWORD i = 0; i < got; ++i) close(events[i]);
    }
    const bool whole = GetLastError() == ERROR_NO_MORE_ITEMS;
    close(results);
    return whole ? count : -1;
}

Events ReadEvents()
{
    const std::wstring week = L" and TimeCreated[timediff(@SystemTime) <= 604800000]",
                       month = L" and TimeCreated[timediff(@SystemTime) <= 2592000000]",
                       time = L"Provider[@Name='Microsoft-Windows-Time-Service'] and EventID=";
    Events e;
    e.not_synchronised = CountEvents(time + L"36" + week);
    e.no_response = CountEvents(time + L"47" + week);
    e.no_domain = CountEvents(time + L"11" + week);
    e.unexpected = CountEvents(L"Provider[@Name='EventLog'] and EventID=6008" + month);
    e.asked = CountEvents(L"Provider[@Name='User32'] and EventID=1074" + month);
    return e;
}

// What more than one item reads, read once.
struct Machine {
    std::wstring folder;  // this check's, ending in a backslash: the program's
    bool elevated = false, wine = false;
    WindowsVersion windows;
    Task task;
    ClockSync sync;
    TimeService time_service;
};

Findings One(const Finding &f)
{
    return {f};
}

// One row per item of the report, in the order printed: its name, and what
// it reads and how that is judged.
struct Item {
    const char *name;
    Findings (*check)(const Machine &m);
};
const Item Items[] = {
    {"Windows",
     [](const Machine &m) {
         SYSTEMTIME today;
         GetSystemTime(&today);
         return One(JudgeWindows(m.windows, today.wYear * 10000 + today.wMonth * 100 + today.wDay));
     }},
    {"program",
     [](const Machine &m) {
         const std::wstring program = m.folder + WIDE(LAYOUT_PROGRAM);
         return One(JudgeProgramBeside(Narrow(program.c_str()),
                                       GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES));
     }},
    {"device library", [](const Machine &m) { return One(JudgeDeviceDll(ReadDll(m.folder))); }},
    {"waveform file", [](const Machine &) { return One(JudgeWaveform(ReadWaveform())); }},
    {"task", [](const Machine &m) { return JudgeTask(m.task); }},
    {"running now", [](const Machine &m) { return One(JudgeRunning(ReadRunning(m.folder, m.elevated))); }},
    {"last trigger",
     [](const Machine &m) {
         return One(JudgeLastTrigger(
             ReadLog(m.folder, m.elevated),
             "schtasks /Run /TN " LAYOUT_TASK_NAME "; the lines before it in the log say why none came",
             "end the program, from a Command Prompt opened as administrator: taskkill /F /IM " LAYOUT_PROGRAM
             "; "
             "the launcher starts it again 10 s later, which opens the device anew; refused again: "
             "the device's USB cable and power"));
     }},
    {"permissions",
     [](const Machine &m) {
         const std::wstring bare = m.folder.substr(0, m.folder.size() - 1);
         return JudgePermissions(ReadPermissions(m.folder), Narrow(bare.c_str()), m.wine);
     }},
    {"before the install", [](const Machine &m) { return JudgeSavedBefore(ReadSaved(), Narrow(m.folder.c_str())); }},
    {"Windows Time", [](const Machine &m) { return JudgeTimeService(m.time_service, m.sync); }},
    {"clock",
     [](const Machine &m) {
         // The first time server Windows Time is set to, flags and all after it.
         const std::string server = m.time_service.ntp_server.substr(0, m.time_service.ntp_server.find_first_of(", "));
         ClockOffset offset;
         if (server.empty())
             offset.why = "no time server set for Windows Time";
         else
             offset = QuerySntp(server);
         return JudgeWindowsClock(m.sync, offset, m.time_service);
     }},
    {"power", [](const Machine &) { return JudgePower(ReadPower()); }},
    {"Fast Startup",
     [](const Machine &m) {
         FastStartup fast;
         fast.task_kind = TaskKind(m.task);
         unsigned long value = 0;
         fast.hiberboot =
             RegDword(L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Power", L"HiberbootEnabled", &value) &&
             value == 1;
         value = 0;
         // HibernateEnabled once set, else the default Windows chose.
         const wchar_t *power = L"SYSTEM\\CurrentControlSet\\Control\\Power";
         fast.hibernate =
             (RegDword(power, L"HibernateEnabled", &value) || RegDword(power, L"HibernateEnabledDefault", &value)) &&
             value == 1;
         return One(JudgeFastStartup(fast));
     }},
    {"automatic logon", [](const Machine &m) { return One(JudgeAutoLogon(ReadAutoLogon(TaskKind(m.task)))); }},
    {"Windows Update", [](const Machine &m) { return JudgeUpdatePolicy(ReadUpdatePolicy(m.windows.build)); }},
    {"events", [](const Machine &) { return JudgeEvents(ReadEvents()); }},
};

}  // namespace

Findings CheckThisMachine()
{
    Machine m;
    m.folder = OwnFolder();
    m.elevated = Elevated(), m.wine = UnderWine();
    m.windows = ReadWindows();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    m.task = ReadTask(m.folder, m.elevated, m.wine);
    CoUninitialize();
    ReadClockSync(&m.sync);
    m.time_service = ReadTimeService(m.windows.build);
    Findings out;
    for (const Item &item : Items)
        for (const Finding &f : item.check(m)) out.push_back(f);
    return out;
}
