// task-for-folder.dll: the one step of the Windows installer that Windows
// Installer cannot take by itself. The shipped task definitions name the
// default folder, C:\Qmx\AWG10K\; the installer may put the files anywhere,
// and a task naming another folder than theirs would start nothing, or an
// older copy. Windows Installer can put a folder into a command line but
// never into a file's text, so this custom action makes that one edit.
//
// WriteTaskForFolder, a deferred step, is handed FOLDER\minute-trigger-KIND.xml
// (its CustomActionData), reads that definition (UTF-16 with a byte order
// mark, as it is shipped) and writes FOLDER\minute-trigger-task.xml beside it:
// the same text with every mention of the default folder made FOLDER, for
// schtasks /Create /XML. It knows nothing of the definition's elements, so a
// change to them needs none here. It lives in the package's Binary table and
// is never installed.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

namespace {

const wchar_t kDefaultFolder[] = L"C:\\Qmx\\AWG10K\\";
const wchar_t kWritten[] = L"minute-trigger-task.xml";
// A task definition is a few kilobytes; the buffers are fixed, so that the
// DLL needs no C++ runtime and keeps the package small.
constexpr DWORD kMaxChars = 1 << 16;
wchar_t shipped[MAX_PATH * 2];
wchar_t written[MAX_PATH * 2];
wchar_t text[kMaxChars];
wchar_t out[2 * kMaxChars];
wchar_t line[3 * MAX_PATH];

// One line in the installer's log (msiexec /l*v): WHAT, then PATH.
void Log(MSIHANDLE install, const wchar_t* what, const wchar_t* path) {
  lstrcpynW(line, L"task-for-folder: ", MAX_PATH);
  lstrcatW(line, what);
  lstrcatW(line, path);
  MSIHANDLE record = MsiCreateRecord(0);
  MsiRecordSetStringW(record, 0, line);
  MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
  MsiCloseHandle(record);
}

UINT Fail(MSIHANDLE install, const wchar_t* what, const wchar_t* path) {
  Log(install, what, path);
  return ERROR_INSTALL_FAILURE;
}

bool StartsWith(const wchar_t* at, const wchar_t* prefix) {
  while (*prefix && *at == *prefix) ++at, ++prefix;
  return *prefix == 0;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall WriteTaskForFolder(MSIHANDLE install) {
  DWORD size = MAX_PATH;
  if (MsiGetPropertyW(install, L"CustomActionData", shipped, &size) != ERROR_SUCCESS)
    return Fail(install, L"no CustomActionData", L"");
  wchar_t* slash = nullptr;
  for (wchar_t* c = shipped; *c; ++c)
    if (*c == L'\\') slash = c;
  if (slash == nullptr) return Fail(install, L"not a full path: ", shipped);
  const int folder_length = static_cast<int>(slash + 1 - shipped);
  lstrcpynW(written, shipped, folder_length + 1);
  lstrcatW(written, kWritten);

  HANDLE file = CreateFileW(shipped, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(install, L"cannot read ", shipped);
  DWORD bytes = 0;
  const bool read = ReadFile(file, text, sizeof text - sizeof(wchar_t), &bytes, nullptr);
  CloseHandle(file);
  if (!read || bytes % 2 != 0 || bytes < 2 || text[0] != 0xfeff)
    return Fail(install, L"not UTF-16 with a byte order mark, or too long: ", shipped);
  text[bytes / 2] = 0;

  // Every mention of the default folder made the installed one. The folder
  // lands in XML text, where an ampersand must be escaped; no other
  // character a folder's name may hold needs it.
  DWORD n = 0;
  int replaced = 0;
  const int default_length = lstrlenW(kDefaultFolder);
  for (const wchar_t* at = text; *at;) {
    if (n + 5 * folder_length >= 2 * kMaxChars) return Fail(install, L"too long once written: ", shipped);
    if (StartsWith(at, kDefaultFolder)) {
      for (int i = 0; i < folder_length; ++i) {
        if (shipped[i] == L'&') {
          lstrcpyW(out + n, L"&amp;");
          n += 5;
        } else {
          out[n++] = shipped[i];
        }
      }
      at += default_length;
      ++replaced;
    } else {
      out[n++] = *at++;
    }
  }
  // A definition that names no default folder would be registered naming
  // some other one.
  if (replaced == 0) return Fail(install, L"names no C:\\Qmx\\AWG10K\\ to replace: ", shipped);

  file = CreateFileW(written, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(install, L"cannot write ", written);
  DWORD done = 0;
  const bool wrote = WriteFile(file, out, n * sizeof(wchar_t), &done, nullptr) && done == n * sizeof(wchar_t);
  if (!CloseHandle(file) || !wrote) return Fail(install, L"cannot write ", written);
  Log(install, L"the default folder made this one in ", written);
  return ERROR_SUCCESS;
}
