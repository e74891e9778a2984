// What the steps of task-for-folder.dll share: their lines in the installer's
// log (msiexec /l*v), text built in fixed buffers, paths compared as Windows
// does, the step's CustomActionData, and ntdll's entries. The DLL has no C++
// runtime, and so no allocation but Windows' own.
#pragma once
#define _WIN32_WINNT 0x0600  // QueryFullProcessImageNameW, GetVolumeInformationByHandleW
#include <windows.h>
#include <winternl.h>
#include <msi.h>

// One line in the log: WHAT, then PATH, after "task-for-folder: ".
void Log(MSIHANDLE install, const wchar_t *what, const wchar_t *path);
// The same, and the step's failure, which undoes the install.
UINT Fail(MSIHANDLE install, const wchar_t *what, const wchar_t *path);
// The same, with an NT status: WHAT (0x...): PATH.
UINT FailStatus(MSIHANDLE install, const wchar_t *what, NTSTATUS status, const wchar_t *path);

// What a line is built in: long enough for two descriptors as SDDL.
constexpr int kLineChars = 16384;
struct Line {
    wchar_t text[kLineChars];
};
void Append(Line *line, const wchar_t *text);
// ASCII text (SDDL, the permission rule's words) appended as it is.
void AppendNarrow(Line *line, const char *text);

// The first LENGTH characters of A and B, in any case, as Windows compares names.
bool Same(const wchar_t *a, const wchar_t *b, int length);
bool IsPrefix(const wchar_t *prefix, const wchar_t *text);
// PATH ending in a backslash (PATH holds one more character).
void EndWithBackslash(wchar_t *path);

// STEP run with a zeroed T of its own, taken from Windows rather than the
// stack: the steps' contexts are too large for it.
template <typename T>
UINT WithContext(MSIHANDLE install, UINT (*step)(MSIHANDLE, T *))
{
    auto *context = static_cast<T *>(VirtualAlloc(nullptr, sizeof(T), MEM_COMMIT, PAGE_READWRITE));
    if (context == nullptr) return Fail(install, L"out of memory", L"");
    const UINT result = step(install, context);
    VirtualFree(context, 0, MEM_RELEASE);
    return result;
}

// The step's CustomActionData into OUT (CHARS characters, its NUL among
// them): false where there is none, or it does not fit.
bool ReadData(MSIHANDLE install, wchar_t *out, DWORD chars);

// ntdll's entries, found at run time: MinGW declares them, but its import
// library for ntdll differs between its versions.
struct Ntdll {
    NTSTATUS(NTAPI *create)
    (PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID,
     ULONG);
    NTSTATUS(NTAPI *query_file)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
    NTSTATUS(NTAPI *set_file)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
    NTSTATUS(NTAPI *list)
    (HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING,
     BOOLEAN);
    NTSTATUS(NTAPI *query_security)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, ULONG, PULONG);
    NTSTATUS(NTAPI *set_security)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);
    // A process's command line (ProcessCommandLineInformation, Windows 8.1 and
    // later; earlier ones, and Wine's, may refuse it).
    NTSTATUS(NTAPI *query_process)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    // Wine keeps no permissions: it accepts any, and reads back one made from
    // the Unix file's mode. Told by ntdll's own export, which no user can set.
    bool wine;
};
// False where an entry the file steps need is missing (query_process may be).
bool LoadNtdll(Ntdll *nt);
