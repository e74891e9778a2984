// The device library's entries under the names the program calls, on
// Windows: each passes its arguments, as machine words, through the call
// helper to the entry the loader bound, since the vendor does not say which
// calling convention its DLL uses (call.S says why that matters).
#include "AWG10K.h"
#include "AWG10K_imports.h"

#include <cstdint>

namespace {

uintptr_t Word(const void *p)
{
    return reinterpret_cast<uintptr_t>(p);
}

}  // namespace

extern "C" {

int32_t AWG10K_GetNumberOfDevices(int32_t *Number)
{
    return AWG10K_CallEntry(AWG10K_GetNumberOfDevices_Entry, Word(Number), 0);
}

int32_t AWG10K_Open(uint8_t *DeviceID)
{
    return AWG10K_CallEntry(AWG10K_Open_Entry, Word(DeviceID), 0);
}

int32_t AWG10K_SetFile(uint32_t DeviceID, char *FilePath)
{
    return AWG10K_CallEntry(AWG10K_SetFile_Entry, DeviceID, Word(FilePath));
}

int32_t AWG10K_Close(uint32_t DeviceID)
{
    return AWG10K_CallEntry(AWG10K_Close_Entry, DeviceID, 0);
}

int32_t AWG10K_Trigger(uint32_t DeviceID)
{
    return AWG10K_CallEntry(AWG10K_Trigger_Entry, DeviceID, 0);
}
}
