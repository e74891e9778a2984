# shellcheck shell=bash
# msi.sh's helpers: the packages, the scenarios, and what msiexec left in a
# prefix. Sourced after windows_set_up.

msi_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win/CMakeCache.txt")
msi_higher=${msi_version%.*}.$((${msi_version##*.} + 1))
wixl_arch=x64 from=$win64 msi_dll=${sim[x86_64]}/AWG10K.dll msi_first=$PWD/$win/dist/minute-trigger-$msi_version-x86.msi
[ "$arch" = x86_64 ] || wixl_arch=x86 from=$win msi_dll=${sim[stdcall]}/AWG10K.dll
msi_folder='C:\Lab\Dev AWG' other='C:\Lab\Other\minute-trigger.exe'

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
# long_task DIR: the logon task padded past 128 KiB, which the custom step
# once read in part and wrote back cut short, with no error.
long_task() {
  local xml=$1/minute-trigger-logon.xml
  iconv -f UTF-16 -t UTF-8 "$xml" | sed "s|</Task>|<!-- $(head -c 70000 /dev/zero | tr '\0' x) --></Task>|" |
    iconv -f UTF-8 -t UTF-16 >"$xml.long"
  mv "$xml.long" "$xml"
}

# --- scenarios ------------------------------------------------------------------
# scenario NAME FUNCTION [FROM]: FUNCTION in a subshell on a fresh prefix of
# its own, $tmp/prefix-NAME, a copy of FROM (a settled prefix) or else of a
# plain one, so that a stop on the way (set -e) spoils its own checks alone;
# its output in $tmp/NAME.scenario, for tally. Its Wine ended after it.
scenario() {
  (
    new_prefix "$tmp/prefix-$1" "for $1" "${3:-}"
    msi_unix="$WINEPREFIX/drive_c/Lab/Dev AWG"
    tasks_dir=$WINEPREFIX/drive_c/windows/system32/tasks log="$msi_unix/minute-trigger.log"
    "$2"
    echo "test-windows: scenario $1 ran to its end"
  ) >"$tmp/$1.scenario" &
  wait $! || true
  WINEPREFIX=$tmp/prefix-$1 wineserver -k 2>/dev/null || true
}
# tally NAME...: each scenario's output shown and its checks counted; one that
# stopped on the way a failed check of its own.
tally() {
  local name out
  # The harness's errors a scenario hit were its own (shown on standard
  # error): not to be pinned on the next check here.
  stderr_seen=$(stat -c %s "$stderr_log")
  for name in "$@"; do
    out=$tmp/$name.scenario
    cat "$out"
    passed=$((passed + $(lines '^ok: ' "$out"))) failed=$((failed + $(lines '^FAIL: ' "$out")))
    skipped=$((skipped + $(lines '^SKIPPED: ' "$out")))
    grep -qx "test-windows: scenario $name ran to its end" "$out" || check "scenario $name ran to its end" false
  done
}
lines() { grep -c "$1" "$2" || true; }  # PATTERN FILE: how many lines match
end_scenarios() { local p; for p in "$tmp"/prefix-*/; do WINEPREFIX=${p%/} wineserver -k 2>/dev/null || true; done; }

# --- what msiexec did, in the scenario's prefix -------------------------------------
# msi NAME ARG...: msiexec, its log in $tmp/NAME.log, its exit status in status.
msi() {
  status=0
  wine_run -o "msi-$1" msiexec "${@:2}" /l*v "$(winpath "$tmp/$1.log")" || status=$?
  echo "test-windows: msiexec ${*:2} exited $status"
}
failure() { [ "$1" -eq 0 ] || echo failed; }  # STATUS: "failed" unless 0
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

# --- the launcher, running ----------------------------------------------------------
# running TEXT: the processes whose command line (Wine shows the Windows one)
# holds TEXT, one id a line: the launcher names its folder's .cmd, a program
# its own path; Wine's start.exe, a process where Windows' start is cmd's own,
# names the program it waits for, and is not counted. runs: how many of the
# folder's launcher, its program and C:\Lab\Other's program run. Only the
# installed scenarios start either, one at a time (msi.sh).
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

# --- minute-trigger-check, as installed ---------------------------------------------
# report NAME [FOLDER]: the report of the check installed in FOLDER (else
# msi_folder) in $tmp/NAME.txt, CR dropped, its status in report_rc.
# verdicts NAME SUBJECT...: each subject's first line's verdict, joined by |.
report() {
  report_rc=0
  wine_run -o "$1" "${2:-$msi_folder}\\minute-trigger-check.exe" || report_rc=$?
  tr -d '\r' <"$tmp/$1.out" >"$tmp/$1.txt"
}
verdicts() {
  local name=$1 subject
  shift
  for subject in "$@"; do grep -m1 "^\[[a-zA-Z]*\] $subject" "$tmp/$name.txt" | cut -d' ' -f1; done | paste -sd'|'
}
# called_for NAME: the status its lines call for: 2 with a [FAIL], 1 with a
# [warn], 3 with an [unknown], else 0.
called_for() {
  local mark
  for mark in FAIL:2 warn:1 unknown:3; do grep -q "^\[${mark%:*}\]" "$tmp/$1.txt" && { echo "${mark#*:}"; return; }; done
  echo 0
}
counts() {
  local mark counts=()
  for mark in ok warn FAIL unknown note; do counts+=("$(grep -c "^\[$mark\]" "$1")"); done
  echo "${counts[0]} ok, ${counts[1]} warn, ${counts[2]} FAIL, ${counts[3]} unknown, ${counts[4]} noted"
}
