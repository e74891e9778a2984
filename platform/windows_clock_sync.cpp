// Whether something keeps this PC's clock to UTC, from what Windows lets any
// user read without w32tm: whether a time service is adjusting the clock's
// rate now, and the state of the Windows Time service.
#include "platform.h"

#include <windows.h>

namespace {

// Opened once and kept: the Service Control Manager is another process, and
// there is no need to ask it for a handle every minute.
SC_HANDLE Manager = nullptr;
SC_HANDLE TimeService = nullptr;

ClockSync::Adjusting ReadAdjusting()
{
    // The precise form (Windows 10 and later) is looked up, not imported:
    // a static import would stop the program loading on Windows 7, and on
    // Wine 8, which does not export it.
    using Precise = BOOL(WINAPI *)(DWORD64 *, DWORD64 *, BOOL *);
    static const Precise precise = [] {
        const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
        return kernel32 == nullptr ? nullptr
                                   : reinterpret_cast<Precise>(reinterpret_cast<void (*)()>(
                                         GetProcAddress(kernel32, "GetSystemTimeAdjustmentPrecise")));
    }();
    BOOL disabled = TRUE;
    BOOL read;
    if (precise != nullptr) {
        DWORD64 adjustment = 0, increment = 0;
        read = precise(&adjustment, &increment, &disabled);
    } else {
        DWORD adjustment = 0, increment = 0;
        read = GetSystemTimeAdjustment(&adjustment, &increment, &disabled);
    }
    if (!read) return ClockSync::AdjustmentUnreadable;
    // FALSE: a time service has set the rate the clock runs at, and is
    // disciplining it now. TRUE: the clock runs at its nominal rate,
    // corrected at most by steps now and then.
    return disabled ? ClockSync::NotAdjusted : ClockSync::Adjusted;
}

ClockSync::Service ReadService(int *error)
{
    if (Manager == nullptr) Manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (Manager != nullptr && TimeService == nullptr)
        TimeService = OpenServiceW(Manager, L"W32Time", SERVICE_QUERY_STATUS);
    SERVICE_STATUS status;
    if (TimeService != nullptr && QueryServiceStatus(TimeService, &status))
        return status.dwCurrentState == SERVICE_RUNNING ? ClockSync::Running : ClockSync::NotRunning;
    const DWORD why = GetLastError();
    // Asked again next minute, from a fresh handle: the service may be
    // registered again (w32tm /register) in the meantime.
    if (TimeService != nullptr) CloseServiceHandle(TimeService);
    TimeService = nullptr;
    if (why == ERROR_SERVICE_DOES_NOT_EXIST) return ClockSync::Missing;
    *error = static_cast<int>(why);
    return ClockSync::ServiceUnreadable;
}

}  // namespace

void ReadClockSync(ClockSync *sync)
{
    *sync = ClockSync{};
    sync->keeper = ClockSync::Windows;
    sync->adjusting = ReadAdjusting();
    sync->service = ReadService(&sync->error);
}
