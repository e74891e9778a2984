#!/usr/bin/env bash
# The Windows Installer package under Wine, on a fresh prefix of its own:
# installed silently, rebuilt at the same version with the boot task,
# upgraded and uninstalled while the launcher runs, and a bad TASK refused.
# In the x86_64 set, the same .wxs built for x64 with the twin's programs and
# custom step (a DLL, which 64-bit Wine here cannot load at 32 bits).
#   tests/windows/msi.sh [--arch i686|x86_64]
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/windows/lib.sh
windows_set_up msi "$@"
hold_cpu_lock test-windows-msi

msi_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win/CMakeCache.txt")
msi_higher=${msi_version%.*}.$((${msi_version##*.} + 1))

# package VERSION [NAME [CHANGE]]: the package (scripts/package-msi.sh) of the
# shipped files with $from's programs and custom step, its path printed; each
# build has a product code of its own. minute-trigger-BUILD.txt names VERSION
# and NAME, so that an upgrade shows in the installed folder; CHANGE, a
# command, is run on the staged files' folder.
package() {
  local stage=$tmp/$1${2:+-$2}
  cp -r "$dist" "$stage"
  cp "$from/minute-trigger.exe" "$from/minute-trigger-check.exe" "$stage/"
  printf 'minute-trigger %s\r\n' "$1${2:+ $2}" >"$stage/minute-trigger-BUILD.txt"
  [ -z "${3:-}" ] || $3 "$stage"
  scripts/package-msi.sh "$wixl_arch" "$1" "$stage" "$from/task-for-folder.dll" "$stage.msi" >&2
  echo "$stage.msi"
}
wixl_arch=x64 from=$win64 msi_dll=${sim[x86_64]}/AWG10K.dll msi_first=$PWD/$win/dist/minute-trigger-$msi_version-x86.msi
[ "$arch" = x86_64 ] || wixl_arch=x86 from=$win msi_dll=${sim[stdcall]}/AWG10K.dll
[ "$arch" = i686 ] || msi_first=$(package "$msi_version")
msi_rebuilt=$(package "$msi_version" rebuilt)
msi_second=$(package "$msi_higher")
# long_task DIR: the logon task padded past 128 KiB, which the custom step
# once read in part and wrote back cut short, with no error.
long_task() {
  local xml=$1/minute-trigger-logon.xml
  iconv -f UTF-16 -t UTF-8 "$xml" | sed "s|</Task>|<!-- $(head -c 70000 /dev/zero | tr '\0' x) --></Task>|" |
    iconv -f UTF-8 -t UTF-16 >"$xml.long"
  mv "$xml.long" "$xml"
}
msi_long=$(package "$msi_version" long long_task)
echo "test-windows: the package $msi_version, a rebuild of it, then $msi_higher over it: ${msi_first#"$PWD"/}, ${msi_rebuilt#"$PWD"/} and ${msi_second#"$PWD"/}"

new_prefix "$tmp/msi-prefix" "for the package, fresh,"

msi_folder='C:\Lab\Dev AWG' other='C:\Lab\Other\minute-trigger.exe'
msi_unix="$WINEPREFIX/drive_c/Lab/Dev AWG"
tasks_dir=$WINEPREFIX/drive_c/windows/system32/tasks log="$msi_unix/minute-trigger.log"
# msi NAME ARG...: msiexec, its log in $tmp/NAME.log, its exit status in status.
msi() {
  status=0
  wine_run -o "msi-$1" msiexec "${@:2}" /l*v "$(winpath "$tmp/$1.log")" || status=$?
  echo "test-windows: msiexec ${*:2} exited $status"
}
# settle [SECONDS]: until Wine has no process left (the registry written out), up to 120 s.
settle() { timeout "${1:-120}" wineserver -w || true; }
# products: the version of each product named minute-trigger in Apps & features
# (a key under ...\Uninstall); remembered: the keys keeping its folder and task.
products() {
  awk -F'"' '/^\[/ { if (name == "minute-trigger") print version; name = version = ""; listed = /\\Uninstall\\/ }
             listed && $2 == "DisplayName" { name = $4 }
             listed && $2 == "DisplayVersion" { version = $4 }
             END { if (name == "minute-trigger") print version }' "$WINEPREFIX/system.reg" | paste -sd' '
}
task_enabled() { xmllint --xpath "string(//*[local-name()='Settings']/*[local-name()='Enabled'])" "$tasks_dir/minute-trigger" 2>/dev/null; }
remembered() { grep -c '\\minute-trigger\]' "$WINEPREFIX/system.reg" || true; }
# remembered_values: the folder and the task kept there, as Wine writes them.
remembered_values() {
  awk -F'"' '/^\[/ { on = /\\minute-trigger\]/ } on && $2 ~ /^(InstallDir|Task)$/ { print $4 }' "$WINEPREFIX/system.reg" |
    sed 's/\\\\/\\/g' | paste -sd' '
}
text() { iconv -f UTF-16 -t UTF-8 "$1" 2>/dev/null | tr -d '\r'; }
# steps_said NAME TEXT: what the custom steps logged in msiexec NAME's log
# holding TEXT, one line after another.
steps_said() { tr -d '\000\r' <"$tmp/$1.log" | sed -n "s/.*task-for-folder: \(.*$2.*\)/\1/p" | paste -sd' '; }
# names_only_folder: both task files in the folder are the shipped ones (the
# launcher in quotes there) with the default folder made the installed one,
# and nothing else changed.
names_only_folder() {
  local kind
  for kind in logon boot; do
    same "$(text "$dist/minute-trigger-$kind.xml" | sed 's/C:\\Qmx\\AWG10K\\/C:\\Lab\\Dev AWG\\/g')" \
         "$(text "$msi_unix/minute-trigger-$kind.xml")" || return 1
  done
}
# registered: the tasks Wine keeps, and the kind of the one registered, by its
# description (Wine drops the trigger, the principal and the action).
registered() {
  echo "$(ls "$tasks_dir" 2>/dev/null | paste -sd' '):$(sed -n 's/.*<Description>Runs minute-trigger for good from \(every start\|the logon\) .*/\1/p' \
    "$tasks_dir/minute-trigger" 2>/dev/null | sed 's/every start/boot/; s/the logon/logon/')"
}
# running TEXT: the processes whose command line (Wine shows the Windows one)
# holds TEXT, one id a line: the launcher names its folder's .cmd, a program
# its own path; Wine's start.exe, a process where Windows' start is cmd's own,
# names the program it waits for, and is not counted. runs: how many of the
# folder's launcher, its program and C:\Lab\Other's program run.
running() { ps -eo pid=,args= | grep -F -- "$1" | grep -v -e grep -e 'start\.exe' | awk '{ print $1 }' || true; }
runs() {
  local t
  for t in "$msi_folder\\run-minute-trigger.cmd" "$msi_folder\\minute-trigger.exe" "$other"; do running "$t" | wc -l; done | paste -sd' '
}
end_running() { local pid; for pid in $(running "$1"); do kill "$pid"; done; }
# start_launcher: the folder's launcher, as the task starts it, running the
# program beside a simulated AWG10K.dll (put there as the vendor's would be),
# until the log holds one more start of the program's loop.
start_launcher() {
  local loops
  loops=$(count "$log" 'Triggering loop')
  cp "$msi_dll" "$msi_unix/"
  wine_run -b cmd /c "$msi_folder\\run-minute-trigger.cmd"
  wait_for "$log" 'Triggering loop' $((loops + 1))
  ends_before=$(count "$log" 'ended with exit code')
}
count() { local n; n=$(grep -ac "$2" "$1" 2>/dev/null) || true; echo "${n:-0}"; }  # FILE TEXT: lines holding it
# wait_for FILE TEXT N: until FILE has N lines holding TEXT, up to 60 s.
wait_for() { local i; for ((i = 0; i < 600; i++)); do [ "$(count "$1" "$2")" -lt "$3" ] || return 0; sleep 0.1; done; }
# left_behind: what of the folder runs once Wine has settled, or 30 s on, and
# the ends the launcher logged since it started; whatever runs is ended then.
# A launcher left running logs its program's end and starts it again 10 s
# later; a program left running spins for good.
left_behind() {
  settle 30
  echo "$(running "$msi_folder\\" | wc -l) running, $(($(count "$log" 'ended with exit code') - ends_before)) ends logged"
  end_running "$msi_folder\\"
  settle
}

# --- installed silently into a folder with a blank --------------------------------
msi install /i "$(winpath "$msi_first")" /qn "INSTALLDIR=$msi_folder"
settle
check "install into $msi_folder: succeeds; the program, the check, the launcher, both task files, minute-trigger-INSTALL.txt and minute-trigger-BUILD.txt; the logon task (the default) registered" \
  same "0|minute-trigger-BUILD.txt minute-trigger-INSTALL.txt minute-trigger-boot.xml minute-trigger-check.exe minute-trigger-logon.xml minute-trigger.exe run-minute-trigger.cmd|minute-trigger:logon" \
  "$status|$(ls "$msi_unix" 2>/dev/null | sort | paste -sd' ')|$(registered)"
check "install: from the drive's root down, each missing folder on the way to the folder and to the waveform file created locked, the waveform file said to be missing; Wine's read-back skipped, and said" \
  same "created, locked: C:\\Lab\\ created, locked: C:\\Lab\\Dev AWG\\ created, locked: C:\\Qmx\\ created, locked: C:\\Qmx\\ZPR\\ created, locked: C:\\Qmx\\ZPR\\samples\\|C:\\Qmx\\ZPR\\samples\\lorvex_20Hz_60sec_length.zpr|Wine keeps no permissions: read-back skipped" \
  "$(steps_said install 'created, locked')|$(steps_said install 'waveform file is missing' | sed 's/.*: //')|$(steps_said install 'Wine keeps' | grep -o '.*read-back skipped')"
check "install: both task files are the shipped ones naming $msi_folder\\run-minute-trigger.cmd in quotes, nothing else changed" names_only_folder

# --- minute-trigger-check, as installed --------------------------------------------
# report NAME: the installed check's report in $tmp/NAME.txt (CR dropped),
# its exit status in report_rc. verdicts NAME SUBJECT...: the verdict of
# each subject's first line, joined by |.
report() {
  report_rc=0
  wine_run -o "$1" "$msi_folder\\minute-trigger-check.exe" || report_rc=$?
  tr -d '\r' <"$tmp/$1.out" >"$tmp/$1.txt"
}
verdicts() {
  local name=$1 subject
  shift
  for subject in "$@"; do grep -m1 "^\[[a-zA-Z]*\] $subject" "$tmp/$name.txt" | cut -d' ' -f1; done | paste -sd'|'
}
# The status its lines call for: 2 with a [FAIL], 1 with a [warn], 3 with an
# [unknown], else 0.
called_for() {
  local mark
  for mark in FAIL:2 warn:1 unknown:3; do grep -q "^\[${mark%:*}\]" "$tmp/$1.txt" && { echo "${mark#*:}"; return; }; done
  echo 0
}
report installed
sed 's/^/test-windows: | /' "$tmp/installed.txt"
counts() {
  local mark counts=()
  for mark in ok warn FAIL unknown note; do counts+=("$(grep -c "^\[$mark\]" "$1")"); done
  echo "${counts[0]} ok, ${counts[1]} warn, ${counts[2]} FAIL, ${counts[3]} unknown, ${counts[4]} noted"
}
check "minute-trigger-check, installed: each line a verdict, a fix under each but [ok] and [note], the summary last; the exit status its lines call for" \
  same "0|$(grep -cvE '^\[(ok|note)\]|^    fix: |^minute-trigger-check: ' "$tmp/installed.txt")|minute-trigger-check: $(counts "$tmp/installed.txt")|$(called_for installed)" \
  "$(grep -cvE '^(\[(ok|warn|FAIL|unknown|note)\] |    fix: |minute-trigger-check: )' "$tmp/installed.txt")|$(grep -c '^    fix: ' "$tmp/installed.txt")|$(tail -n 1 "$tmp/installed.txt")|$report_rc"
check "minute-trigger-check, installed without AWG10K.dll: the program beside it [ok], the library [FAIL]; the task registered and enabled, its trigger and action [unknown] under Wine" \
  same "[ok]|[FAIL]|[ok]|[unknown]|[unknown]" "$(verdicts installed 'program:' 'device library:' 'task:' 'task trigger:' 'task action:')"
cp "$msi_dll" "$msi_unix/"
wine_run schtasks /Delete /TN minute-trigger /F || true
report no-task
check "minute-trigger-check, with the task deleted and the simulated AWG10K.dll beside it: the task [FAIL], the library [warn]; exit status 2" \
  same "[FAIL]|[warn]|2" "$(verdicts no-task 'task:' 'device library:')|$report_rc"
wine_run schtasks /Create /TN minute-trigger /XML "$msi_folder\\minute-trigger-logon.xml" /F || true
rm "$msi_unix/AWG10K.dll"
# --- repairs given a TASK and an INSTALLDIR of their own ------------------------------
# A standard user may start a repair of a per-machine product on a PC without
# the 2024-2025 repair updates: it must take neither from its command line.
# The planted task runs as SYSTEM, in a folder every user may write. Under
# Wine every file is owned by Wine's own user, so the package's programs are
# named as ones users may have written (on Windows the installer's own are
# the administrators').
accept_own='ACCEPTFILES=minute-trigger.exe;minute-trigger-check.exe;run-minute-trigger.cmd'
mkdir -p "$WINEPREFIX/drive_c/users/Public"
cp "$dist/minute-trigger-boot.xml" "$WINEPREFIX/drive_c/users/Public/evil.xml"
# The task disabled first, as a technician would: a repair must not enable it.
# Wine's schtasks cannot disable one; Wine reads it from the file it keeps.
sed -i 's|<Enabled>true</Enabled>|<Enabled>false</Enabled>|' "$tasks_dir/minute-trigger"
msi repair-task /i "$(winpath "$msi_first")" /qn REINSTALL=ALL 'TASK=..\..\..\..\users\Public\evil' "$accept_own"
settle
check "a repair given TASK=..\\..\\..\\..\\users\\Public\\evil, a task file planted there: succeeds; the logon task still the one registered, and still disabled; the folder and task remembered unchanged" \
  same "0|minute-trigger:logon|false|$msi_folder\\ logon" "$status|$(registered)|$(task_enabled)|$(remembered_values)"
# With the launcher running, its cmd holding the log open for appending, as
# the boot task's does for good: the lock must still get through.
start_launcher
msi repair-folder /i "$(winpath "$msi_first")" /qn REINSTALL=ALL 'INSTALLDIR=C:\Elsewhere' "$accept_own;AWG10K.dll"
end_running "$msi_folder\\"
settle
rm "$msi_unix/AWG10K.dll"
check "a repair given INSTALLDIR=C:\\Elsewhere, while the launcher runs with its log open: succeeds; writes nothing there, the folder and task remembered unchanged, the installed files all still there" \
  same "0|nothing|$msi_folder\\ logon|7" \
  "$status|$(ls -A "$WINEPREFIX/drive_c/Elsewhere" 2>/dev/null | paste -sd' ' | grep . || echo nothing)|$(remembered_values)|$(ls "$msi_unix" | grep -vc '^minute-trigger\.log$')"

# --- a rebuild of the same version, with the boot task ------------------------------
# Each build has a product code of its own: unless the upgrade row takes in its
# own version, the rebuild installs beside the first as a second product.
msi rebuilt /i "$(winpath "$msi_rebuilt")" /qn TASK=boot
settle
check "a rebuild of $msi_version with TASK=boot: succeeds; one product, of that version, the rebuild's files in the same folder; the boot task registered in the logon one's place" \
  same "0|$msi_version|minute-trigger $msi_version rebuilt|minute-trigger:boot" \
  "$status|$(products)|$(tr -d '\r' <"$msi_unix/minute-trigger-BUILD.txt" 2>/dev/null)|$(registered)"

# --- a higher version over it while the launcher runs -------------------------------
# The older launcher, left running, would read the new launcher from its old
# byte offset, and start the program again beside the task's new one.
start_launcher
before=$(runs)
report running
check "minute-trigger-check, while the launcher runs the program: running now [ok]" \
  same "[ok]" "$(verdicts running 'running now:')"
# The simulated AWG10K.dll is Wine's user's, as every file is.
msi upgrade /i "$(winpath "$msi_second")" /qn ACCEPTFILES=AWG10K.dll
check "upgrade to $msi_higher while the launcher ran the program from the folder: succeeds and ends both for good; one product, of that version, its files in the same folder, the remembered boot task still the one task" \
  same "1 1 0|0|0 running, 0 ends logged|$msi_higher|minute-trigger $msi_higher|minute-trigger:boot" \
  "$before|$status|$(left_behind)|$(products)|$(tr -d '\r' <"$msi_unix/minute-trigger-BUILD.txt" 2>/dev/null)|$(registered)"
check "upgrade: both task files still the shipped ones naming the folder, nothing else changed" names_only_folder

# --- uninstalled while the launcher runs, and a program of the same name elsewhere --
mkdir -p "$WINEPREFIX/drive_c/Lab/Other"
cp "$programs/minute-trigger.exe" "$msi_dll" "$WINEPREFIX/drive_c/Lab/Other/"
wine_run -b -o other "$other"
start_launcher
wait_for "$tmp/other.out" 'Triggering loop' 1
before=$(runs)
msi uninstall /x "$(winpath "$msi_second")" /qn
other_runs=$(running "$other" | wc -l)
end_running "$other"
check "uninstall while the launcher ran the program from the folder: succeeds; the minute-trigger.exe in C:\\Lab\\Other runs on; the folder's end for good" \
  same "1 1 1|0|1|0 running, 0 ends logged" "$before|$status|$other_runs|$(left_behind)"
check "uninstall: the task, every installed file, the product and the remembered folder and task gone; the simulated DLL and the log left" \
  same "|AWG10K.dll minute-trigger.log||0" \
  "$(ls "$tasks_dir" 2>/dev/null | paste -sd' ')|$(ls "$msi_unix" 2>/dev/null | sort | paste -sd' ')|$(products)|$(remembered)"

# --- TASK=bogus --------------------------------------------------------------------
msi bogus /i "$(winpath "$msi_first")" /qn TASK=bogus 'INSTALLDIR=C:\Lab\Bogus'
settle
# Wine halts the install at the launch condition but, with no window, shows
# its message nowhere, not even in the log (Windows logs it): so the message
# is read from the package, and the log shows where the install stopped,
# before anything was written.
check "TASK=bogus: fails, stopped by the launch condition on TASK, whose message names the values allowed" \
  same "failed|TASK must be logon (the default), boot or none.|LaunchConditions" \
  "$([ "$status" -eq 0 ] || echo failed)|$(msiinfo export "$msi_first" LaunchCondition | tr -d '\r' | awk -F'\t' '$1 ~ /TASK=/ { sub(/.*: /, "", $2); print $2 }')|$(
     grep -a -o 'Action start [0-9:]*: [A-Za-z]*' "$tmp/bogus.log" | tail -n 1 | sed 's/.*: //')"
# --- a task file too long for the custom step -------------------------------------
msi long /i "$(winpath "$msi_long")" /qn 'INSTALLDIR=C:\Lab\Long'
settle
# Wine removes the folder it made itself; the waveform's folders, empty here
# (the uninstall leaves them), go by the step, from the deepest up.
check "a package whose task file is over 128 KiB: fails, saying so, and leaves nothing: the folder gone, and the waveform's empty folders removed by the rollback step" \
  same "failed|too long|gone|removed, empty: C:\\Qmx\\ZPR\\samples removed, empty: C:\\Qmx\\ZPR removed, empty: C:\\Qmx" \
  "$([ "$status" -eq 0 ] || echo failed)|$(tr -d '\000' <"$tmp/long.log" | grep -ao 'task-for-folder: .*too long' | sed 's/.*\(too long\).*/\1/' | head -n 1)|$(
     [ -e "$WINEPREFIX/drive_c/Lab/Long" ] || echo gone)|$(steps_said long 'removed, empty')"
# --- planted files, and folders whose path cannot be locked -----------------------
# A winmm.dll beside the program would be loaded before Windows' own; a
# planted launcher deleted, so that the package's own is written afresh; a
# DLL a user owns (under Wine every file is Wine's user's) refused unless
# ACCEPTFILES names it; the vendor's own INSTALL.txt and BUILD.txt, whose
# names are generic, left to it.
planted=$WINEPREFIX/drive_c/Lab/Planted
mkdir -p "$planted"
cp "$msi_dll" "$planted/winmm.dll"
plant() { echo 'echo planted' >"$planted/run-minute-trigger.cmd"; }
plant
msi planted /i "$(winpath "$msi_first")" /qn 'INSTALLDIR=C:\Lab\Planted'
settle
planted_status=$status
# Wine's rollback deletes the planted launcher too, Windows' would not.
rm "$planted/winmm.dll"
cp "$msi_dll" "$planted/AWG10K.dll"
printf "the vendor's own\r\n" | tee "$planted/INSTALL.txt" >"$planted/BUILD.txt"
plant
msi planted-dll /i "$(winpath "$msi_first")" /qn 'INSTALLDIR=C:\Lab\Planted'
settle
dll_status=$status
plant
# Wine makes a file's Unix mode from the permissions it is given: the
# folder's and the DLL's show the lock, and that the uninstall gives back
# something else (Wine's mode from the descriptor it made up from 755 is
# 775, so not the mode itself).
planted_modes() { stat -c %a "$planted" "$planted/AWG10K.dll" | paste -sd' '; }
modes_before=$(planted_modes)
msi planted-again /i "$(winpath "$msi_first")" /qn 'INSTALLDIR=C:\Lab\Planted' ACCEPTFILES=AWG10K.dll
settle
modes_locked=$(planted_modes)
check "a winmm.dll in the folder: the install fails, saying so" \
  same "failed|a winmm.dll" "$([ "$planted_status" -eq 0 ] || echo failed)|$(steps_said planted winmm | grep -o 'a winmm.dll')"
check "a user's AWG10K.dll in the folder: refused, naming it and ACCEPTFILES; named there, the install succeeds and logs it as one users could change" \
  same "failed|C:\\Lab\\Planted\\AWG10K.dll|ACCEPTFILES|0|C:\\Lab\\Planted\\AWG10K.dll" \
  "$([ "$dll_status" -eq 0 ] || echo failed)|$(steps_said planted-dll 'refused' | sed 's/.*: //')|$(steps_said planted-dll 'refused' | grep -o ACCEPTFILES)|$status|$(
     steps_said planted-again 'users could change this before' | grep -o 'C:.*AWG10K.dll')"
