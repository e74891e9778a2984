/* AWG10K.dll as the program reaches it on Windows: the import slots the
 * loader fills with each entry's code address before main runs (the import
 * library made from device/AWG10K.def defines them, and nothing else), and
 * the call helper that makes a call through one right for both 32-bit
 * calling conventions (call.S; call_x64.cpp on x86-64, which has one). */
#ifndef AWG10K_IMPORTS_H
#define AWG10K_IMPORTS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The import address table slots, named as the import library names them:
 * __imp_ and the entry's symbol, which bears a leading underscore on i686
 * and none on x86-64. */
#define AWG10K_TEXT(x) #x
#define AWG10K_PREFIX_TEXT(x) AWG10K_TEXT(x)
#define AWG10K_SLOT(name) __asm__("__imp_" AWG10K_PREFIX_TEXT(__USER_LABEL_PREFIX__) name)
extern const void *const AWG10K_GetNumberOfDevices_Entry AWG10K_SLOT("AWG10K_GetNumberOfDevices");
extern const void *const AWG10K_Open_Entry AWG10K_SLOT("AWG10K_Open");
extern const void *const AWG10K_SetFile_Entry AWG10K_SLOT("AWG10K_SetFile");
extern const void *const AWG10K_Close_Entry AWG10K_SLOT("AWG10K_Close");
extern const void *const AWG10K_Trigger_Entry AWG10K_SLOT("AWG10K_Trigger");

/* Calls entry(first, second) and returns its result, whether the entry is
 * stdcall or cdecl; an entry of one argument ignores second. Each argument is
 * a machine word: a pointer, or a 32-bit value zero-extended. */
int32_t AWG10K_CallEntry(const void *entry, uintptr_t first, uintptr_t second);

#ifdef __cplusplus
}
#endif

#endif
