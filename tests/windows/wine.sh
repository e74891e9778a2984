#!/usr/bin/env bash
# The Windows programs under Wine, in the set lib.sh picks: the call helper
# and the warming against each simulated DLL, a failed start, the launcher,
# the console, real starts on a faked clock, and the clock the loop reads.
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
# The relay trace: these calls, by the programs and start.exe, not Wine's.
wine_run reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /f /d \
  "SetThreadExecutionState;SetProcessInformation;GetProcAddress;LoadLibraryA;LoadLibraryW;LoadLibraryExA;LoadLibraryExW;CreateProcessW"
wine_run reg add 'HKCU\Software\Wine\Debug' /v RelayFromInclude /t REG_SZ /f /d "minute-trigger.exe;minute-trigger-tick-clock.exe;start.exe"

path='C:\Qmx\ZPR\samples\lorvex_20Hz_60sec_length.zpr' count_ok="count devices=1 status=0" opened="open id=1 status=0"
loaded="$count_ok|$opened|load id=1 path=$path status=0" first=${variants[0]}

# Each process's clock starts $lead s before the minute; Wine's waits run on
# the monotonic clock, left real. The simulated DLL stamps the faked time.
[ -n "$faketime" ] || { check "libfaketime for the $arch set's Wine loader is installed" false; summary || exit 1; }
lead=4 boundary=$(date -u -d '2026-12-08 10:01:00' +%s)
# The programs' output is in text mode, as on the lab PC.
banner=$'\r\nTriggering loop will start within a minute: \r\n\r\n'
printf -v line 'Trigger: %s  \r\n' "$(date -u -d "@$boundary" '+%Y%m%d %H:%M:00')"
faked=(LD_PRELOAD="$faketime" FAKETIME="@$(date -d @$((boundary - lead)) '+%Y-%m-%d %H:%M:%S')" FAKETIME_DONT_FAKE_MONOTONIC=1)
# Every timed case rests on the faked clock: one line naming the cause,
# rather than a failure in each, where it does not reach Wine's programs.
wine_run -o faked-clock "${faked[@]}" "$build/probe.exe" || true
seen=$(sed -n 's/.* utc \(.*\)\r*$/\1/p' "$tmp/faked-clock.out") reached=
grep -q "^$(date -u -d @$boundary '+%Y-%m-%d %H'):0[01]:" <<<"$seen" && reached=yes
check "the faked clock reaches programs under Wine: probe.exe reads ${seen:-nothing}, started at ${faked[1]#*@}" same yes "${reached:-no}"
[ -n "$reached" ] ||
  { echo "test-windows: the faked clock does not reach the $arch set's programs under $wine: preloading $faketime fakes no time they read"; summary || exit 1; }

# The launcher first: its device is missing (the simulated count fails on a
# log it cannot open) until $gate exists, so it fails while the checks run.
# Given 1.0.0's second program, as a task set up by hand may still do, it
# must run minute-trigger.exe, which its log then names. The simulated DLL
# lies beside it, as the vendor's does: the launcher's PATH leads to no other.
launch_dir=$tmp/launch gate=$tmp/launch-gate launch_log=$tmp/launch/minute-trigger.log
mkdir -p "$launch_dir"
cp "$programs/minute-trigger.exe" "$dist/run-minute-trigger.cmd" "${sim[$first]}/AWG10K.dll" "$launch_dir/"
# A ping.cmd in the launcher's folder, which its pause must never run (the
# launcher says why).
printf '@echo ran>"%%~dp0ping-ran"\r\n' >"$launch_dir/ping.cmd"
echo "test-windows: starting run-minute-trigger.cmd under Wine's cmd, with no device yet"
WINEPREFIX=$launch_prefix wine_run -b -o launch AWG10K_SIM_LOG="$(winpath "$gate/sim.log")" "${faked[@]}" \
  cmd /c "$(winpath "$launch_dir/run-minute-trigger.cmd")" minute-trigger-precise.exe
launch_pid=$wine_pid
# When, in ms, each failed start's line reached the launcher's log.
failures=$tmp/launch-failures
: >"$failures"
# tail ends with this script, and the rest of the pipe with it.
watch_failures() {
  tail -F -n +1 -s 0.1 --pid=$$ "$launch_log" 2>/dev/null | grep --line-buffered 'ended with exit code' |
    while read -r _; do date +%s%3N >>"$failures"; done
}
background watch_failures
# await_failures N: until the launcher has failed N times (40 s at most).
await_failures() { for ((i = 0; i < 400; i++)); do [ "$(wc -l <"$failures")" -ge "$1" ] && return; sleep 0.1; done; }

