// A simulated waveform generator, built as the device library so the program
// can run and be tested without hardware. It is strict where a real device
// would misbehave (calls out of order, identifiers it never handed out), can
// be told to fail any entry, and logs every call as it happens.
//
//   AWG10K_SIM_DEVICES  the count it reports (default 1)
//   AWG10K_SIM_FAIL     entries that fail: count,open,load,close,trigger
//   AWG10K_SIM_LOG      file to which each call appends one line
#include "AWG10K.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

const int32_t Ok = 0;
const int32_t Failed = -1;
const uint8_t TheDeviceID = 1;

enum Entry { Count, Open, Load, Close, Trigger, EntryCount };
const char *const EntryNames[EntryCount] = {"count", "open", "load", "close", "trigger"};

struct Simulator {
    bool configured = true;  // false: a variable was malformed, so the count entry fails
    int32_t devices = 1;
    bool fails[EntryCount] = {};
    int log = -1;
    bool open = false;
    bool loaded = false;
};

void Complain(const char *name, const char *value, const char *why)
{
    fprintf(stderr, "AWG10K simulator: %s=\"%s\": %s\n", name, value, why);
}

bool ParseFailList(const char *list, bool *fails)
{
    const char *p = list;
    while (*p != '\0') {
        const size_t n = strcspn(p, ",");
        int found = -1;
        for (int e = 0; e < EntryCount; ++e) {
            if (n == strlen(EntryNames[e]) && strncmp(p, EntryNames[e], n) == 0) found = e;
        }
        if (found < 0 && n > 0) {
            Complain("AWG10K_SIM_FAIL", list, "entries are count, open, load, close, trigger, comma-separated");
            return false;
        }
        if (found >= 0) fails[found] = true;
        p += n;
        if (*p == ',') ++p;
    }
    return true;
}

Simulator Configure()
{
    Simulator sim;
    if (const char *count = getenv("AWG10K_SIM_DEVICES")) {
        char *end = nullptr;
        errno = 0;
        const long n = strtol(count, &end, 10);
        if (*count == '\0' || *end != '\0' || errno != 0 || n < 0 || n > 255) {
            Complain("AWG10K_SIM_DEVICES", count, "the device count must be a whole number from 0 to 255");
            sim.configured = false;
        }
        sim.devices = static_cast<int32_t>(n);
    }
    if (const char *list = getenv("AWG10K_SIM_FAIL")) {
        if (!ParseFailList(list, sim.fails)) sim.configured = false;
    }
    if (const char *path = getenv("AWG10K_SIM_LOG")) {
#ifdef _WIN32
        sim.log = _open(path, _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        sim.log = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
#endif
        if (sim.log < 0) {
            Complain("AWG10K_SIM_LOG", path, strerror(errno));
            sim.configured = false;
        }
    }
    return sim;
}

Simulator &State()
{
    static Simulator sim = Configure();
    return sim;
}

struct Stamp {
    int64_t seconds;
    long nanoseconds;
};

#ifdef _WIN32
using SystemTimeReader = void(WINAPI *)(LPFILETIME);

// The precise clock where Windows has it (8 and later); elsewhere (7) the
// tick-grained one, so the simulated DLL still loads there.
SystemTimeReader SystemTime()
{
    static const SystemTimeReader reader = [] {
        const FARPROC precise = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime");
        return precise != nullptr ? reinterpret_cast<SystemTimeReader>(reinterpret_cast<void (*)()>(precise))
                                  : &GetSystemTimeAsFileTime;
    }();
    return reader;
}
#endif

Stamp Now()
{
#ifdef _WIN32
    // 100 ns ticks since 1601-01-01.
    FILETIME ft;
    SystemTime()(&ft);
    const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    const uint64_t since1970 = ticks - 116444736000000000ULL;
    return {static_cast<int64_t>(since1970 / 10000000), static_cast<long>(since1970 % 10000000 * 100)};
#else
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return {now.tv_sec, now.tv_nsec};
#endif
}

// One line per call, written whole and at once, so a killed process leaves a
// log that says everything it did.
void Log(const Stamp &at, Entry entry, const char *args, int32_t status)
{
    const Simulator &sim = State();
    if (sim.log < 0) return;
    std::tm utc{};
#ifdef _WIN32
    const __time64_t t = at.seconds;
    _gmtime64_s(&utc, &t);
#else
    const time_t t = static_cast<time_t>(at.seconds);
    gmtime_r(&t, &utc);
#endif
    char line[512];
    const int n = snprintf(line, sizeof line, "%04d-%02d-%02dT%02d:%02d:%02d.%09ldZ %s%s%s status=%d\n",
                           utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                           at.nanoseconds, EntryNames[entry], *args ? " " : "", args, static_cast<int>(status));
    if (n > 0) {
        const unsigned size = n < static_cast<int>(sizeof line) ? n : sizeof line - 1;
#ifdef _WIN32
        (void)_write(sim.log, line, size);
#else
        (void)!write(sim.log, line, size);
#endif
    }
}

int32_t Finish(const Stamp &at, Entry entry, const char *args, bool refused)
{
    const int32_t status = refused || State().fails[entry] ? Failed : Ok;
    Log(at, entry, args, status);
    return status;
}

}  // namespace

