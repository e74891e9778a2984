// The import slots that Windows' loader fills with AWG10K.dll's entries,
// filled here with the simulated device's entries instead, built in one
// calling convention. Linked with the program's own thin functions, its call
// helper and call_stress, it makes a 32-bit Linux program that qemu runs
// where Wine cannot (a kernel without 32-bit support): the same stress check
// of the same calls. tests/windows/test.sh builds it with the simulator's
// entries renamed Simulated_*, so that the thin functions keep their names.
#include "AWG10K.h"
#include "AWG10K_imports.h"

#define SLOT(entry) \
    extern "C" const void *const entry##Slot AWG10K_SLOT(#entry); \
    const void *const entry##Slot = reinterpret_cast<const void *>(&Simulated_##entry)

SLOT(AWG10K_GetNumberOfDevices);
SLOT(AWG10K_Open);
SLOT(AWG10K_SetFile);
SLOT(AWG10K_Close);
SLOT(AWG10K_Trigger);