# --- the calls and the start-up failures ---------------------------------------
[ "$WINEARCH" = win64 ] &&
  skip "call_stress.exe, 32-bit, against the stdcall and the cdecl DLL" \
    "$why_not_32bit; qemu.sh covers the call helper"
# Then a failed start that calls all but the trigger, Close included, through
# the helper. The other failures are main's own, tried by the Linux tests.
for v in "${variants[@]}"; do
  check "call_stress against the $v DLL: every call right, the stack pointer unchanged" \
    wine_run -d "${sim[$v]}" -o stress-$v "$build/call_stress.exe"
  check "the warming against the $v DLL: its whole image and the rest found, and walked without a fault" \
    wine_run -d "${sim[$v]}" -o warmth-$v "$build/warmth_check.exe"
  tail -qn 3 "$tmp/stress-$v.out" "$tmp/warmth-$v.out" | tr -d '\r' | sed 's/^/test-windows: /'
  status=0
  wine_run -d "${sim[$v]}" -o start-up-$v AWG10K_SIM_LOG="$(winpath "$tmp/start-up-$v.sim")" AWG10K_SIM_FAIL=load \
    "$programs/minute-trigger.exe" || status=$?
  check "$v DLL, a file that will not load: prints exactly \"AWG10K_SetFile() Error\", exit status 1, the device closed again" \
    same "AWG10K_SetFile() Error.|1|$count_ok|$opened|load id=1 path=$path status=-1|close id=1 status=0" \
    "$(cat "$tmp/start-up-$v.out"; echo .)|$status|$(calls "$tmp/start-up-$v.sim")"
done

# end_programs PID...: Wine ends every program in the prefix (ending strace
# instead would leave one spinning), then its server and services are started
# again, lest a timed start after it share the cores with them.
end_programs() {
  wineserver -k 2>/dev/null || true; wait "$@" 2>/dev/null || true
  wineserver -w; wineserver -p; wine_run cmd /c exit
}

# --- a bare name missing from the launcher's folder, which holds an & --------------
# The name is on PATH (C:\windows), where start would find it; the echoed
# log path, unquoted, would run "D\minute-trigger.log" as a second command.
amp="$tmp/R&D"
mkdir -p "$amp" && cp "$dist/run-minute-trigger.cmd" "$amp/" && cp "$build/probe.exe" "$WINEPREFIX/drive_c/windows/"
printf '@call "%s" probe.exe\r\n' "$(winpath "$amp/run-minute-trigger.cmd")" >"$tmp/amp.cmd"
wine_run -b -o amp cmd /c "$(winpath "$tmp/amp.cmd")"
amp_pid=$wine_pid

# --- the launcher where its log cannot be written ------------------------------
# A folder in the log's place refuses it, as an unwritable folder would. The
# probe, by full path, stands in for the program; start.exe is relay-traced.
echo "test-windows: the launcher in a folder where its log cannot be written, running the probe"
wine_user=$(id -un)  # Wine names the user's profile after the Linux user
locked=$tmp/locked fallback_log=$WINEPREFIX/drive_c/users/$wine_user/AppData/Local/minute-trigger/minute-trigger.log
mkdir -p "$locked/minute-trigger.log"
cp "$dist/run-minute-trigger.cmd" "$locked/"
wine_run -b -o locked WINEDEBUG=+relay cmd /c "$(winpath "$locked/run-minute-trigger.cmd")" "$(winpath "$build/probe.exe")"
for ((i = 0; i < 300; i++)); do grep -q 'ended with exit code' "$fallback_log" 2>/dev/null && break; sleep 0.1; done
for ((i = 0; i < 300; i++)); do grep -q 'ended with exit code' "$amp/minute-trigger.log" 2>/dev/null && break; sleep 0.1; done
end_programs $wine_pid $amp_pid
check "launcher in R&D given probe.exe, missing there but on PATH: runs none; says so, the paths quoted whole" \
  same "run-minute-trigger: running \"$(winpath "$amp")\\probe.exe\" for good, its output appended to \"$(winpath "$amp")\\minute-trigger.log\"|0|ended" \
  "$(tr -d '\r' <"$tmp/amp.out")|$(grep -c '^console' "$amp/minute-trigger.log")|$(grep -q 'probe.exe" ended with exit code' "$amp/minute-trigger.log" && echo ended)"
