#!/usr/bin/env bash
# The Windows Installer package under Wine, in short scenarios, each on a
# fresh prefix of its own: those on an installed product start from a copy of
# one install, the refusals from a plain prefix, alongside them. In the x86_64
# set, the same .wxs built for x64 with the twin's programs and custom step (a
# DLL, which 64-bit Wine here cannot load at 32 bits).
#   tests/windows/msi.sh [--arch i686|x86_64]
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/windows/lib.sh
windows_set_up msi "$@"
hold_cpu_lock test-windows-msi
source tests/windows/msi_lib.sh
on_exit=end_scenarios

[ "$arch" = i686 ] || msi_first=$(package "$msi_version")
msi_rebuilt=$(package "$msi_version" rebuilt)
msi_second=$(package "$msi_higher")
msi_long=$(package "$msi_version" long long_task)
echo "test-windows: the package $msi_version, a rebuild of it, then $msi_higher over it: ${msi_first#"$PWD"/}, ${msi_rebuilt#"$PWD"/} and ${msi_second#"$PWD"/}"

# --- refusals, each on a plain prefix -------------------------------------------------
bogus() {
  msi bogus /i "$(winpath "$msi_first")" /qn TASK=bogus 'INSTALLDIR=C:\Lab\Bogus'
  settle
  # Wine halts the install at the launch condition but, with no window, shows
  # its message nowhere, not even in the log (Windows logs it): so the message
  # is read from the package, and the log shows where the install stopped,
  # before anything was written.
  check "TASK=bogus: fails, stopped by the launch condition on TASK, whose message names the values allowed" \
    same "failed|TASK must be logon (the default), boot or none.|LaunchConditions" \
    "$(failure "$status")|$(msiinfo export "$msi_first" LaunchCondition | tr -d '\r' | awk -F'\t' '$1 ~ /TASK=/ { sub(/.*: /, "", $2); print $2 }')|$(
       grep -a -o 'Action start [0-9:]*: [A-Za-z]*' "$tmp/bogus.log" | tail -n 1 | sed 's/.*: //')"
}
long_task_file() {
  msi long /i "$(winpath "$msi_long")" /qn 'INSTALLDIR=C:\Lab\Long'
  settle
  # Wine removes the folder it made itself; the waveform's folders, which the
  # install made, go by the step, from the deepest up.
  check "a package whose task file is over 128 KiB: fails, saying so, and leaves nothing: the folder gone, and the waveform's empty folders removed by the rollback step" \
    same "failed|too long|gone|removed, empty: C:\\Qmx\\ZPR\\samples removed, empty: C:\\Qmx\\ZPR removed, empty: C:\\Qmx" \
    "$(failure "$status")|$(tr -d '\000' <"$tmp/long.log" | grep -ao 'task-for-folder: .*too long' | sed 's/.*\(too long\).*/\1/' | head -n 1)|$(
       [ -e "$WINEPREFIX/drive_c/Lab/Long" ] || echo gone)|$(steps_said long 'removed, empty')"
}
# A folder planted with a winmm.dll, or with a launcher, a DLL a user owns
# (under Wine every file is Wine's user's) and the vendor's own INSTALL.txt
# and BUILD.txt.
plant() { planted=$WINEPREFIX/drive_c/Lab/Planted; mkdir -p "$planted"; echo 'echo planted' >"$planted/run-minute-trigger.cmd"; }
winmm() {
  plant
  cp "$msi_dll" "$planted/winmm.dll"
  msi planted /i "$(winpath "$msi_first")" /qn 'INSTALLDIR=C:\Lab\Planted'
  settle
  check "a winmm.dll in the folder: the install fails, saying so" \
    same "failed|a winmm.dll" "$(failure "$status")|$(steps_said planted winmm | grep -o 'a winmm.dll')"
}
# Wine makes a file's Unix mode from the permissions it is given: the
# folder's and the DLL's show the lock, and that the uninstall gives back
# something else (Wine's mode from the descriptor it made up from 755 is
# 775, so not the mode itself).
planted_modes() { stat -c %a "$planted" "$planted/AWG10K.dll" | paste -sd' '; }
user_dll() {
  local dll_status modes_before modes_locked
  plant
  cp "$msi_dll" "$planted/AWG10K.dll"
  printf "the vendor's own\r\n" | tee "$planted/INSTALL.txt" >"$planted/BUILD.txt"
  msi planted-dll /i "$(winpath "$msi_first")" /qn 'INSTALLDIR=C:\Lab\Planted'
  settle
  dll_status=$status
  plant  # Wine's rollback deletes the planted launcher too, Windows' would not.
  modes_before=$(planted_modes)
  msi planted-again /i "$(winpath "$msi_first")" /qn 'INSTALLDIR=C:\Lab\Planted' ACCEPTFILES=AWG10K.dll
  settle
  modes_locked=$(planted_modes)
  check "a user's AWG10K.dll in the folder: refused, naming it and ACCEPTFILES; named there, the install succeeds and logs it as one users could change" \
    same "failed|C:\\Lab\\Planted\\AWG10K.dll|ACCEPTFILES|0|C:\\Lab\\Planted\\AWG10K.dll" \
    "$(failure "$dll_status")|$(steps_said planted-dll 'refused' | sed 's/.*: //')|$(steps_said planted-dll 'refused' | grep -o ACCEPTFILES)|$status|$(
       steps_said planted-again 'users could change this before' | grep -o 'C:.*AWG10K.dll')"
  check "with AWG10K.dll accepted: the planted launcher alone deleted, the package's own written in its place; the vendor's INSTALL.txt and BUILD.txt as they were" \
    same "deleted, to be written afresh: C:\\Lab\\Planted\\run-minute-trigger.cmd|same|the vendor's own|the vendor's own" \
    "$(steps_said planted-again 'deleted')|$(cmp -s "$planted/run-minute-trigger.cmd" "$dist/run-minute-trigger.cmd" && echo same)|$(
       tr -d '\r' <"$planted/INSTALL.txt")|$(tr -d '\r' <"$planted/BUILD.txt")"
  report planted-check 'C:\Lab\Planted'
  grep 'users could change:' "$tmp/planted-check.txt" | sed 's/^/test-windows: | /' || true
  check "with AWG10K.dll accepted, the installed check: [note] that users could change AWG10K.dll before the install, advising to reinstall the vendor's software" \
    same "[note] before the install, users could change: AWG10K.dll (who: owned by|reinstall the vendor's software from its own medium, then repair" \
    "$(grep 'users could change:' "$tmp/planted-check.txt" | sed -n 's/^\(.*owned by\).*: \(reinstall .* then repair\).*/\1|\2/p')"
  msi planted-removed /x "$(winpath "$msi_first")" /qn
  settle
  check "uninstall: what the first install changed given back: the folder and the vendor's DLL (modes $modes_before, then $modes_locked) no longer locked, the saved permissions forgotten" \
    same "changed|changed back|before the install: C:\\Lab\\Planted\\AWG10K.dll|0" \
    "$([ "$modes_locked" = "$modes_before" ] || echo changed)|$([ "$(planted_modes)" = "$modes_locked" ] || echo changed back)|$(
       steps_said planted-removed 'given back' | grep -o 'before the install: C:\\Lab\\Planted\\AWG10K.dll')|$(remembered)"
}
# Where the path from the root cannot be locked: the users' folders (and
# Windows', ProgramData); under Program Files, only the folder below it is.
users_folder() {
  msi users /i "$(winpath "$msi_first")" /qn 'INSTALLDIR=C:\users\Public\AWG'
  settle
  check "INSTALLDIR in the users' folders: refused, saying so, nothing written there" \
    same "failed|the folder lies where its path cannot be locked|" \
    "$(failure "$status")|$(steps_said users 'cannot be locked' | grep -o 'the folder .* cannot be locked')|$(
       ls "$WINEPREFIX/drive_c/users/Public/AWG" 2>/dev/null | paste -sd' ')"
}
no_drive() {
  msi no-drive /i "$(winpath "$msi_first")" /qn 'INSTALLDIR=Q:\AWG'
  settle
  check "INSTALLDIR on a drive that is not there: refused, naming it" \
    same "failed|Q:\\" "$(failure "$status")|$(steps_said no-drive 'cannot open' | sed 's/.*: //')"
}
# TASK=none: nothing is locked, which the folders' Unix modes would show
# (above).
no_task() {
  local none=$WINEPREFIX/drive_c/Lab/None modes_before
  mkdir -p "$none"
  modes() { stat -c %a "$WINEPREFIX/drive_c" "$WINEPREFIX/drive_c/Lab" "$none" | paste -sd' '; }
  modes_before=$(modes)
  msi none /i "$(winpath "$msi_first")" /qn TASK=none 'INSTALLDIR=C:\Lab\None'
  settle
  check "TASK=none: succeeds; no task file and no task; the locking step not run, the folders' modes as they were" \
    same "0|minute-trigger-check.exe minute-trigger.exe run-minute-trigger.cmd|:|not run|$modes_before" \
    "$status|$(ls "$none" | grep -E '\.(exe|cmd|xml)$' | sort | paste -sd' ')|$(registered)|$(
       tr -d '\000' <"$tmp/none.log" | grep -aq 'Action start [0-9:]*: LockFolders' || echo not run)|$(modes)"
}
# Under Wine a Unix symbolic link shows as a reparse point, as a junction
# does on Windows.
junction() {
  local junction=$WINEPREFIX/drive_c/Lab/Junction outside=$WINEPREFIX/drive_c/Lab/Outside outside_was
  mkdir -p "$junction" "$outside"
  echo data >"$outside/data.txt"
  ln -s ../Outside "$junction/data"
  outside_was=$(stat -c '%a %n' "$outside" "$outside/data.txt" | paste -sd' ')
  msi junction /i "$(winpath "$msi_first")" /qn 'INSTALLDIR=C:\Lab\Junction'
  settle
  check "a junction in the folder: the install fails, naming it, before any permission is set or folder created; what it leads to as it was" \
    same "failed|C:\\Lab\\Junction\\data||$outside_was" \
    "$(failure "$status")|$(steps_said junction 'junction or link' | sed 's/.*: //')|$(
       steps_said junction 'set (\|created')|$(stat -c '%a %n' "$outside" "$outside/data.txt" | paste -sd' ')"
}
# Alongside the installed scenarios, which alone start the launcher (runs
# counts every prefix's), but one, after them, so that both end about
# together; the plain prefix made first, for both to copy.
refusals=(bogus long_task_file winmm user_dll users_folder no_drive no_task)
plain_prefix  # made before two copy it at once
for name in "${refusals[@]}"; do scenario "$name" "$name"; done &
refusals_pid=$!

