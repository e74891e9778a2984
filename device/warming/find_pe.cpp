// On Windows the program's AWG10K_Trigger is its own thin function over the
// call helper; the code that goes cold is the DLL's, where the import slot
// the loader filled points, the rest of the DLL's image around it, and the
// other modules it calls into. The thin function and the helper go first.
#include <windows.h>
#include <tlhelp32.h>

#include "AWG10K.h"
#include "AWG10K_imports.h"
#include "walk.h"

namespace {

// A module's sections, from its PE headers, in the form (PE32 or PE32+) this
// program is built for, as the DLL must be too. Discardable ones
// (relocations, debug information) are not used once it is loaded.
void AddImage(WarmRanges *walk, const void *module)
{
    const char *base = static_cast<const char *>(module);
    const IMAGE_DOS_HEADER *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
    const IMAGE_NT_HEADERS *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return;
    const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (section->Characteristics & IMAGE_SCN_MEM_DISCARDABLE) continue;
        const DWORD size = section->Misc.VirtualSize != 0 ? section->Misc.VirtualSize : section->SizeOfRawData;
        AddRange(walk, base + section->VirtualAddress, size);
    }
}

}  // namespace

// The DLL is the module whose image holds the entry, found by that address
// alone: nothing is asked of AWG10K.dll by name, and its reference count is
// left as the loader set it. The rest are the process's other modules, as a
// snapshot lists them.
void FindTriggerRanges(TriggerWarmth *warmth)
{
    warmth->entry = AWG10K_Trigger_Entry;
    AddOwnCode(warmth, reinterpret_cast<const void *>(&AWG10K_Trigger));
    AddOwnCode(warmth, reinterpret_cast<const void *>(&AWG10K_CallEntry));
    HMODULE dll = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCWSTR>(warmth->entry), &dll)) {
        AddImage(&warmth->library, dll);
    }
    const HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
    if (modules != INVALID_HANDLE_VALUE) {
        MODULEENTRY32W module;
        module.dwSize = sizeof module;
        for (BOOL more = Module32FirstW(modules, &module); more; more = Module32NextW(modules, &module)) {
            if (module.hModule != dll) AddImage(&warmth->rest, module.modBaseAddr);
        }
        CloseHandle(modules);
    }
}
