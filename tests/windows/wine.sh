#!/usr/bin/env bash
# The Windows programs under Wine, in the set lib.sh picks: the call helper
# and the warming against each simulated DLL, a failed start, the launcher,
# the task definitions, the console, and real starts on a faked clock.
#   tests/windows/wine.sh [--arch i686|x86_64]
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/windows/lib.sh
windows_set_up wine "$@"
hold_cpu_lock test-windows-wine

# The launcher runs in a prefix of its own, so ending it ends nothing else.
launch_prefix=$tmp/launch-prefix
new_prefix "$launch_prefix" "for the launcher"
new_prefix "$tmp/prefix" "for the programs"
wineserver -p  # stays up between the runs below; cleanup ends it
# Wine's relay trace, for the runs started with WINEDEBUG=+relay: the calls
# into Windows that the real starts are checked for, made by the programs
# themselves or by start.exe (the launcher's), and nothing of Wine's own.
relay_key='HKCU\Software\Wine\Debug'
relay_calls="SetThreadExecutionState;SetProcessInformation;GetProcAddress;LoadLibraryA;LoadLibraryW;LoadLibraryExA"
relay_calls+=";LoadLibraryExW;CreateProcessW"
wine_run reg add "$relay_key" /v RelayInclude /t REG_SZ /d "$relay_calls" /f
wine_run reg add "$relay_key" /v RelayFromInclude /t REG_SZ /d "minute-trigger.exe;minute-trigger-precise.exe;start.exe" /f

path='C:\Qmx\ZPR\samples\lorvex_20Hz_60sec_length.zpr' count_ok="count devices=1 status=0" opened="open id=1 status=0"
loaded="$count_ok|$opened|load id=1 path=$path status=0" first=${variants[0]}

# The real starts run on a faked clock: libfaketime, preloaded into Wine's
# loader, starts each process's clock $lead s before the minute below, so no
# start waits for a real minute. The monotonic clock, by which Wine times its
# waits, and Wine's server stay real; the simulated DLL stamps its calls with
# the faked clock, so a trigger's lateness is measured as before.
[ -n "$faketime" ] || { check "libfaketime for the $arch set's Wine loader is installed" false; summary || exit 1; }
lead=4 boundary=$(date -u -d '2026-12-08 10:01:00' +%s)
faked=(LD_PRELOAD="$faketime" FAKETIME="@$(date -d @$((boundary - lead)) '+%Y-%m-%d %H:%M:%S')" FAKETIME_DONT_FAKE_MONOTONIC=1)

# The launcher, first: its device is missing until the directory of the
# simulator's log exists (a log it cannot open makes the simulated count
# fail), so its first starts fail while the checks below run.
launch_dir=$tmp/launch gate=$tmp/launch-gate launch_log=$tmp/launch/minute-trigger.log
mkdir -p "$launch_dir"
cp "$programs/minute-trigger.exe" "$launcher" "$launch_dir/"
echo "test-windows: starting run-minute-trigger.cmd under Wine's cmd, with no device yet"
wine_run -b -p "$launch_prefix" -d "${sim[$first]}" -o launch AWG10K_SIM_LOG="$(winpath "$gate/sim.log")" "${faked[@]}" \
  cmd /c "$(winpath "$launch_dir/run-minute-trigger.cmd")"
launch_pid=$wine_pid
# Notes, in ms, when each failed start's line reaches the launcher's log;
# note_failures reads them into failure_times.
: >"$tmp/launch-failures"
watch_failures() {
  local n=0 m
  while sleep 0.1; do
    m=$(grep -c 'ended with exit code' "$launch_log" 2>/dev/null || true)
    for ((; n < ${m:-0}; n++)); do date +%s%3N >>"$tmp/launch-failures"; done
  done
}
background watch_failures
watch_pid=$!
note_failures() { mapfile -t failure_times <"$tmp/launch-failures"; }

# --- the calls and the start-up failures ---------------------------------------
[ "$WINEARCH" = win64 ] &&
  skip "call_stress.exe, 32-bit, against the stdcall and the cdecl DLL" \
    "$why_not_32bit; qemu.sh covers the call helper"
