#!/usr/bin/env bash
# The Windows Installer package under Wine, on a fresh prefix of its own:
# installed silently, rebuilt at the same version with the boot task,
# upgraded and uninstalled while the launcher runs, and a bad TASK refused.
# i686: the shipped package, a rebuild of it and a higher version.
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

# package WIXL_ARCH VERSION BUILD [NAME]: the package (scripts/package-msi.sh)
# of the shipped files with BUILD's programs and custom step, its path
# printed; each build has a product code of its own. BUILD.txt names VERSION
# and NAME, so that an upgrade shows in the installed folder.
package() {
  local stage=$msi_dir/$1-$2${4:+-$4}
  mkdir -p "$stage"
  cp "$dist"/* "$stage/"
  cp "$3/minute-trigger.exe" "$3/minute-trigger-precise.exe" "$stage/"
  printf 'minute-trigger %s\r\n' "$2${4:+ $4}" >"$stage/BUILD.txt"
  scripts/package-msi.sh "$1" "$2" "$stage" "$3/task-for-folder.dll" "$stage.msi" >&2
  echo "$stage.msi"
}
if [ "$arch" = i686 ]; then
  msi_first=$PWD/$win/dist/minute-trigger-$msi_version-x86.msi
  msi_rebuilt=$(package x86 "$msi_version" "$win" rebuilt)
  msi_second=$(package x86 "$msi_higher" "$win")
  msi_dll=${sim[stdcall]}/AWG10K.dll
else
  msi_first=$(package x64 "$msi_version" "$win64")
  msi_rebuilt=$(package x64 "$msi_version" "$win64" rebuilt)
  msi_second=$(package x64 "$msi_higher" "$win64")
  msi_dll=${sim[x86_64]}/AWG10K.dll
fi
echo "test-windows: the package $msi_version, a rebuild of it, then $msi_higher over it: ${msi_first#"$PWD"/}, ${msi_rebuilt#"$PWD"/} and ${msi_second#"$PWD"/}"

# The order of the package's own steps among Windows Installer's: a deferred
# step placed outside InstallInitialize..InstallFinalize never runs; one that
# ends the programs after the older version is removed comes too late; the
# older version removed before InstallInitialize is outside the transaction,
# and a failed upgrade then leaves neither.
check "package: its steps in order: the remembered folder and task before CostFinalize, the tools' paths before InstallInitialize, the task and the folder's programs ended (and their rollback) then the older version removed within the transaction, the folder locked and the tasks written and registered after InstallFiles" \
  same "RememberedFolder RememberedTask DefaultTask CostFinalize SetSystemTools SetSystemTools64 SetSchtasks SetIcacls SetEndFolderProgramsData SetWriteTasksData InstallInitialize DisableTask EndTask EndFolderPrograms RestartTask RestoreTask DeleteTask InstallExecute RemoveExistingProducts RemoveFiles InstallFiles OwnFolder LockFolder WriteTasks CreateTask RunTask InstallFinalize" \
  "$(msiinfo export "$msi_first" InstallExecuteSequence | tr -d '\r' | tail -n +4 | awk -F'\t' '{ print $3, $1 }' | sort -n |
     awk '$2 ~ /^(CostFinalize|Install(Initialize|Execute|Files|Finalize)|Remove(ExistingProducts|Files))$|Task|Program|Folder|^Set/ { print $2 }' | paste -sd' ')"

new_prefix "$tmp/msi-prefix" "for the package, fresh,"

msi_folder='C:\Lab\Dev AWG'
msi_unix="$WINEPREFIX/drive_c/Lab/Dev AWG"
other_unix=$WINEPREFIX/drive_c/Lab/Other
tasks_dir=$WINEPREFIX/drive_c/windows/system32/tasks
# run_msiexec NAME ARG...: runs msiexec, its log in $msi_dir/NAME.log, and
# returns its status.
run_msiexec() {
  local name=$1 status=0
  shift
  wine_run -o "msi-$name" -t 300 msiexec "$@" /l*v "$(winpath "$msi_dir/$name.log")" || status=$?
  echo "test-windows: msiexec $* exited $status"
  return $status
}
# settle [SECONDS]: waits for Wine to have no process left (the registry then
# written out), up to SECONDS (120).
settle() { timeout "${1:-120}" wineserver -w || true; }
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
# names_only_folder: both task files in the folder are the shipped ones with
# the default folder made the installed one, and nothing else changed.
names_only_folder() {
  local kind
  for kind in logon boot; do
    same "$(text "$dist/minute-trigger-$kind.xml")" \
         "$(text "$msi_unix/minute-trigger-$kind.xml" | sed 's/C:\\Lab\\Dev AWG\\/C:\\Qmx\\AWG10K\\/g')" &&
      grep -qF "$msi_folder\\run-minute-trigger.cmd" <(text "$msi_unix/minute-trigger-$kind.xml") || return 1
  done
}
# An action's arguments are one command line: there, a folder with a blank
# must stand inside quotes.
arguments_quote_folder() {
  local args
  args=$(text "$1" | sed -n 's:.*<Arguments>\(.*\)</Arguments>.*:\1:p')
  grep -qF "$msi_folder" <<<"$args" && ! grep -F "$msi_folder" <<<"$args" | grep -vqF -e "\"$msi_folder" -e "&quot;$msi_folder"
}
# registered: the tasks Wine keeps, and the kind of the one registered, by its
# description (Wine drops the trigger, the principal and the action).
registered() {
  echo "$(ls "$tasks_dir" 2>/dev/null | paste -sd' '):$(sed -n 's/.*<Description>Runs minute-trigger for good from \(every start\|the logon\) .*/\1/p' \
    "$tasks_dir/minute-trigger" 2>/dev/null | sed 's/every start/boot/; s/the logon/logon/')"
}
# running TEXT: the processes whose command line (Wine shows the Windows one)
# holds TEXT, one id a line: the launcher names its folder's .cmd, a program
# its own path.
running() { ps -eo pid=,args= | grep -F -- "$1" | grep -v grep | awk '{ print $1 }' || true; }
# start_launcher N: the folder's launcher, as the task starts it, running the
# program beside a simulated AWG10K.dll (put there as the vendor's would be),
# until the log holds the Nth start of the program's loop.
start_launcher() {
  cp "$msi_dll" "$msi_unix/"
  wine_run -b cmd /c "$msi_folder\\run-minute-trigger.cmd"
  within 60 logged "$msi_unix/minute-trigger.log" 'Triggering loop' "$1" || true
}
# within SECONDS COMMAND...: COMMAND succeeds within SECONDS.
within() { local i; for ((i = 0; i < $1 * 10; i++)); do "${@:2}" && return 0; sleep 0.1; done; return 1; }
logged() { local n; n=$(grep -ac "$2" "$1" 2>/dev/null) || true; [ "${n:-0}" -ge "$3" ]; }  # FILE TEXT N
stopped() { [ -z "$(running "$1")" ]; }  # TEXT: no process holds it