check "launcher, log folder not writable: says its log goes into the user's own profile, and starts the program, given by its full path, logging there, with PATH Windows' own folders alone" \
  same "\"C:\\users\\$wine_user\\AppData\\Local\\minute-trigger\\minute-trigger.log\"|C:\\windows\\System32;C:\\windows;C:\\windows\\System32\\Wbem" \
  "$(tr -d '\r' <"$tmp/locked.out" | sed -n 's/.*its output appended to //p')|$(sed -n 's/^console .* priority [0-9a-fx]* path \(.*\) utc .*/\1/p' "$fallback_log")"
# CreateProcessW's sixth argument: 0x80 asks for high priority, 0x100 realtime.
flags=$(sed -n 's/.*Call KERNEL32\.CreateProcessW([^ ]* L"[^"]*probe\.exe",\([^,]*,\)\{4\}\([0-9a-f]*\),.*/\2/p' \
          "$tmp/locked.err" | head -n1)
check "launcher: starts the program at high priority, never realtime (creation flags ${flags:-not seen})" \
  test -n "$flags" -a $((16#${flags:-0} & 0x180)) -eq $((0x80))

# --- the launcher whose log another program holds open --------------------------
# Why it must start the program all the same: the launcher's comment. The
# program's first call to the simulated DLL shows it started.
held=$tmp/held
mkdir -p "$held"
cp "$dist/run-minute-trigger.cmd" "$programs/minute-trigger.exe" "${sim[$first]}/AWG10K.dll" "$held/"
: >"$held/minute-trigger.log"
wine_run -b -o holder "$build/probe.exe" hold "$(winpath "$held/minute-trigger.log")"
holder=$wine_pid
for ((i = 0; i < 100; i++)); do grep -q held "$tmp/holder.out" 2>/dev/null && break; sleep 0.1; done
wine_run -b -o held AWG10K_SIM_LOG="$(winpath "$tmp/held.sim")" AWG10K_SIM_FAIL=count \
  cmd /c "$(winpath "$held/run-minute-trigger.cmd")"
for ((i = 0; i < 300; i++)); do grep -q count "$tmp/held.sim" 2>/dev/null && break; sleep 0.1; done
end_programs $wine_pid $holder
check "launcher, its log held open by another program, sharing nothing: starts the program all the same" \
  same "held|started" "$(tr -d '\r' <"$tmp/holder.out")|$(grep -q count "$tmp/held.sim" 2>/dev/null && echo started)"

# --- real starts, two at a time, each for the faked minute -------------------
declare -A pid=() in_time=() reads=()
# start NAME EXE DLL_DIR [OPTION...]: EXE on the faked clock, files $tmp/NAME.*
start() {
  wine_run -b -d "$3" -o "$1" "${@:4}" AWG10K_SIM_LOG="$(winpath "$tmp/$1.sim")" "${faked[@]}" "$2"
  pid[$1]=$wine_pid
}
# wait_for_lines SECONDS FILE...: until each has a trigger line, SECONDS at
# most; in_time holds those that had.
wait_for_lines() {
  local f end=$(($(date +%s) + $1)) missing=1
  shift
  while ((missing)) && [ "$(date +%s)" -lt $end ]; do
    sleep 0.05; missing=0
    for f in "$@"; do grep -q 'Trigger:' "$f" 2>/dev/null && in_time[$f]=yes || missing=1; done
  done
}
# check_trigger WHAT NAME: the lines and the trigger of start NAME's run.
check_trigger() {
  local what=$1 out=$tmp/$2.out sim=$tmp/$2.sim minute= second= ns=
  check "$what: the banner, then the trigger line at $(date -u -d @$boundary +%T), in the redirected output while the program ran" \
    eval 'bytes "${banner}${line}." "$out" && same yes "${in_time[$out]:-no}"'
  check "$what: the simulator's log" same "$loaded|trigger id=1 status=0" "$(calls "$sim")"
  read -r minute second ns _ < <(device_log "$sim" | awk '$4 == "trigger"' | head -n1) || true
  echo "test-windows: $what: the trigger stamped ${minute:-never}${second:+:$second.$ns}"
  check "$what: the trigger logged within 5 ms of $(date -u -d @$boundary +%T)" \
    same "$(date -u -d @$boundary +%Y-%m-%dT%H:%M) 00 yes" "$minute $second $( ((10#${ns:-999999999} < 5000000)) && echo yes)"
}
# one_write WHAT STRACE TEXT: TEXT left the process in one write of its own.
one_write() {
  local shown=${3//$'\r'/\\r}
  shown=${shown//$'\n'/\\n}
  check "$1" grep -qF "\"$shown\", ${#3}) = ${#3}" "$2"
}

# The default program against each DLL, after the launcher's first failure;
# the first relay-traced, and under strace, stopping it at its writes alone.
await_failures 1
echo "test-windows: minute-trigger.exe against the ${variants[0]}${variants[1]:+ and the ${variants[1]}} DLL"
outs=() traced=(-w "strace -f -qq --seccomp-bpf -e trace=write -s 256 -o $tmp/$first.strace" WINEDEBUG=+relay)
for v in "${variants[@]}"; do
  start "$v" "$programs/minute-trigger.exe" "${sim[$v]}" "${traced[@]}"
  outs+=("$tmp/$v.out") traced=()
done
wait_for_lines $((lead + 15)) "${outs[@]}"
end_programs "${pid[@]}"
for v in "${variants[@]}"; do check_trigger "$v DLL, real start" "$v"; done
one_write "$first DLL, real start: the banner left in one write" "$tmp/$first.strace" "$banner"
one_write "$first DLL, real start: the trigger line left in one write" "$tmp/$first.strace" "$line"

# What it asked of Windows (the same platform code in both programs).
err=$tmp/$first.err what="$first DLL, real start"
check "$what: keeps the system from idle sleep (ES_CONTINUOUS | ES_SYSTEM_REQUIRED), not the display" \
  same "80000001" "$(sed -n 's/.*Call KERNEL32\.SetThreadExecutionState(\([0-9a-f]*\)).*/\1/p' "$err" | paste -sd' ')"
check "$what: opts out of power throttling, timer and execution speed apart: two ProcessPowerThrottling calls of 12 bytes" \
  same "00000004,0000000c 00000004,0000000c" \
  "$(sed -n 's/.*Call KERNEL32\.SetProcessInformation([0-9a-f]*,\([0-9a-f]*\),[0-9a-f]*,\([0-9a-f]*\)).*/\1,\2/p' "$err" | paste -sd' ')"
# Wine's and the DLL's own look-ups show too: what counts is the program's,
# none of them of the device library's, by name or by ordinal.
looked=$(sed -n 's/.*Call KERNEL32\.GetProcAddress([0-9a-f]*,[0-9a-f]* "\(.*\)") ret=.*/\1/p
                s/.*Call KERNEL32\.GetProcAddress([0-9a-f]*,\([0-9a-f]*\)) ret=.*/ordinal \1/p' "$err")
check "$what: looks up GetSystemTimeAdjustmentPrecise and SetProcessInformation, nothing of AWG10K.dll by name or ordinal, and loads no library" \
  same "GetSystemTimeAdjustmentPrecise SetProcessInformation||0" \
  "$(grep -xE 'GetSystemTimeAdjustmentPrecise|SetProcessInformation' <<<"$looked" | sort -u | paste -sd' ')|$(grep -E '^(AWG10K|ordinal )' <<<"$looked" | paste -sd' ')|$(grep -c 'Call KERNEL32\.LoadLibrary' "$err")"

# --- in a console ----------------------------------------------------------------
# A batch file on a pseudo-terminal, its console shared by all it starts:
# the probe reads the input mode around a failed start and in a real start's
# loop, 1 s after the load, told by this side (Wine's findstr cannot).
echo "test-windows: a failed start, then a real one, in a console"
probe_line="\"$(winpath "$build/probe.exe")\" >> \"$(winpath "$tmp/console.modes")\"" exe="\"$(winpath "$programs/minute-trigger.exe")\""
let_batch_go() { until grep -q 'load id=1' "$tmp/console.sim" 2>/dev/null; do sleep 0.2; done; sleep 1; : >"$tmp/console.go"; }
background let_batch_go
printf '%s\r\n' "@echo off" "$probe_line" "set AWG10K_SIM_DEVICES=0" "$exe" "$probe_line" "set AWG10K_SIM_DEVICES=" \
  "start \"\" /b $exe" ":wait" "ping -n 2 127.0.0.1 > nul" "if not exist \"$(winpath "$tmp/console.go")\" goto wait" \
  "$probe_line" "taskkill /f /im minute-trigger.exe > nul" >"$tmp/console.cmd"
wine_run -c -d "${sim[$first]}" -o console AWG10K_SIM_LOG="$(winpath "$tmp/console.sim")" cmd /c "$(winpath "$tmp/console.cmd")" || true
# Should the batch file have stopped short, the program must not spin on.
wine_run taskkill /f /im minute-trigger.exe || true
mapfile -t modes < <(tr -d '\r' <"$tmp/console.modes" 2>/dev/null | awk '{ print $2 }')
before=${modes[0]:-} after=${modes[1]:-} running=${modes[2]:-}
echo "test-windows: console input mode before the failed start $before, after it $after, while the real start's loop runs $running"
# bits MODE MASK: MODE's bits in MASK, in hex; MODE itself if it is no number.
bits() { [[ $1 == 0x+([0-9a-f]) ]] && printf '0x%x' $(($1 & $2)) || echo "${1:-none}"; }
check "console: QuickEdit is on before the program starts (else the cases below prove nothing)" same 0x40 "$(bits "$before" 0x40)"
check "console: a failed start prints its message there" grep -q 'DeviceNumber=0' "$tmp/console.out"
check "console: a failed start leaves the console's mode, QuickEdit with it, as it found it" same "$before" "$after"
check "console: while the loop runs, QuickEdit is off and the extended flags set (without them QuickEdit stays as it was)" \
  same 0x80 "$(bits "$running" 0xc0)"

# --- the launcher's device appears, and its program meets the minute ------------
# After two failures the device appears: the launcher's next start, within
# 11 s, meets the minute $lead s later, as the tick-clock build started now
# (on _ftime64, as on Windows 7; docs/windows.md says why a build of its own).
await_failures 2
mapfile -t failure_times <"$failures"
gaps=$(printf '%s\n' "${failure_times[@]}" | awk 'NR > 1 { print $1 - last } { last = $1 }')
echo "test-windows: launcher: each failed start this many ms after the one before:" $gaps
check "launcher: two or more failed starts before the device was there, each no sooner than 10 s after the end before; a ping.cmd in its folder never ran" \
  same "yes||" "$([ ${#failure_times[@]} -ge 2 ] && echo yes)|$(awk '$1 < 9500' <<<"$gaps")|$(ls "$launch_dir/ping-ran" 2>/dev/null)"
mkdir -p "$gate"
echo "test-windows: the launcher's device is there; the tick-clock build (the clock Windows 7 has) starts too"
start tick "$build/minute-trigger-tick-clock.exe" "${sim[$first]}"
wait_for_lines $((12 + lead + 15)) "$tmp/tick.out" "$launch_log"
# Read before the launcher is ended, which could let it log one more end.
cp "$launch_log" "$tmp/launch.snapshot" 2>/dev/null || true
end_programs "${pid[tick]}"
WINEPREFIX=$launch_prefix wineserver -k 2>/dev/null || true
wait $launch_pid 2>/dev/null || true
check_trigger "tick-clock build, on _ftime64" tick

# The launcher's log: each failed start's message and end, then the banner,
# the clock line and the trigger. Of its own lines, the times are cut.
complaint="AWG10K simulator: AWG10K_SIM_LOG=\"$(winpath "$gate/sim.log")\": No such file or directory"$'\r\n'
failure="${complaint}AWG10K_GetNumberOfDevices() Error"$'\r\n'"minute-trigger.exe ended with exit code 1"$'\r\n'
expected=""
for ((i = $(grep -c 'ended with exit code' "$tmp/launch.snapshot" || true); i > 0; i--)); do expected+=$failure; done
sed -E 's/^.*\\(minute-trigger\.exe)" (ended with exit code [0-9]+); starting it again in 10 s(\r?)$/\1 \2\3/' \
  "$tmp/launch.snapshot" >"$tmp/launch.log" 2>/dev/null || true
# Wine has no Windows Time service: the program must say its clock is
# unchecked, and the line reach the log at once.
clock="Clock: synchronisation unknown (no Windows Time service, clock not being adjusted); triggers follow this PC's clock, unchecked against UTC; see \"Keeping the clock on UTC\" in minute-trigger-INSTALL.txt"$'\r\n'
check "launcher, given 1.0.0's minute-trigger-precise.exe: the log holds each failed start of minute-trigger.exe, then the banner, the clock line and the trigger line" \
  bytes "${expected}${banner}${clock}${line}." "$tmp/launch.log"
check "launcher: its program triggered the device at the minute" \
  same "$loaded|trigger id=1 status=0" "$(calls "$gate/sim.log")"

# --- the clock the loop reads ----------------------------------------------------
# Short runs of their own, traced at every read, which would make a timed
# start late: each until 0.2 s after its banner. The simulated DLL stamps
# each of its calls with one read of the precise clock, its own.
echo "test-windows: which clock the loop reads, by Wine's relay trace"
wine_run reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /f /d "GetSystemTimePreciseAsFileTime;_ftime64"
for run in minute-trigger tick-clock; do
  exe=$programs/minute-trigger.exe
  [ $run = minute-trigger ] || exe=$build/minute-trigger-tick-clock.exe
  wine_run -b -d "${sim[$first]}" -o "clock-$run" AWG10K_SIM_LOG="$(winpath "$tmp/clock-$run.sim")" WINEDEBUG=+relay "$exe"
  for ((i = 0; i < 300; i++)); do grep -q 'Triggering loop' "$tmp/clock-$run.out" && break; sleep 0.1; done
  sleep 0.2
  end_programs $wine_pid
  # Reads of the precise clock and of _ftime64, the simulated DLL's taken away.
  reads[$run]=$(for entry in GetSystemTimePreciseAsFileTime _ftime64; do grep -c "Call [A-Za-z0-9]*\.$entry(" "$tmp/clock-$run.err" || true; done |
    paste -sd' ' | awk -v stamps="$(device_log "$tmp/clock-$run.sim" | wc -l)" '{ print $1 - stamps, $2 }')
done
check "the program: where Windows has the precise clock, the loop reads it, never _ftime64 (reads of each in 0.2 s: ${reads[minute-trigger]})" \
  awk '{ exit !($1 >= 1000 && $2 == 0) }' <<<"${reads[minute-trigger]}"
check "the tick-clock build: where Windows lacks the precise clock (7), the loop reads _ftime64, never the precise clock (reads of each: ${reads[tick-clock]})" \
  awk '{ exit !($1 == 0 && $2 >= 1000) }' <<<"${reads[tick-clock]}"

# --- minute-trigger-check: the launcher's log in another user's profile ---------
# The logon task's launcher, run as a standard user, logs into that user's
# profile; the check, run as another account (an administrator), must find it
# through ProfileList, and take it over an older log beside the launcher.
echo "test-windows: minute-trigger-check, the launcher's log in another user's profile"
checked=$tmp/checked profile_log=$WINEPREFIX/drive_c/users/lab/AppData/Local/minute-trigger/minute-trigger.log
mkdir -p "$checked" "$(dirname "$profile_log")"
cp "$programs/minute-trigger.exe" "$programs/minute-trigger-check.exe" "$checked/"
wine_run reg add 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList\S-1-5-21-1-2-3-1001' \
  /v ProfileImagePath /t REG_EXPAND_SZ /f /d '%SystemDrive%\users\lab'
printf 'Trigger: %s  \r\n' "$(date -u -d '-2 hours' '+%Y%m%d %H:%M:00')" >"$checked/minute-trigger.log"
touch -d '-2 hours' "$checked/minute-trigger.log"
# The device refused this minute's trigger, as an unplugged one does.
printf 'Trigger: %s  \r\nAWG10K_Trigger() Error\r\n' "$(date -u '+%Y%m%d %H:%M:00')" >"$profile_log"
check_rc=0
wine_run -o checked "$checked/minute-trigger-check.exe" || check_rc=$?
report=$(tr -d '\r' <"$tmp/checked.out")
sed 's/^/test-windows: | /' <<<"$report"
last_line=$(grep -A1 -F '[FAIL] last trigger: ' <<<"$report" || true)
check "minute-trigger-check: the newer log, in another user's profile, found; its trigger the device refused is [FAIL], the fix ending the program; exit status 2" \
  same "yes|yes|2" \
  "$(grep -qF 'in C:\users\lab\AppData\Local\minute-trigger\minute-trigger.log (the newest of ' <<<"$last_line" && echo yes)|$(
    grep -q '^    fix: .*taskkill /F /IM minute-trigger.exe' <<<"$last_line" && echo yes)|$check_rc"

summary
