// What the steps of task-for-folder.dll share (install_step.h).
#include "install_step.h"

#include <msiquery.h>

void Append(Line *line, const wchar_t *text)
{
    const int used = lstrlenW(line->text);
    lstrcpynW(line->text + used, text, kLineChars - used);
}

void AppendNarrow(Line *line, const char *text)
{
    int used = lstrlenW(line->text);
    for (; *text && used < kLineChars - 1; ++text) line->text[used++] = static_cast<unsigned char>(*text);
    line->text[used] = 0;
}

void Log(MSIHANDLE install, const wchar_t *what, const wchar_t *path)
{
    const wchar_t prefix[] = L"task-for-folder: ";
    // As long as the line is (two descriptors as SDDL, say), and off the
    // stack, which the lock's steps already fill.
    const int chars = lstrlenW(prefix) + lstrlenW(what) + lstrlenW(path) + 1;
    auto *line = static_cast<wchar_t *>(LocalAlloc(LMEM_FIXED, chars * sizeof(wchar_t)));
    if (line != nullptr) {
        lstrcpyW(line, prefix);
        lstrcatW(line, what);
        lstrcatW(line, path);
    }
    MSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringW(record, 0, line != nullptr ? line : what);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
    LocalFree(line);
}

UINT Fail(MSIHANDLE install, const wchar_t *what, const wchar_t *path)
{
    Log(install, what, path);
    return ERROR_INSTALL_FAILURE;
}

UINT FailStatus(MSIHANDLE install, const wchar_t *what, NTSTATUS status, const wchar_t *path)
{
    Line line{};
    wchar_t number[16];
    wsprintfW(number, L" (0x%08lx): ", static_cast<unsigned long>(status));
    Append(&line, what);
    Append(&line, number);
    return Fail(install, line.text, path);
}

bool Same(const wchar_t *a, const wchar_t *b, int length)
{
    return CompareStringOrdinal(a, length, b, length, TRUE) == CSTR_EQUAL;
}

bool IsPrefix(const wchar_t *prefix, const wchar_t *text)
{
    const int length = lstrlenW(prefix);
    return length > 0 && lstrlenW(text) >= length && Same(text, prefix, length);
}

void EndWithBackslash(wchar_t *path)
{
    const int length = lstrlenW(path);
    if (length == 0 || path[length - 1] != L'\\') lstrcatW(path, L"\\");
}

bool ReadData(MSIHANDLE install, wchar_t *out, DWORD chars)
{
    return MsiGetPropertyW(install, L"CustomActionData", out, &chars) == ERROR_SUCCESS && chars > 0;
}

namespace {

template <typename F>
void Find(HMODULE ntdll, const char *name, F *entry)
{
    *entry = reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(ntdll, name)));
}

}  // namespace

bool LoadNtdll(Ntdll *nt)
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return false;
    Find(ntdll, "NtCreateFile", &nt->create);
    Find(ntdll, "NtQueryInformationFile", &nt->query_file);
    Find(ntdll, "NtSetInformationFile", &nt->set_file);
    Find(ntdll, "NtQueryDirectoryFile", &nt->list);
    Find(ntdll, "NtQuerySecurityObject", &nt->query_security);
    Find(ntdll, "NtSetSecurityObject", &nt->set_security);
    Find(ntdll, "NtQueryInformationProcess", &nt->query_process);
    nt->wine = GetProcAddress(ntdll, "wine_get_version") != nullptr;
    return nt->create && nt->query_file && nt->set_file && nt->list && nt->query_security && nt->set_security;
}