# --- installed silently into a folder with a blank --------------------------------
status=0
run_msiexec install /i "$(winpath "$msi_first")" /qn "INSTALLDIR=$msi_folder" || status=$?
settle
check "install into $msi_folder: succeeds; the two programs, the launcher, both task files, INSTALL.txt and BUILD.txt" \
  same "0|BUILD.txt INSTALL.txt minute-trigger-boot.xml minute-trigger-logon.xml minute-trigger-precise.exe minute-trigger.exe run-minute-trigger.cmd" \
  "$status|$(ls "$msi_unix" 2>/dev/null | sort | paste -sd' ')"
check "install: the logon task (the default) registered" same "minute-trigger:logon" "$(registered)"
check "install: both task files are the shipped ones naming $msi_folder\\run-minute-trigger.cmd, nothing else changed" names_only_folder
check "install: in each task's arguments, the folder with its blank stands in quotes" \
  eval 'arguments_quote_folder "$msi_unix/minute-trigger-logon.xml" && arguments_quote_folder "$msi_unix/minute-trigger-boot.xml"'

# --- a rebuild of the same version, with the boot task ------------------------------
# Each build has a product code of its own: unless the upgrade row takes in its
# own version, the rebuild installs beside the first as a second product.
status=0
run_msiexec rebuilt /i "$(winpath "$msi_rebuilt")" /qn TASK=boot || status=$?
settle
check "a rebuild of $msi_version with TASK=boot: succeeds; one product, of that version, the rebuild's files in the same folder" \
  same "0|$msi_version|minute-trigger $msi_version rebuilt" "$status|$(products | paste -sd' ')|$(tr -d '\r' <"$msi_unix/BUILD.txt" 2>/dev/null)"
