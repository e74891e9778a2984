/* The waveform generator's library, as this program calls it. Every entry
 * returns 0 on success and anything else on failure; the device identifier is
 * the byte that AWG10K_Open hands out, passed back zero-extended. */
#ifndef AWG10K_H
#define AWG10K_H

#include <stdint.h>

/* On 32-bit Windows a library's entries may be stdcall or cdecl. The program
 * never assumes either: there these names are thin functions over a call
 * helper that is right for both (device/windows/). AWG10K_CALL is set only
 * when building the simulated DLL, in the convention under test. Elsewhere
 * there is only one. */
#ifndef AWG10K_CALL
#define AWG10K_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

int32_t AWG10K_CALL AWG10K_GetNumberOfDevices(int32_t *Number);
int32_t AWG10K_CALL AWG10K_Open(uint8_t *DeviceID);
/* Takes a writable buffer: a vendor library may write into it. */
int32_t AWG10K_CALL AWG10K_SetFile(uint32_t DeviceID, char *FilePath);
int32_t AWG10K_CALL AWG10K_Close(uint32_t DeviceID);
int32_t AWG10K_CALL AWG10K_Trigger(uint32_t DeviceID);

#ifdef __cplusplus
}
#endif

#endif
