// Where the Windows package puts things and what it names them, read by the
// installer's steps (wide text), minute-trigger-check (narrow text) and the
// tests alike. Each fact is one literal; WIDE() makes its wide twin, so that
// both come from the same characters. The .wxs, the task files and the
// launcher, which C++ cannot include, name the same files.
//
// Who may change what is locked, and the trusted accounts, are the
// permission rule's: lock_rule.h.
#pragma once
#include "waveform_path.h"

#define WIDE_(text) L##text
#define WIDE(text) WIDE_(text)

// The folder the package installs into unless told otherwise, and which the
// shipped task files name.
#define LAYOUT_DEFAULT_FOLDER "C:\\Qmx\\AWG10K\\"
// The task the package registers (schtasks /TN).
#define LAYOUT_TASK_NAME "minute-trigger"

// The files the package puts in the folder.
#define LAYOUT_PROGRAM "minute-trigger.exe"
#define LAYOUT_CHECK "minute-trigger-check.exe"
#define LAYOUT_LAUNCHER "run-minute-trigger.cmd"
#define LAYOUT_LOGON_TASK "minute-trigger-logon.xml"
#define LAYOUT_BOOT_TASK "minute-trigger-boot.xml"
// The documents carry the package's name: INSTALL.txt or BUILD.txt beside
// them may be the vendor's.
#define LAYOUT_INSTALL_TXT "minute-trigger-INSTALL.txt"
#define LAYOUT_BUILD_TXT "minute-trigger-BUILD.txt"
// 1.0.0's second program, which a task of that version could still run.
#define LAYOUT_PRECISE_1_0_0 "minute-trigger-precise.exe"

// The package's key under HKLM, in the package's own width's view of
// SOFTWARE (WOW6432Node for the 32-bit package on 64-bit Windows), and its
// subkey where the first install saves, for each object whose permissions
// it changed, a value named by its file ID: its path, the descriptor it had
// and the one it was given (SDDL), each on a line of its own.
#define LAYOUT_KEY "Software\\minute-trigger"
#define LAYOUT_SAVED_KEY LAYOUT_KEY "\\Saved"

// The launcher's log: beside the launcher, or, where that cannot be written
// (the logon task's, in the locked folder), under the user's
// %LOCALAPPDATA%, which is AppData\Local in their profile.
#define LAYOUT_LOG "minute-trigger.log"
#define LAYOUT_LOG_IN_LOCAL_APPDATA "minute-trigger\\" LAYOUT_LOG
#define LAYOUT_LOCAL_APPDATA_IN_PROFILE "AppData\\Local"

// Which process is this folder's launcher: a cmd.exe whose command line
// names FOLDER\run-minute-trigger.cmd (the Task Scheduler's and Explorer's
// starts name it by its full path), one in its 10 s pause included. Where no
// command line can be read (Wine), the cmd.exe at most kLauncherLevels above
// a program run from the folder: its parent on Windows, its grandparent
// under Wine, whose cmd starts it through start.exe.
#define LAYOUT_LAUNCHER_SHELL "cmd.exe"
constexpr int kLauncherLevels = 2;