# --- installed silently into a folder with a blank, the base of the rest ----------------
install_base() {
  msi install /i "$(winpath "$msi_first")" /qn "INSTALLDIR=$msi_folder"
  settle
  check "install into $msi_folder: succeeds; the program, the check, the launcher, both task files, minute-trigger-INSTALL.txt and minute-trigger-BUILD.txt; the logon task (the default) registered" \
    same "0|minute-trigger-BUILD.txt minute-trigger-INSTALL.txt minute-trigger-boot.xml minute-trigger-check.exe minute-trigger-logon.xml minute-trigger.exe run-minute-trigger.cmd|minute-trigger:logon" \
    "$status|$(ls "$msi_unix" 2>/dev/null | sort | paste -sd' ')|$(registered)"
  check "install: from the drive's root down, each missing folder on the way to the folder and to the waveform file created locked, the waveform file said to be missing; Wine's read-back skipped, and said" \
    same "created, locked: C:\\Lab\\ created, locked: C:\\Lab\\Dev AWG\\ created, locked: C:\\Qmx\\ created, locked: C:\\Qmx\\ZPR\\ created, locked: C:\\Qmx\\ZPR\\samples\\|C:\\Qmx\\ZPR\\samples\\lorvex_20Hz_60sec_length.zpr|Wine keeps no permissions: read-back skipped" \
    "$(steps_said install 'created, locked')|$(steps_said install 'waveform file is missing' | sed 's/.*: //')|$(steps_said install 'Wine keeps' | grep -o '.*read-back skipped')"
  check "install: both task files are the shipped ones naming $msi_folder\\run-minute-trigger.cmd in quotes, nothing else changed" names_only_folder
  report installed
  sed 's/^/test-windows: | /' "$tmp/installed.txt"
  check "minute-trigger-check, installed: each line a verdict, a fix under each but [ok] and [note], the summary last; the exit status its lines call for" \
    same "0|$(grep -cvE '^\[(ok|note)\]|^    fix: |^minute-trigger-check: ' "$tmp/installed.txt")|minute-trigger-check: $(counts "$tmp/installed.txt")|$(called_for installed)" \
    "$(grep -cvE '^(\[(ok|warn|FAIL|unknown|note)\] |    fix: |minute-trigger-check: )' "$tmp/installed.txt")|$(grep -c '^    fix: ' "$tmp/installed.txt")|$(tail -n 1 "$tmp/installed.txt")|$report_rc"
  check "minute-trigger-check, installed without AWG10K.dll: the program beside it [ok], the library [FAIL]; the task registered and enabled, its trigger and action [unknown] under Wine" \
    same "[ok]|[FAIL]|[ok]|[unknown]|[unknown]" "$(verdicts installed 'program:' 'device library:' 'task:' 'task trigger:' 'task action:')"
  settle
}
scenario install install_base
tally install
installed=$tmp/prefix-install

