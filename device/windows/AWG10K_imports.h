/* AWG10K.dll as the program reaches it on 32-bit Windows: the import slots
 * the loader fills with each entry's code address before main runs (the
 * import library made from device/AWG10K.def defines them, and nothing else),
 * and the call helper that makes a call through one right for both calling
 * conventions (call.S). */
#ifndef AWG10K_IMPORTS_H
#define AWG10K_IMPORTS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The import address table slots, named as the import library names them. */
extern const void *const AWG10K_GetNumberOfDevices_Entry __asm__("__imp__AWG10K_GetNumberOfDevices");
extern const void *const AWG10K_Open_Entry __asm__("__imp__AWG10K_Open");
extern const void *const AWG10K_SetFile_Entry __asm__("__imp__AWG10K_SetFile");
extern const void *const AWG10K_Close_Entry __asm__("__imp__AWG10K_Close");
extern const void *const AWG10K_Trigger_Entry __asm__("__imp__AWG10K_Trigger");

/* Calls entry(first, second) and returns its EAX, whether the entry is
 * stdcall or cdecl; an entry of one argument ignores second. */
int32_t AWG10K_CallEntry(const void *entry, uint32_t first, uint32_t second);

#ifdef __cplusplus
}
#endif

#endif
