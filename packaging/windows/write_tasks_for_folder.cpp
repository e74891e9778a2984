// WriteTasksForFolder, a deferred step of task-for-folder.dll, is handed the
// installed folder (its CustomActionData) and rewrites the two task
// definitions installed there (UTF-16 with a byte order mark, as they are
// shipped) in place, with every mention of the default folder made that
// folder: a task naming another folder than its files' would start nothing,
// or an older copy, whether the installer registers it or someone imports it
// by hand. Windows Installer can put a folder into a command line but never
// into a file's text. It knows nothing of the definitions' elements, so a
// change to them needs none here.
#include "install_step.h"
#include "layout.h"
#include "task_text.h"

namespace {

const wchar_t *const kTasks[] = {WIDE(LAYOUT_LOGON_TASK), WIDE(LAYOUT_BOOT_TASK)};
// A task definition is a few kilobytes.
constexpr DWORD kMaxChars = 1 << 16;

struct Work {
    wchar_t folder[MAX_PATH * 2];    // ending in a backslash
    wchar_t escaped[MAX_PATH * 10];  // the folder as XML text
    wchar_t path[MAX_PATH * 3];
    wchar_t text[kMaxChars];
    wchar_t out[2 * kMaxChars];
};

// Rewrites W's folder's NAME in place for the folder: true, or false with
// the failure logged.
bool WriteForFolder(MSIHANDLE install, Work *w, const wchar_t *name)
{
    lstrcpyW(w->path, w->folder);
    lstrcatW(w->path, name);
    HANDLE file = CreateFileW(w->path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail(install, L"cannot read ", w->path), false;
    // A file longer than the buffer would be read in part and written back
    // cut short, with no error: refused whole instead.
    LARGE_INTEGER size;
    DWORD bytes = 0;
    const bool read = GetFileSizeEx(file, &size) && size.QuadPart <= LONGLONG{sizeof w->text - sizeof(wchar_t)} &&
                      ReadFile(file, w->text, static_cast<DWORD>(size.QuadPart), &bytes, nullptr) &&
                      bytes == size.QuadPart;
    CloseHandle(file);
    if (!read || bytes % 2 != 0 || bytes < 2 || w->text[0] != 0xfeff)
        return Fail(install, L"not UTF-16 with a byte order mark, or too long: ", w->path), false;
    w->text[bytes / 2] = 0;

    const task_text::Rewritten r =
        task_text::Rewrite(w->text, WIDE(LAYOUT_DEFAULT_FOLDER), w->escaped, w->out, sizeof w->out / sizeof w->out[0]);
    if (r.length < 0) return Fail(install, L"too long once written: ", w->path), false;
    // Written for this folder before (a repair, say): nothing to do. One that
    // names neither would be registered naming some other folder.
    if (r.replaced == 0 && r.names_to) return true;
    if (r.replaced == 0)
        return Fail(install, L"names no " WIDE(LAYOUT_DEFAULT_FOLDER) L" to replace: ", w->path), false;
    const DWORD n = static_cast<DWORD>(r.length);

    file = CreateFileW(w->path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail(install, L"cannot write ", w->path), false;
    DWORD done = 0;
    const bool wrote = WriteFile(file, w->out, n * sizeof(wchar_t), &done, nullptr) && done == n * sizeof(wchar_t);
    if (!CloseHandle(file) || !wrote) return Fail(install, L"cannot write ", w->path), false;
    Log(install, L"the default folder made this one in ", w->path);
    return true;
}

UINT WriteTasks(MSIHANDLE install, Work *w)
{
    // Room for the backslash EndWithBackslash may add.
    if (!ReadData(install, w->folder, sizeof w->folder / sizeof w->folder[0] - 1))
        return Fail(install, L"no CustomActionData", L"");
    EndWithBackslash(w->folder);
    task_text::EscapeForXml(w->folder, w->escaped);
    for (const wchar_t *task : kTasks)
        if (!WriteForFolder(install, w, task)) return ERROR_INSTALL_FAILURE;
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall WriteTasksForFolder(MSIHANDLE install)
{
    return WithContext<Work>(install, WriteTasks);
}
