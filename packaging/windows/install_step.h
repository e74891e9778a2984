// What the steps of task-for-folder.dll share: their lines in the installer's
// log (msiexec /l*v).
#pragma once
#include <windows.h>
#include <msi.h>

// One line in the log: WHAT, then PATH.
void Log(MSIHANDLE install, const wchar_t* what, const wchar_t* path);
// The same, and the step's failure, which undoes the install.
UINT Fail(MSIHANDLE install, const wchar_t* what, const wchar_t* path);