# --- each on a copy of that install ---------------------------------------------------
check_no_task() {
  cp "$msi_dll" "$msi_unix/"
  wine_run schtasks /Delete /TN minute-trigger /F || true
  report no-task
  check "minute-trigger-check, with the task deleted and the simulated AWG10K.dll beside it: the task [FAIL], the library [warn]; exit status 2" \
    same "[FAIL]|[warn]|2" "$(verdicts no-task 'task:' 'device library:')|$report_rc"
}
# A repair takes neither TASK nor INSTALLDIR from its command line
# (docs/windows.md says why). Under Wine every file is Wine's user's, so the
# package's programs are named as ones users may have written (on Windows the
# installer's own are the administrators').
accept_own='ACCEPTFILES=minute-trigger.exe;minute-trigger-check.exe;run-minute-trigger.cmd'
repair_task() {
  mkdir -p "$WINEPREFIX/drive_c/users/Public"
  cp "$dist/minute-trigger-boot.xml" "$WINEPREFIX/drive_c/users/Public/evil.xml"
  # The task disabled first, as a technician would: a repair must not enable
  # it. Wine's schtasks cannot disable one; Wine reads it from the file it keeps.
  sed -i 's|<Enabled>true</Enabled>|<Enabled>false</Enabled>|' "$tasks_dir/minute-trigger"
  msi repair-task /i "$(winpath "$msi_first")" /qn REINSTALL=ALL 'TASK=..\..\..\..\users\Public\evil' "$accept_own"
  settle
  check "a repair given TASK=..\\..\\..\\..\\users\\Public\\evil, a task file planted there: succeeds; the logon task still the one registered, and still disabled; the folder and task remembered unchanged" \
    same "0|minute-trigger:logon|false|$msi_folder\\ logon" "$status|$(registered)|$(task_enabled)|$(remembered_values)"
}
# With the launcher running, its cmd holding the log open for appending, as
# the boot task's does for good: the lock must still get through.
repair_folder() {
  start_launcher
  msi repair-folder /i "$(winpath "$msi_first")" /qn REINSTALL=ALL 'INSTALLDIR=C:\Elsewhere' "$accept_own;AWG10K.dll"
  end_running "$msi_folder\\"
  settle
  rm "$msi_unix/AWG10K.dll"
  check "a repair given INSTALLDIR=C:\\Elsewhere, while the launcher runs with its log open: succeeds; writes nothing there, the folder and task remembered unchanged, the installed files all still there" \
    same "0|nothing|$msi_folder\\ logon|7" \
    "$status|$(ls -A "$WINEPREFIX/drive_c/Elsewhere" 2>/dev/null | paste -sd' ' | grep . || echo nothing)|$(remembered_values)|$(ls "$msi_unix" | grep -vc '^minute-trigger\.log$')"
}
# A rebuild of the same version (msi-tables.sh says why it must upgrade),
# then a higher version over it while the launcher runs
# (end_folder_programs.cpp says why it must end).
rebuild_upgrade() {
  local before
  msi rebuilt /i "$(winpath "$msi_rebuilt")" /qn TASK=boot
  settle
  check "a rebuild of $msi_version with TASK=boot: succeeds; one product, of that version, the rebuild's files in the same folder; the boot task registered in the logon one's place" \
    same "0|$msi_version|minute-trigger $msi_version rebuilt|minute-trigger:boot" \
    "$status|$(products)|$(tr -d '\r' <"$msi_unix/minute-trigger-BUILD.txt" 2>/dev/null)|$(registered)"
  start_launcher
  before=$(runs)
  report running
  check "minute-trigger-check, while the launcher runs the program: running now [ok]" \
    same "[ok]" "$(verdicts running 'running now:')"
  # The simulated AWG10K.dll too, as the programs in accept_own.
  msi upgrade /i "$(winpath "$msi_second")" /qn ACCEPTFILES=AWG10K.dll
  check "upgrade to $msi_higher while the launcher ran the program from the folder: succeeds and ends both for good; one product, of that version, its files in the same folder, the remembered boot task still the one task" \
    same "1 1 0|0|0 running, 0 ends logged|$msi_higher|minute-trigger $msi_higher|minute-trigger:boot" \
    "$before|$status|$(left_behind)|$(products)|$(tr -d '\r' <"$msi_unix/minute-trigger-BUILD.txt" 2>/dev/null)|$(registered)"
  check "upgrade: both task files still the shipped ones naming the folder, nothing else changed" names_only_folder
}
# Uninstalled while the launcher runs, and a program of the same name elsewhere.
uninstall() {
  local before other_runs
  mkdir -p "$WINEPREFIX/drive_c/Lab/Other"
  cp "$programs/minute-trigger.exe" "$msi_dll" "$WINEPREFIX/drive_c/Lab/Other/"
  wine_run -b -o other "$other"
  start_launcher
  wait_for "$tmp/other.out" 'Triggering loop' 1
  before=$(runs)
  msi uninstall /x "$(winpath "$msi_first")" /qn
  other_runs=$(running "$other" | wc -l)
  end_running "$other"
  check "uninstall while the launcher ran the program from the folder: succeeds; the minute-trigger.exe in C:\\Lab\\Other runs on; the folder's end for good" \
    same "1 1 1|0|1|0 running, 0 ends logged" "$before|$status|$other_runs|$(left_behind)"
  check "uninstall: the task, every installed file, the product and the remembered folder and task gone; the simulated DLL and the log left" \
    same "|AWG10K.dll minute-trigger.log||0" \
    "$(ls "$tasks_dir" 2>/dev/null | paste -sd' ')|$(ls "$msi_unix" 2>/dev/null | sort | paste -sd' ')|$(products)|$(remembered)"
}
for name in check_no_task repair_task repair_folder rebuild_upgrade uninstall; do
  scenario "$name" "$name" "$installed"
  tally "$name"
done
scenario junction junction
tally junction

wait $refusals_pid || true
tally "${refusals[@]}"
summary
