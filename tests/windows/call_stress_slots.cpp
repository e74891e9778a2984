// The import slots that Windows' loader fills with AWG10K.dll's entries,
// filled with the simulator's, for call_stress as a 32-bit Linux program
// under qemu (qemu.sh, which renames them Simulated_*, so that the thin
// functions keep the plain names).
#include "AWG10K.h"
#include "AWG10K_imports.h"

#define SLOT(entry)                                               \
    extern "C" const void *const entry##Slot AWG10K_SLOT(#entry); \
    const void *const entry##Slot = reinterpret_cast<const void *>(&Simulated_##entry)

SLOT(AWG10K_GetNumberOfDevices);
SLOT(AWG10K_Open);
SLOT(AWG10K_SetFile);
SLOT(AWG10K_Close);
SLOT(AWG10K_Trigger);