check "TASK=boot into $msi_folder: the boot task registered in the logon one's place, through cmd.exe /c with the folder in quotes" \
  eval 'same "minute-trigger:boot" "$(registered)" && arguments_quote_folder "$msi_unix/minute-trigger-boot.xml"'

# --- a higher version over it while the launcher runs -------------------------------
start_launcher 1
check "upgrade: the launcher was running the program from the folder beforehand" \
  same "1 1" "$(running "$msi_folder\\run-minute-trigger.cmd" | wc -l) $(running "$msi_folder\\minute-trigger.exe" | wc -l)"
status=0
run_msiexec upgrade /i "$(winpath "$msi_second")" /qn || status=$?
# The older launcher, left running, would read the new launcher from its old
# byte offset, and start the program again beside the task's new one.
ended=no
within 5 stopped "$msi_folder\\" && ended=yes
for pid in $(running "$msi_folder\\"); do kill "$pid"; done
settle
check "upgrade to $msi_higher: succeeds and has ended the older launcher and its program; one product, of that version" \
  same "0|yes|$msi_higher" "$status|$ended|$(products | paste -sd' ')"
check "upgrade: the new files in the same folder, the remembered boot task still the one task, its files naming the folder" \
  eval 'same "minute-trigger $msi_higher|minute-trigger:boot" "$(tr -d "\r" <"$msi_unix/BUILD.txt" 2>/dev/null)|$(registered)" && names_only_folder'

# --- uninstalled while the launcher runs, and a program of the same name elsewhere --
mkdir -p "$other_unix"
cp "$programs/minute-trigger.exe" "$msi_dll" "$other_unix/"
wine_run -b -o other 'C:\Lab\Other\minute-trigger.exe'
start_launcher 2
within 60 logged "$tmp/other.out" 'Triggering loop' 1 || true
check "uninstall: beforehand, the launcher running the program from the folder, and a minute-trigger.exe from C:\\Lab\\Other" \
  same "1 1 1" "$(running "$msi_folder\\run-minute-trigger.cmd" | wc -l) $(running "$msi_folder\\minute-trigger.exe" | wc -l) $(running 'C:\Lab\Other\minute-trigger.exe' | wc -l)"
ended_lines=$(grep -ac 'ended with exit code' "$msi_unix/minute-trigger.log" || true)
status=0
run_msiexec uninstall /x "$(winpath "$msi_second")" /qn || status=$?
ended=no
within 5 stopped "$msi_folder\\" && ended=yes
check "uninstall: succeeds; the launcher and its program end, the program of the same name in C:\\Lab\\Other runs on" \
  same "0|yes|1" "$status|$ended|$(running 'C:\Lab\Other\minute-trigger.exe' | wc -l)"
for pid in $(running 'C:\Lab\Other\minute-trigger.exe'); do kill "$pid"; done
# A launcher left running writes a line as its program ends, and starts it
# again 10 s later: Wine ends once nothing runs, or after 30 s shows it.
settle 30
check "uninstall: once Wine has settled, nothing of the folder runs and nothing started again (the launcher's log has no new line)" \
  same "|$ended_lines" "$(running "$msi_folder\\" | paste -sd' ')|$(grep -ac 'ended with exit code' "$msi_unix/minute-trigger.log" || true)"
for pid in $(running "$msi_folder\\"); do kill "$pid"; done
settle
check "uninstall: the task and every installed file gone; the simulated DLL and the log left" \
  same "|AWG10K.dll minute-trigger.log" "$(ls "$tasks_dir" 2>/dev/null | paste -sd' ')|$(ls "$msi_unix" 2>/dev/null | sort | paste -sd' ')"
check "uninstall: no product listed, nothing remembered" same "|0" "$(products | paste -sd' ')|$(remembered)"

# --- TASK=bogus --------------------------------------------------------------------
status=0
run_msiexec bogus /i "$(winpath "$msi_first")" /qn TASK=bogus 'INSTALLDIR=C:\Lab\Bogus' || status=$?
settle
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