# against DLL_DIR EXE: runs a check program against one simulated DLL, shows
# the end of what it printed, and returns its status.
against() {
  local status=0
  wine_run -d "$1" -o check "$2" || status=$?
  echo "test-windows: $(cat "$tmp/check.out" "$tmp/check.err" | tr -d '\r' | tail -n 3)"
  return $status
}
for v in "${variants[@]}"; do
  check "call_stress against the $v DLL: every call right, the stack pointer unchanged" against "${sim[$v]}" "$stress"
  check "the warming against the $v DLL: its whole image and the rest found, and walked without a fault" \
    against "${sim[$v]}" "$warmth"
done

# A failed start against each DLL, one that calls all but the trigger: its
# exact message, exit status 1, and the calls through the helper in order.
# (Every failure's message is main's own, the same as on Linux, where the
# end-to-end tests try each.)
log=$tmp/sim.log
for v in "${variants[@]}"; do
  status=0; rm -f "$log"
  wine_run -d "${sim[$v]}" -o start-up AWG10K_SIM_LOG="$(winpath "$log")" AWG10K_SIM_FAIL=load "$programs/minute-trigger.exe" ||
    status=$?
  check "$v DLL, a file that will not load: prints exactly \"AWG10K_SetFile() Error\", exit status 1, the device closed again" \
    same "AWG10K_SetFile() Error.|1|$count_ok|$opened|load id=1 path=$path status=-1|close id=1 status=0" \
    "$(cat "$tmp/start-up.out"; echo .)|$status|$(calls "$log")"
done

# --- the launcher where its log cannot be written ------------------------------
# A folder stands where the log would go, as a folder a user may not write to
# would refuse it. The launcher is given the probe, by its full path, in the
# program's place: the probe notes its priority class, and start.exe's call
# to start it shows in the relay trace what it was asked for.
echo "test-windows: the launcher in a folder where its log cannot be written, running the probe"
locked=$tmp/locked fallback_log=$WINEPREFIX/drive_c/ProgramData/minute-trigger/minute-trigger.log
mkdir -p "$locked/minute-trigger.log"
cp "$launcher" "$locked/"
rm -f "$fallback_log"
wine_run -b -o locked WINEDEBUG=+relay cmd /c "$(winpath "$locked/run-minute-trigger.cmd")" "$(winpath "$probe")"
locked_pid=$wine_pid
for ((i = 0; i < 300; i++)); do grep -q 'ended with exit code' "$fallback_log" 2>/dev/null && break; sleep 0.1; done
wineserver -k 2>/dev/null || true
wait $locked_pid 2>/dev/null || true
wineserver -w
wineserver -p
check "launcher, log folder not writable: says where its log goes instead" \
  grep -qF 'its output appended to C:\ProgramData\minute-trigger\minute-trigger.log' "$tmp/locked.out"
check "launcher, log folder not writable: still starts the program, given by its full path, logging there" \
  grep -q '^console .* priority ' "$fallback_log"
# CreateProcessW's sixth argument is the creation flags: 0x80 asks for high
# priority, 0x100 for realtime.
flags=$(sed -n 's/.*Call KERNEL32\.CreateProcessW([^ ]* L"[^"]*probe\.exe",\([^,]*,\)\{4\}\([0-9a-f]*\),.*/\2/p' \
          "$tmp/locked.err" | head -n1)
