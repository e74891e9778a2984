// The call helper on x86-64 Windows, which has one calling convention: the
// entries are called as what they are. Arguments travel in registers there,
// so an entry of one argument never sees the second, and the callee cannot
// leave the stack pointer off the way a 32-bit convention mismatch does.
#include "AWG10K_imports.h"

extern "C" int32_t AWG10K_CallEntry(const void *entry, uintptr_t first, uintptr_t second)
{
    using Entry = int32_t (*)(uintptr_t, uintptr_t);
    return reinterpret_cast<Entry>(const_cast<void *>(entry))(first, second);
}