check "with AWG10K.dll accepted: the planted launcher alone deleted, the package's own written in its place; the vendor's INSTALL.txt and BUILD.txt as they were" \
  same "deleted, to be written afresh: C:\\Lab\\Planted\\run-minute-trigger.cmd|same|the vendor's own|the vendor's own" \
  "$(steps_said planted-again 'deleted')|$(cmp -s "$planted/run-minute-trigger.cmd" "$dist/run-minute-trigger.cmd" && echo same)|$(
     tr -d '\r' <"$planted/INSTALL.txt")|$(tr -d '\r' <"$planted/BUILD.txt")"
msi planted-removed /x "$(winpath "$msi_first")" /qn
settle
# (Wine's RemoveExistingProducts names no UPGRADINGPRODUCTCODE, so under Wine
# an upgrade's removal of the older version gives back too: the first
# install and the uninstall above are one product's.)
check "uninstall: what the first install changed given back: the folder and the vendor's DLL (modes $modes_before, then $modes_locked) no longer locked, the saved permissions forgotten" \
  same "changed|changed back|before the install: C:\\Lab\\Planted\\AWG10K.dll|0" \
  "$([ "$modes_locked" = "$modes_before" ] || echo changed)|$([ "$(planted_modes)" = "$modes_locked" ] || echo changed back)|$(
     steps_said planted-removed 'given back' | grep -o 'before the install: C:\\Lab\\Planted\\AWG10K.dll')|$(remembered)"