extern "C" {

int32_t AWG10K_CALL AWG10K_GetNumberOfDevices(int32_t *Number)
{
    const Stamp at = Now();
    Simulator &sim = State();
    if (Number != nullptr && sim.configured) *Number = sim.devices;
    char args[32] = "";
    if (sim.configured) snprintf(args, sizeof args, "devices=%d", static_cast<int>(sim.devices));
    return Finish(at, Count, args, Number == nullptr || !sim.configured);
}

int32_t AWG10K_CALL AWG10K_Open(uint8_t *DeviceID)
{
    const Stamp at = Now();
    Simulator &sim = State();
    const bool refused = DeviceID == nullptr || sim.devices == 0 || sim.open;
    const int32_t status = refused || sim.fails[Open] ? Failed : Ok;
    if (status == Ok) {
        *DeviceID = TheDeviceID;
        sim.open = true;
    }
    Log(at, Open, status == Ok ? "id=1" : "", status);
    return status;
}

int32_t AWG10K_CALL AWG10K_SetFile(uint32_t DeviceID, char *FilePath)
{
    const Stamp at = Now();
    Simulator &sim = State();
    if (FilePath != nullptr) {
        // The path is the caller's buffer, and a library may write into it:
        // one handed a read-only literal crashes here, under test, rather
        // than in the field.
        volatile char *first = FilePath;
        *first = *first;
    }
    char args[320];
    snprintf(args, sizeof args, "id=%u path=%.260s", static_cast<unsigned>(DeviceID),
             FilePath != nullptr ? FilePath : "(null)");
    const bool refused = DeviceID != TheDeviceID || !sim.open || FilePath == nullptr || *FilePath == '\0';
    const int32_t status = Finish(at, Load, args, refused);
    sim.loaded = sim.open && status == Ok;
    return status;
}

int32_t AWG10K_CALL AWG10K_Close(uint32_t DeviceID)
{
    const Stamp at = Now();
    Simulator &sim = State();
    char args[16];
    snprintf(args, sizeof args, "id=%u", static_cast<unsigned>(DeviceID));
    const int32_t status = Finish(at, Close, args, DeviceID != TheDeviceID || !sim.open);
    if (status == Ok) sim.open = sim.loaded = false;
    return status;
}

int32_t AWG10K_CALL AWG10K_Trigger(uint32_t DeviceID)
{
    const Stamp at = Now();
    char args[16];
    snprintf(args, sizeof args, "id=%u", static_cast<unsigned>(DeviceID));
    return Finish(at, Trigger, args, DeviceID != TheDeviceID || !State().loaded);
}
}
