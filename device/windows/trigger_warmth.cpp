// On Windows the program's AWG10K_Trigger is its own thin function over the
// call helper; the code that goes cold is the DLL's, where the import slot
// the loader filled points, and the rest of the DLL's image around it. The
// thin function and the helper go first.
#include "trigger_warmth.h"

#include <windows.h>

#include "AWG10K.h"
#include "AWG10K_imports.h"

namespace {

LoadedLibrary Dll;

}  // namespace

// The DLL is the module whose image holds the entry, found by that address
// alone: nothing is asked of AWG10K.dll by name, and its reference count is
// left as the loader set it. Its sections come from its PE headers, in the
// form (PE32 or PE32+) this program is built for, as the DLL must be too;
// discardable ones (relocations, debug information) are not used once it
// is loaded.
void FindTriggerLibrary(LoadedLibrary *library)
{
    library->entry = AWG10K_Trigger_Entry;
    HMODULE module = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCWSTR>(library->entry), &module)) {
        const char *base = reinterpret_cast<const char *>(module);
        const IMAGE_DOS_HEADER *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
        const IMAGE_NT_HEADERS *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
        if (dos->e_magic == IMAGE_DOS_SIGNATURE && nt->Signature == IMAGE_NT_SIGNATURE) {
            const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
            for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
                if (section->Characteristics & IMAGE_SCN_MEM_DISCARDABLE) continue;
                const DWORD size = section->Misc.VirtualSize != 0 ? section->Misc.VirtualSize : section->SizeOfRawData;
                AddRange(library, base + section->VirtualAddress, size);
            }
        }
    }
    if (library->ranges == 0) AddRange(library, library->entry, 4 * 64);
}

void WarmTriggerEntry()
{
    __builtin_prefetch(reinterpret_cast<const void *>(&AWG10K_Trigger));
    __builtin_prefetch(reinterpret_cast<const void *>(&AWG10K_CallEntry));
    WarmNextLine(Dll);
    WarmCode(Dll.entry);
}
