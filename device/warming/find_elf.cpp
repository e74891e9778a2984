// On Linux the device library is a shared object, bound when the program
// loaded (-z now); its loaded segments, and those of every other object in
// the process, are what the poll keeps warm.
#include <dlfcn.h>
#include <link.h>

#include "AWG10K.h"
#include "walk.h"

namespace {

// In a position-independent program &AWG10K_Trigger is the library's own
// function. In one linked -no-pie it is the program's PLT stub, made the
// function's address so that pointers to it compare equal: warming from it
// would warm the program and leave the library cold. dlsym with RTLD_NEXT
// asks the dynamic linker for the first definition after this program, the
// one its calls were bound to: a symbol look-up in the loader's tables,
// which runs no code of the library's.
const void *TriggerEntryCode()
{
    if (const void *entry = dlsym(RTLD_NEXT, "AWG10K_Trigger")) return entry;
    return reinterpret_cast<const void *>(&AWG10K_Trigger);
}

// Each PT_LOAD segment is mapped in full (what lies past its file contents
// as zeroed pages), so its whole memory size can be warmed; the gaps between
// segments are left out. The object whose segments hold the entry is the
// library; the others (the C library, the program, the loader) are the rest.
int AddSegments(dl_phdr_info *object, size_t, void *data)
{
    TriggerWarmth *warmth = static_cast<TriggerWarmth *>(data);
    const uintptr_t entry = reinterpret_cast<uintptr_t>(warmth->entry);
    bool holds = false;
    for (int i = 0; i < object->dlpi_phnum; ++i) {
        const ElfW(Phdr) &segment = object->dlpi_phdr[i];
        const uintptr_t start = object->dlpi_addr + segment.p_vaddr;
        if (segment.p_type == PT_LOAD && entry >= start && entry - start < segment.p_memsz) holds = true;
    }
    for (int i = 0; i < object->dlpi_phnum; ++i) {
        const ElfW(Phdr) &segment = object->dlpi_phdr[i];
        if (segment.p_type == PT_LOAD) {
            AddRange(holds ? &warmth->library : &warmth->rest,
                     reinterpret_cast<const void *>(object->dlpi_addr + segment.p_vaddr), segment.p_memsz);
        }
    }
    return 0;
}

}  // namespace

void FindTriggerRanges(TriggerWarmth *warmth)
{
    warmth->entry = TriggerEntryCode();
    dl_iterate_phdr(AddSegments, warmth);
}
