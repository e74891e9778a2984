#!/usr/bin/env bash
# The Windows Installer package under Wine, on a fresh prefix of its own:
# installed silently, upgraded, uninstalled while the program runs, and a bad
# TASK refused. i686: the shipped package, and a higher version of it.
# x86_64: the same .wxs built for x64 with the x86-64 twin's programs and
# custom step, for these tests only (64-bit Wine here starts no 32-bit
# program, and the custom step is a DLL loaded into one).
#   tests/windows/msi.sh [--arch i686|x86_64]
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/windows/lib.sh
windows_set_up msi "$@"
hold_cpu_lock test-windows-msi

msi_dir=$tmp/msi
mkdir -p "$msi_dir"
msi_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win/CMakeCache.txt")
msi_higher=${msi_version%.*}.$((${msi_version##*.} + 1))

# package WIXL_ARCH VERSION BUILD: the package (scripts/package-msi.sh) of
# the shipped files with BUILD's programs and custom step, its path printed.
# BUILD.txt names VERSION, so that an upgrade shows in the installed folder.
package() {
  local stage=$msi_dir/$1-$2
  mkdir -p "$stage"
  cp "$dist"/* "$stage/"
  cp "$3/minute-trigger.exe" "$3/minute-trigger-precise.exe" "$stage/"
  printf 'minute-trigger %s\r\n' "$2" >"$stage/BUILD.txt"
  scripts/package-msi.sh "$1" "$2" "$stage" "$3/task-for-folder.dll" "$stage.msi" >&2
  echo "$stage.msi"
}
if [ "$arch" = i686 ]; then
  msi_first=$PWD/$win/dist/minute-trigger-$msi_version-x86.msi
  msi_second=$(package x86 "$msi_higher" "$win")
  msi_dll=${sim[stdcall]}/AWG10K.dll
else
  msi_first=$(package x64 "$msi_version" "$win64")
  msi_second=$(package x64 "$msi_higher" "$win64")
  msi_dll=${sim[x86_64]}/AWG10K.dll
fi
echo "test-windows: the package $msi_version, then $msi_higher over it: ${msi_first#"$PWD"/} and ${msi_second#"$PWD"/}"

# The order of the package's own steps among Windows Installer's: a deferred
# step placed outside InstallInitialize..InstallFinalize never runs, and one
# that ends the programs after RemoveFiles comes too late.
check "package: its steps in order: the tools' paths set before InstallInitialize, the task and the programs ended before RemoveFiles, the task written and registered after InstallFiles" \
  same "CostFinalize SetSystemTools SetSystemTools64 SetSchtasks SetTaskkill SetCmd SetWriteTaskData InstallInitialize DisableTask EndTask EndProgram EndPreciseProgram DeleteTask DeleteTaskFile RemoveFiles InstallFiles WriteTask CreateTask RunTask InstallFinalize" \
  "$(msiinfo export "$msi_first" InstallExecuteSequence | tr -d '\r' | tail -n +4 | awk -F'\t' '{ print $3, $1 }' | sort -n |
     awk '$2 ~ /^(CostFinalize|Install(Initialize|Files|Finalize)|RemoveFiles)$|Task|Program|^Set/ { print $2 }' | paste -sd' ')"

new_prefix "$tmp/msi-prefix" "for the package, fresh,"

msi_folder='C:\Lab\Dev AWG'
msi_unix="$WINEPREFIX/drive_c/Lab/Dev AWG"
tasks_dir=$WINEPREFIX/drive_c/windows/system32/tasks
handed=$msi_unix/minute-trigger-task.xml
# run_msiexec NAME ARG...: runs msiexec, its log in $msi_dir/NAME.log; returns
# its status once Wine has settled, with every step run and the registry
# written out.
run_msiexec() {
  local name=$1 status=0
  shift
  wine_run -o "msi-$name" -t 300 msiexec "$@" /l*v "$(winpath "$msi_dir/$name.log")" || status=$?
  timeout 120 wineserver -w || true
  echo "test-windows: msiexec $* exited $status"
  return $status
}
# products: the version of each product named minute-trigger that Apps &
# features lists (a key under ...\Uninstall), one a line.
products() {
  awk '/^\[/ { if (name == "minute-trigger") print version; name = version = ""; listed = /\\Uninstall\\/ }
       !listed { next }
       /^"DisplayName"=/ { name = $0; sub(/^[^=]*="/, "", name); sub(/"$/, "", name) }
       /^"DisplayVersion"=/ { version = $0; sub(/^[^=]*="/, "", version); sub(/"$/, "", version) }
       END { if (name == "minute-trigger") print version }' "$WINEPREFIX/system.reg"
}
remembered() { grep -c '\\minute-trigger\]' "$WINEPREFIX/system.reg" || true; }
text() { iconv -f UTF-16 -t UTF-8 "$1" 2>/dev/null | tr -d '\r'; }
# names_only_folder FILE: FILE is the shipped logon task with the default
# folder made the installed one, and nothing else changed.
names_only_folder() {
  same "$(text "$dist/minute-trigger-logon.xml")" \
       "$(text "$1" | sed 's/C:\\Lab\\Dev AWG\\/C:\\Qmx\\AWG10K\\/g')" &&
    grep -qF "$msi_folder\\run-minute-trigger.cmd" <(text "$1")
}
# An action's arguments are one command line: there, a folder with a blank
# must stand inside quotes.
arguments_quote_folder() {
  local args
  args=$(text "$1" | sed -n 's:.*<Arguments>\(.*\)</Arguments>.*:\1:p')
  ! grep -F "$msi_folder" <<<"$args" | grep -vqF -e "\"$msi_folder" -e "&quot;$msi_folder"
}

# --- installed silently into a folder of its own -------------------------------
status=0
run_msiexec install /i "$(winpath "$msi_first")" /qn "INSTALLDIR=$msi_folder" || status=$?
check "install into $msi_folder: succeeds; the two programs, the launcher, both task files, INSTALL.txt, BUILD.txt, and the task written for the folder" \
  same "0|BUILD.txt INSTALL.txt minute-trigger-boot.xml minute-trigger-logon.xml minute-trigger-precise.exe minute-trigger-task.xml minute-trigger.exe run-minute-trigger.cmd" \
  "$status|$(ls "$msi_unix" 2>/dev/null | sort | paste -sd' ')"
check "install: the logon task (the default) registered, as schtasks was handed it" \
  same "minute-trigger|logon" "$(ls "$tasks_dir" 2>/dev/null | paste -sd' ')|$(text "$handed" | grep -q LogonTrigger && echo logon)"
check "install: the task handed to schtasks is the shipped one naming $msi_folder\\run-minute-trigger.cmd, nothing else changed" \
  names_only_folder "$handed"
check "install: in the task's arguments, the folder with its blank stands in quotes" arguments_quote_folder "$handed"

# --- a higher version over it -----------------------------------------------------
status=0
run_msiexec upgrade /i "$(winpath "$msi_second")" /qn || status=$?
check "upgrade to $msi_higher: succeeds; one product, of that version" same "0|$msi_higher" "$status|$(products | paste -sd' ')"
check "upgrade: the new files in the same folder, one task, its file naming that folder's launcher" \
  same "minute-trigger $msi_higher|minute-trigger|yes" \
  "$(tr -d '\r' <"$msi_unix/BUILD.txt" 2>/dev/null)|$(ls "$tasks_dir" 2>/dev/null | paste -sd' ')|$(names_only_folder "$handed" >/dev/null && echo yes)"

# --- uninstalled while the program runs from the folder ---------------------------
# The simulated DLL is put beside the program as the vendor's would be; the
# program's output goes to minute-trigger.log there, as the launcher's does.
cp "$msi_dll" "$msi_unix/"
echo "test-windows: minute-trigger.exe running from $msi_folder beside a simulated AWG10K.dll"
(cd "$tmp" && exec "$wine" "$msi_folder\\minute-trigger.exe" </dev/null >>"$msi_unix/minute-trigger.log" 2>&1) &
msi_pid=$!
for ((i = 0; i < 600; i++)); do grep -q 'Triggering loop' "$msi_unix/minute-trigger.log" 2>/dev/null && break; sleep 0.1; done
check "uninstall: the program was running from the folder beforehand" grep -q 'Triggering loop' "$msi_unix/minute-trigger.log"
status=0
run_msiexec uninstall /x "$(winpath "$msi_second")" /qn || status=$?
for ((i = 0; i < 100; i++)); do kill -0 $msi_pid 2>/dev/null || break; sleep 0.1; done
ended=yes
if kill -0 $msi_pid 2>/dev/null; then
  ended=no
  WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
fi
wait $msi_pid 2>/dev/null || true
check "uninstall: succeeds, and the program has ended" same "0|yes" "$status|$ended"
check "uninstall: the task and every installed file gone; the simulated DLL and the log left" \
  same "|AWG10K.dll minute-trigger.log" "$(ls "$tasks_dir" 2>/dev/null | paste -sd' ')|$(ls "$msi_unix" 2>/dev/null | sort | paste -sd' ')"
check "uninstall: no product listed, nothing remembered" same "|0" "$(products | paste -sd' ')|$(remembered)"

# --- TASK=bogus --------------------------------------------------------------------
status=0
run_msiexec bogus /i "$(winpath "$msi_first")" /qn TASK=bogus 'INSTALLDIR=C:\Lab\Bogus' || status=$?
# Wine halts the install at the launch condition but, with no window, shows
# its message nowhere, not even in the log (Windows logs it): so the message
# is read from the package, and the log shows where the install stopped.
check "TASK=bogus: fails, stopped by the launch condition on TASK, whose message names the values allowed" \
  same "failed|TASK must be logon (the default), boot or none.|LaunchConditions" \
  "$([ "$status" -eq 0 ] || echo failed)|$(msiinfo export "$msi_first" LaunchCondition | tr -d '\r' | awk -F'\t' '$1 ~ /TASK=/ { sub(/.*: /, "", $2); print $2 }')|$(
     grep -a -o 'Action start [0-9:]*: [A-Za-z]*' "$msi_dir/bogus.log" | tail -n 1 | sed 's/.*: //')"
check "TASK=bogus: leaves no folder, task, product or remembered setting" \
  same "no||0" "$([ -e "$WINEPREFIX/drive_c/Lab/Bogus" ] && echo yes || echo no)|$(ls "$tasks_dir" 2>/dev/null | paste -sd' ')$(products | paste -sd' ')|$(remembered)"
summary