echo "test-windows: the launcher's start of its program, creation flags: ${flags:-none seen}"
check "launcher: starts the program at high priority, never realtime" \
  test -n "$flags" -a $((16#${flags:-0} & 0x180)) -eq $((0x80))

# --- the task definitions --------------------------------------------------------
# Wine's schtasks reads a task's XML and keeps the settings it understood.
for kind in logon boot; do
  stored=$WINEPREFIX/drive_c/windows/system32/tasks/minute-trigger-$kind
  wine_run schtasks /create /tn "minute-trigger-$kind" /xml "$(winpath "$PWD/$dist/minute-trigger-$kind.xml")" /f || true
  check "task for $kind: Wine's schtasks imports it, with its settings" \
    same "PT0S false false IgnoreNew 4" \
    "$(for s in ExecutionTimeLimit DisallowStartIfOnBatteries StopIfGoingOnBatteries MultipleInstancesPolicy Priority; do
         sed -n "s:.*<$s>\(.*\)</$s>.*:\1:p" "$stored" 2>/dev/null; done | paste -sd' ')"
done

# --- real starts, two at a time, each for the faked minute -------------------
# The launcher's last below; the default program's first, while the launcher
# waits between its failed starts.
declare -A pid=() deadline=()
# start NAME EXE DLL_DIR [OPTION...]: starts EXE for a real run on the faked
# clock, its files in $tmp/NAME.* (a relay trace asked for by the OPTIONs in
# NAME.err, beside its standard error).
start() {
  rm -f "$tmp/$1".*
  wine_run -b -d "$3" -o "$1" "${@:4}" AWG10K_SIM_LOG="$(winpath "$tmp/$1.sim")" "${faked[@]}" "$2"
  pid[$1]=$wine_pid
}
# one_write WHAT STRACE TEXT: TEXT left the process in one write of its own.
one_write() {
  local shown=${3//$'\r'/\\r}
  shown=${shown//$'\n'/\\n}
  check "$1" grep -qF "\"$shown\", ${#3}) = ${#3}" "$2"
}
# wait_for_lines FILE...: until each FILE has a trigger line, or its
# deadline (15 s past its program's minute) has passed; notes which were
# there while their program ran.
declare -A in_time=()
wait_for_lines() {
  local f missing=1
  while ((missing)); do
    sleep 0.05; missing=0
    for f in "$@"; do
      [ -n "${in_time[$f]:-}" ] || { grep -q 'Trigger:' "$f" 2>/dev/null && in_time[$f]=yes; } ||
        [ "$(date +%s)" -ge "${deadline[$f]}" ] || missing=1
    done
  done
}
stop() { kill "${pid[$1]}" 2>/dev/null || true; wait "${pid[$1]}" 2>/dev/null || true; }
# check_trigger NAME WHAT STDOUT SIMLOG: the banner and trigger line, and the
# device triggered in second 0, within the limit.
check_trigger() {
  local name=$1 what=$2 stdout=$3 simlog=$4 minute= second= ns= line
  trigger_line line $boundary
  check "$what: the banner, then the trigger line at $(date -u -d @$boundary +%T)" bytes "${banner}${line}." "$stdout"
  check "$what: the trigger line was in the redirected output while the program ran" same yes "${in_time[$stdout]:-no}"
  check "$what: the simulator's log" same "$loaded|trigger id=1 status=0" "$(calls "$simlog")"
  read -r minute second ns _ < <(device_log "$simlog" | awk '$4 == "trigger"' | head -n1) || true
  ns=${ns:-999999999}
  echo "test-windows: $name: first call $(device_log "$simlog" | awk 'NR == 1 { print $2 "." substr($3, 1, 3) }') s past 10:00" \
       "(clock started at $((60 - lead))), the trigger $(awk -v ns="$ns" 'BEGIN { printf "%.3f", ns / 1e6 }') ms after the minute"
  check "$what: the trigger logged within 5 ms of $(date -u -d @$boundary +%T)" \
    same "$(date -u -d @$boundary +%Y-%m-%dT%H:%M) 00 yes" "$minute $second $( ((10#$ns < 5000000)) && echo yes)"
}

# The default program against each DLL, side by side, between two of the
# launcher's failed starts, which come 10 s apart. The first also under
# Wine's relay trace, for what it asks of Windows once started, and under
# strace, which shows each line's writes as Wine's runtime makes them; only
# writes stop the program there.
for ((i = 0; i < 400; i++)); do note_failures; [ ${#failure_times[@]} -ge 1 ] && break; sleep 0.1; done
echo "test-windows: minute-trigger.exe against the ${variants[0]}${variants[1]:+ and the ${variants[1]}} DLL"
outs=()
for v in "${variants[@]}"; do
  traced=()
  [ "$v" != "$first" ] ||
    traced=(-w "strace -f -qq --seccomp-bpf -e trace=write -s 256 -o $tmp/$v.strace" WINEDEBUG=+relay)
  start "$v" "$programs/minute-trigger.exe" "${sim[$v]}" "${traced[@]}"
  outs+=("$tmp/$v.out") deadline[$tmp/$v.out]=$(($(date +%s) + lead + 15))
done
wait_for_lines "${outs[@]}"
# Wine ends the programs first: strace, ended itself, would let its program
# run on, and cannot get away from one that spins without a system call.
wineserver -k 2>/dev/null || true
for v in "${variants[@]}"; do stop "$v"; done
wineserver -w
wineserver -p
for v in "${variants[@]}"; do
  check_trigger "$v DLL" "$v DLL, real start" "$tmp/$v.out" "$tmp/$v.sim"
done
one_write "$first DLL, real start: the banner left in one write" "$tmp/$first.strace" "$banner"
trigger_line line $boundary
one_write "$first DLL, real start: the trigger line left in one write" "$tmp/$first.strace" "$line"

# What the program asked of Windows once started, from its relay trace: the
# same platform code in both programs, so one run shows it.
err=$tmp/$first.err what="$first DLL, real start"
check "$what: keeps the system from idle sleep (ES_CONTINUOUS | ES_SYSTEM_REQUIRED), not the display" \
  same "80000001" "$(sed -n 's/.*Call KERNEL32\.SetThreadExecutionState(\([0-9a-f]*\)).*/\1/p' "$err" | paste -sd' ')"
check "$what: opts out of power throttling, timer and execution speed apart: two ProcessPowerThrottling calls of 12 bytes" \
  same "00000004,0000000c 00000004,0000000c" \
  "$(sed -n 's/.*Call KERNEL32\.SetProcessInformation([0-9a-f]*,\([0-9a-f]*\),[0-9a-f]*,\([0-9a-f]*\)).*/\1,\2/p' "$err" | paste -sd' ')"
# Wine's own DLLs and the simulated one look things up too, so what counts
# is that the program's own look-up is there and nothing is looked up of the
# device library: by one of its names, or by ordinal, as it is bound.
looked=$(sed -n 's/.*Call KERNEL32\.GetProcAddress([0-9a-f]*,[0-9a-f]* "\(.*\)") ret=.*/\1/p
                s/.*Call KERNEL32\.GetProcAddress([0-9a-f]*,\([0-9a-f]*\)) ret=.*/ordinal \1/p' "$err")
check "$what: looks up GetSystemTimeAdjustmentPrecise and SetProcessInformation, nothing of AWG10K.dll by name or ordinal, and loads no library" \
  same "GetSystemTimeAdjustmentPrecise SetProcessInformation||0" \
  "$(grep -xE 'GetSystemTimeAdjustmentPrecise|SetProcessInformation' <<<"$looked" | sort -u | paste -sd' ')|$(grep -E '^(AWG10K|ordinal )' <<<"$looked" | paste -sd' ')|$(grep -c 'Call KERNEL32\.LoadLibrary' "$err")"

# --- in a console ----------------------------------------------------------------
# in_console NAME LINE...: runs a batch file of LINEs under Wine's cmd in a
# console (wine_run -c), which everything cmd starts shares, the simulator
# logging to $tmp/NAME.sim; sets modes to the console input modes probe.exe
# wrote at the points the LINEs choose, one a line.
in_console() {
  local name=$1 batch=$tmp/$1.cmd line
  shift
  { echo "@echo off"; for line in "$@"; do echo "$line"; done; } | sed 's/$/\r/' >"$batch"
  wine_run -c -d "${sim[$first]}" -o "$name" AWG10K_SIM_LOG="$(winpath "$tmp/$name.sim")" cmd /c "$(winpath "$batch")" || true
  modes=$(tr -d '\r' <"$tmp/$name.modes" 2>/dev/null | awk '{ print $2 }' || true)
}
quick_edit=0x40 extended_flags=0x80
has() { [ -n "$2" ] && (($2 & $1)); }
lacks() { [ -n "$2" ] && ! (($2 & $1)); }
probe_line() { echo "\"$(winpath "$probe")\" >> \"$(winpath "$tmp/$1.modes")\""; }

echo "test-windows: a failed start in a console"
in_console failed "$(probe_line failed)" "set AWG10K_SIM_DEVICES=0" \
  "\"$(winpath "$programs/minute-trigger.exe")\"" "$(probe_line failed)"
before=$(sed -n 1p <<<"$modes") after=$(sed -n 2p <<<"$modes")
echo "test-windows: console input mode before $before, after $after"
check "console: QuickEdit is on before the program starts (else the cases below prove nothing)" \
  has $quick_edit "$before"
check "console: a failed start prints its message there" grep -q 'DeviceNumber=0' "$tmp/failed.out"
check "console: a failed start leaves the console's mode, QuickEdit with it, as it found it" same "$before" "$after"

# A real start, its mode read while the loop runs: once the device is loaded
# and the program has had a second more, this side lets the batch file go on.
# (Wine's findstr cannot search the log from there.)
echo "test-windows: a real start in a console, its mode read while the loop runs"
let_batch_go() { until grep -q 'load id=1' "$tmp/running.sim" 2>/dev/null; do sleep 0.2; done; sleep 1; : >"$tmp/running.go"; }
background let_batch_go
in_console running "start \"\" /b \"$(winpath "$programs/minute-trigger.exe")\"" \
  ":wait" "ping -n 2 127.0.0.1 > nul" "if not exist \"$(winpath "$tmp/running.go")\" goto wait" \
  "$(probe_line running)" "taskkill /f /im minute-trigger.exe > nul"
# Should the batch file have stopped short, the program must not spin on.
wine_run -t 60 taskkill /f /im minute-trigger.exe || true
echo "test-windows: console input mode while the loop runs: $modes"
check "console: while the loop runs, QuickEdit is off" lacks $quick_edit "$modes"
check "console: while the loop runs, the extended flags are set, without which QuickEdit stays as it was" \
  has $extended_flags "$modes"

# --- the launcher's device appears, and its program meets the minute ------------
# The launcher's device appears once it has failed twice; its next start
# comes within about 11 s, and meets the minute $lead s later. The precise
# program starts now, for its own minute.
for ((i = 0; i < 400; i++)); do note_failures; [ ${#failure_times[@]} -ge 2 ] && break; sleep 0.1; done
note_failures
check "launcher: at least two failed starts before the device was there" test ${#failure_times[@]} -ge 2
gaps=$(printf '%s\n' "${failure_times[@]}" | awk 'NR > 1 { print $1 - last } { last = $1 }')
echo "test-windows: launcher: each failed start this many ms after the one before:" $gaps
check "launcher: starts again no sooner than 10 s after each end" same "" "$(awk '$1 < 9500' <<<"$gaps")"
mkdir -p "$gate"
echo "test-windows: the launcher's device is there; the precise program starts too"
start precise "$programs/minute-trigger-precise.exe" "${sim[$first]}"
deadline[$tmp/precise.out]=$(($(date +%s) + lead + 15)) deadline[$launch_log]=$(($(date +%s) + 12 + lead + 15))
wait_for_lines "$tmp/precise.out" "$launch_log"
# Read before the launcher is ended, which could let it log one more end.
cp "$launch_log" "$tmp/launch.snapshot" 2>/dev/null || true
stop precise
WINEPREFIX=$launch_prefix wineserver -k 2>/dev/null || true
wait $launch_pid 2>/dev/null || true
kill $watch_pid 2>/dev/null || true
check_trigger precise "precise program" "$tmp/precise.out" "$tmp/precise.sim"

# The launcher's log: each failed start's message and the launcher's line,
# then the banner and the trigger. Its own lines carry the time; here only
# the program and the exit code are compared.
complaint="AWG10K simulator: AWG10K_SIM_LOG=\"$(winpath "$gate/sim.log")\": No such file or directory"$'\r\n'
failure="${complaint}AWG10K_GetNumberOfDevices() Error"$'\r\n'"minute-trigger.exe ended with exit code 1"$'\r\n'
expected=""
note_failures
for ((i = 0; i < ${#failure_times[@]}; i++)); do expected+=$failure; done
trigger_line line $boundary
sed -E 's/^.* (minute-trigger\.exe ended with exit code [0-9]+); starting it again in 10 s(\r?)$/\1\2/' \
  "$tmp/launch.snapshot" >"$tmp/launch.log" 2>/dev/null || true
# Wine has no Windows Time service, so the program cannot tell whether
# anything keeps its clock to UTC: it must say so, and the line must reach
# the log at once, where the C runtime would otherwise hold it back.
clock="Clock: synchronisation unknown (no Windows Time service, clock not being adjusted); triggers follow this PC's clock, unchecked against UTC; see \"Keeping the clock on UTC\" in INSTALL.txt"$'\r\n'
check "launcher: the log holds each failed start, then the banner, the clock line and the trigger line" \
  bytes "${expected}${banner}${clock}${line}." "$tmp/launch.log"
check "launcher: its program triggered the device at the minute" \
  same "$loaded|trigger id=1 status=0" "$(calls "$gate/sim.log")"

summary