# Where the path from the root cannot be locked: the users' folders (and
# Windows', ProgramData); under Program Files, only the folder below it is.
msi users /i "$(winpath "$msi_first")" /qn 'INSTALLDIR=C:\users\Public\AWG'
settle
check "INSTALLDIR in the users' folders: refused, saying so, nothing written there" \
  same "failed|the folder lies where its path cannot be locked|" \
  "$([ "$status" -eq 0 ] || echo failed)|$(steps_said users 'cannot be locked' | grep -o 'the folder .* cannot be locked')|$(
     ls "$WINEPREFIX/drive_c/users/Public/AWG" 2>/dev/null | paste -sd' ')"

msi no-drive /i "$(winpath "$msi_first")" /qn 'INSTALLDIR=Q:\AWG'
settle
check "INSTALLDIR on a drive that is not there: refused, naming it" \
  same "failed|Q:\\" "$([ "$status" -eq 0 ] || echo failed)|$(steps_said no-drive 'cannot open' | sed 's/.*: //')"

# --- TASK=none: nothing runs as SYSTEM or for every user, so nothing is locked ------
# Wine makes a file's Unix mode from the permissions it is given: a lock
# would show there.
none=$WINEPREFIX/drive_c/Lab/None
mkdir -p "$none"
modes() { stat -c %a "$WINEPREFIX/drive_c" "$WINEPREFIX/drive_c/Lab" "$none" | paste -sd' '; }
modes_before=$(modes)
msi none /i "$(winpath "$msi_first")" /qn TASK=none 'INSTALLDIR=C:\Lab\None'
settle
check "TASK=none: succeeds; no task file and no task; the locking step not run, the folders' modes as they were" \
  same "0|minute-trigger-check.exe minute-trigger.exe run-minute-trigger.cmd|:|not run|$modes_before" \
  "$status|$(ls "$none" | grep -E '\.(exe|cmd|xml)$' | sort | paste -sd' ')|$(registered)|$(
     tr -d '\000' <"$tmp/none.log" | grep -aq 'Action start [0-9:]*: LockFolders' || echo not run)|$(modes)"
msi none-removed /x "$(winpath "$msi_first")" /qn
settle

# --- a junction planted in the folder ------------------------------------------------
# Under Wine a Unix symbolic link shows as a reparse point, as a junction
# does on Windows: the lock would follow it out of the folder.
junction=$WINEPREFIX/drive_c/Lab/Junction outside=$WINEPREFIX/drive_c/Lab/Outside
mkdir -p "$junction" "$outside"
echo data >"$outside/data.txt"
ln -s ../Outside "$junction/data"
outside_was=$(stat -c '%a %n' "$outside" "$outside/data.txt" | paste -sd' ')
msi junction /i "$(winpath "$msi_first")" /qn 'INSTALLDIR=C:\Lab\Junction'
settle
check "a junction in the folder: the install fails, naming it, before any permission is set or folder created; what it leads to as it was" \
  same "failed|C:\\Lab\\Junction\\data||$outside_was" \
  "$([ "$status" -eq 0 ] || echo failed)|$(steps_said junction 'junction or link' | sed 's/.*: //')|$(
     steps_said junction 'set (\|created')|$(stat -c '%a %n' "$outside" "$outside/data.txt" | paste -sd' ')"
summary
