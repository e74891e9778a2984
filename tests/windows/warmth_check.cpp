// Checks under Wine, against VirtualQuery, that the warming finds all of the
// simulated AWG10K.dll's image and nothing else (its code and writable data
// covered, every range in the DLL's committed pages), and the rest in other
// modules, the system time's code among them; then that its walks never
// fault. Exit status 0 when all holds.
#include <windows.h>

#include <cstdio>

#include "AWG10K_imports.h"
#include "trigger_warmth.h"
#include "walk.h"

static int failures = 0;

static void Fail(const char *what, const void *at)
{
    std::printf("warmth_check: %s (at %p)\n", what, at);
    ++failures;
}

static MEMORY_BASIC_INFORMATION Query(const void *at)
{
    MEMORY_BASIC_INFORMATION info = {};
    VirtualQuery(at, &info, sizeof info);
    return info;
}

static bool Overlaps(const WarmRanges &ranges, uintptr_t begin, uintptr_t end)
{
    for (int r = 0; r < ranges.ranges; ++r)
        if (ranges.begin[r] < end && ranges.end[r] > begin) return true;
    return false;
}

int main()
{
    const void *dll = Query(AWG10K_Trigger_Entry).AllocationBase;
    const void *program = GetModuleHandleW(nullptr);
    if (dll == nullptr || dll == program) Fail("the import slot does not point into a DLL", AWG10K_Trigger_Entry);

    const TriggerWarmth warmth = FindTriggerWarmth();
    const WarmRanges &found = warmth.library;
    if (warmth.entry != AWG10K_Trigger_Entry) Fail("the entry is not the import slot's target", warmth.entry);
    const uintptr_t entry = reinterpret_cast<uintptr_t>(warmth.entry);
    if (!Overlaps(found, entry, entry + 1)) Fail("no range holds the trigger entry", warmth.entry);
    for (int r = 0; r < found.ranges; ++r)
        for (uintptr_t at = found.begin[r];; at += 4096) {
            const uintptr_t probe = at < found.end[r] ? at : found.end[r] - 1;
            const MEMORY_BASIC_INFORMATION info = Query(reinterpret_cast<const void *>(probe));
            if (info.AllocationBase != dll) Fail("a range runs outside the DLL's image", info.BaseAddress);
            if (info.State != MEM_COMMIT || (info.Protect & PAGE_NOACCESS))
                Fail("a range runs into pages not mapped", info.BaseAddress);
            if (probe == found.end[r] - 1) break;
        }

    // Every part of the image that is code or writable data, found page by
    // page with VirtualQuery, overlaps a range.
    const DWORD codeOrData = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY |
                             PAGE_READWRITE | PAGE_WRITECOPY;
    int parts = 0;
    for (const char *at = static_cast<const char *>(dll);;) {
        const MEMORY_BASIC_INFORMATION info = Query(at);
        if (info.AllocationBase != dll || info.RegionSize == 0) break;
        const uintptr_t begin = reinterpret_cast<uintptr_t>(info.BaseAddress), end = begin + info.RegionSize;
        if (info.State == MEM_COMMIT && (info.Protect & codeOrData)) {
            ++parts;
            if (!Overlaps(found, begin, end)) Fail("code or data of the DLL that no range warms", info.BaseAddress);
        }
        at = reinterpret_cast<const char *>(end);
    }
    if (parts < 2) Fail("fewer than two parts of code and data found in the DLL", dll);

    // The simulated DLL reads the system time; whichever module holds that
    // code (kernel32's own or the one it forwards to), the rest holds it.
    const WarmRanges &rest = warmth.rest;
    const uintptr_t systemTime = reinterpret_cast<uintptr_t>(&GetSystemTimeAsFileTime);
    if (!Overlaps(rest, systemTime, systemTime + 1))
        Fail("the rest does not hold the system time's code", reinterpret_cast<const void *>(systemTime));
    for (int r = 0; r < rest.ranges; ++r)
        for (uintptr_t at = rest.begin[r];; at += 4096) {
            const uintptr_t probe = at < rest.end[r] ? at : rest.end[r] - 1;
            const MEMORY_BASIC_INFORMATION info = Query(reinterpret_cast<const void *>(probe));
            if (info.AllocationBase == dll) Fail("a range of the rest is the DLL's", info.BaseAddress);
            if (info.State != MEM_COMMIT || info.Type != MEM_IMAGE)
                Fail("a range of the rest runs outside a module", info.BaseAddress);
            if (probe == rest.end[r] - 1) break;
        }

    for (int poll = 0; poll < 1000000; ++poll) WarmTriggerPath();
    std::printf("warmth_check: %d ranges of the DLL, %d parts of code and data, %d ranges of the rest, %d failures\n",
                found.ranges, parts, rest.ranges, failures);
    return failures == 0 ? 0 : 1;
}
