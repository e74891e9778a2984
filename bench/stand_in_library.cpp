// A second device library for the benchmark, shaped the way a vendor's may be
// and not the way the simulator is: every entry takes a lock (a call into
// libc through the library's own PLT), the trigger looks its device up in
// static tables and builds a command in a static buffer before it stamps the
// time, and the library carries a firmware image, so what the trigger
// touches is spread over the pages of a library of about a megabyte. It logs
// every call to AWG10K_SIM_LOG in the simulator's line format, which
// bench/run.sh reads; it always has one healthy device.
#include "AWG10K.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

// What such a library uploads to the device when it opens it.
const unsigned char Firmware[1 << 20] = {0x5a, 0xa5, 0x0f};

struct Register {
    uint16_t address;
    uint16_t value;
};
enum { RegisterReset, RegisterWaveform, RegisterStart, RegisterCount };
const Register Registers[RegisterCount] = {{0x0100, 0x0001}, {0x0200, 0x0000}, {0x0300, 0x00a5}};

struct Device {
    uint8_t id;
    bool open;
    bool loaded;
    uint32_t sequence;
    unsigned firmwareSum;
    char file[260];
};
Device Devices[4] = {{1, false, false, 0, 0, ""}};
unsigned char Command[64];
pthread_mutex_t Lock = PTHREAD_MUTEX_INITIALIZER;
int LogFile = -2;  // -2: AWG10K_SIM_LOG not looked at yet

Device *Find(uint32_t id)
{
    for (Device &device : Devices) {
        if (device.id != 0 && device.id == id) return &device;
    }
    return nullptr;
}

void Log(const timespec &at, const char *entry, const char *args, int32_t status)
{
    if (LogFile == -2) {
        const char *path = getenv("AWG10K_SIM_LOG");
        LogFile = path != nullptr ? open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644) : -1;
    }
    if (LogFile < 0) return;
    std::tm utc{};
    gmtime_r(&at.tv_sec, &utc);
    char line[400];
    const int n = snprintf(line, sizeof line, "%04d-%02d-%02dT%02d:%02d:%02d.%09ldZ %s%s%s status=%d\n",
                           utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                           at.tv_nsec, entry, *args ? " " : "", args, static_cast<int>(status));
    if (n > 0) (void)!write(LogFile, line, n < static_cast<int>(sizeof line) ? n : sizeof line - 1);
}

// Where a vendor's library would hand the command to the device.
timespec Send()
{
    timespec at;
    clock_gettime(CLOCK_REALTIME, &at);
    return at;
}

}  // namespace

extern "C" {

int32_t AWG10K_GetNumberOfDevices(int32_t *Number)
{
    pthread_mutex_lock(&Lock);
    const timespec at = Send();
    if (Number != nullptr) *Number = 1;
    pthread_mutex_unlock(&Lock);
    Log(at, "count", "devices=1", Number != nullptr ? 0 : -1);
    return Number != nullptr ? 0 : -1;
}

int32_t AWG10K_Open(uint8_t *DeviceID)
{
    pthread_mutex_lock(&Lock);
    Device &device = Devices[0];
    const bool ok = DeviceID != nullptr && !device.open;
    if (ok) {
        unsigned sum = 0;
        for (unsigned char byte : Firmware) sum = sum * 31 + byte;
        device.firmwareSum = sum;
        device.open = true;
        *DeviceID = device.id;
    }
    const timespec at = Send();
    pthread_mutex_unlock(&Lock);
    Log(at, "open", ok ? "id=1" : "", ok ? 0 : -1);
    return ok ? 0 : -1;
}

int32_t AWG10K_SetFile(uint32_t DeviceID, char *FilePath)
{
    pthread_mutex_lock(&Lock);
    Device *device = Find(DeviceID);
    const bool ok = device != nullptr && device->open && FilePath != nullptr && *FilePath != '\0';
    if (ok) {
        snprintf(device->file, sizeof device->file, "%s", FilePath);
        device->loaded = true;
    }
    const timespec at = Send();
    pthread_mutex_unlock(&Lock);
    char args[320];
    snprintf(args, sizeof args, "id=%u path=%.260s", static_cast<unsigned>(DeviceID),
             FilePath != nullptr ? FilePath : "(null)");
    Log(at, "load", args, ok ? 0 : -1);
    return ok ? 0 : -1;
}

int32_t AWG10K_Close(uint32_t DeviceID)
{
    pthread_mutex_lock(&Lock);
    Device *device = Find(DeviceID);
    const bool ok = device != nullptr && device->open;
    if (ok) device->open = device->loaded = false;
    const timespec at = Send();
    pthread_mutex_unlock(&Lock);
    char args[16];
    snprintf(args, sizeof args, "id=%u", static_cast<unsigned>(DeviceID));
    Log(at, "close", args, ok ? 0 : -1);
    return ok ? 0 : -1;
}

int32_t AWG10K_Trigger(uint32_t DeviceID)
{
    pthread_mutex_lock(&Lock);
    Device *device = Find(DeviceID);
    const bool ok = device != nullptr && device->loaded;
    if (ok) {
        const Register &start = Registers[RegisterStart];
        ++device->sequence;
        memcpy(Command, &start, sizeof start);
        memcpy(Command + sizeof start, &device->sequence, sizeof device->sequence);
    }
    const timespec at = Send();
    pthread_mutex_unlock(&Lock);
    char args[16];
    snprintf(args, sizeof args, "id=%u", static_cast<unsigned>(DeviceID));
    Log(at, "trigger", args, ok ? 0 : -1);
    return ok ? 0 : -1;
}
}
