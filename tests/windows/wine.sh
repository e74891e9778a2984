# The Windows programs run under Wine, in the set test.sh chose (its wine,
# programs, launcher, stress, probe, warmth and variants: the keys of sim[]
# to run against). Sourced by tests/windows/test.sh.

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
new_prefix "$tmp/prefix" "for the programs"
# Wine's relay trace, for the runs started with WINEDEBUG=+relay: the calls
# into Windows that the real starts are checked for, made by the programs
# themselves or by start.exe (the launcher's), and nothing of Wine's own.
relay_key='HKCU\Software\Wine\Debug'
relay_calls="SetThreadExecutionState;SetProcessInformation;GetProcAddress;LoadLibraryA;LoadLibraryW;LoadLibraryExA"
relay_calls+=";LoadLibraryExW;CreateProcessW"
wine_run reg add "$relay_key" /v RelayInclude /t REG_SZ /d "$relay_calls" /f
wine_run reg add "$relay_key" /v RelayFromInclude /t REG_SZ /d "minute-trigger.exe;minute-trigger-precise.exe;start.exe" /f
timeout 300 wineserver -w
# The launcher runs in a prefix of its own, so ending it ends nothing else.
launch_prefix=$tmp/launch-prefix
cp -a "$WINEPREFIX" "$launch_prefix"
prefixes+=("$launch_prefix")
wineserver -p  # stays up between the runs below; cleanup ends it

path='C:\Qmx\ZPR\samples\lorvex_20Hz_60sec_length.zpr' count_ok="count devices=1 status=0" opened="open id=1 status=0"
loaded="$count_ok|$opened|load id=1 path=$path status=0" first=${variants[0]}

# The launcher, first: its device is missing until the directory of the
# simulator's log exists (a log it cannot open makes the simulated count
# fail), so its first starts fail while the checks below run.
launch_dir=$tmp/launch gate=$tmp/launch-gate launch_log=$tmp/launch/minute-trigger.log
mkdir -p "$launch_dir"
cp "$programs/minute-trigger.exe" "$launcher" "$launch_dir/"
echo "test-windows: starting run-minute-trigger.cmd under Wine's cmd, with no device yet"
wine_run -b -p "$launch_prefix" -d "${sim[$first]}" -o launch AWG10K_SIM_LOG="$(winpath "$gate/sim.log")" \
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
    "$why_not_32bit; the qemu check above covers the call helper"
# against DLL_DIR EXE: runs a check program against one simulated DLL, shows
# the end of what it printed, and returns its status.
against() {
  local status=0
  wine_run -d "$1" -t 900 -o check "$2" || status=$?
  echo "test-windows: $(cat "$tmp/check.out" "$tmp/check.err" | tr -d '\r' | tail -n 3)"
  return $status
}
for v in "${variants[@]}"; do
  check "call_stress against the $v DLL: every call right, the stack pointer unchanged" against "${sim[$v]}" "$stress"
  check "the warming against the $v DLL: its whole image and the rest found, and walked without a fault" \
    against "${sim[$v]}" "$warmth"
done

log=$tmp/sim.log
for v in "${variants[@]}"; do
  while IFS=';' read -r var text expected_calls; do
    status=0; rm -f "$log"
    wine_run -d "${sim[$v]}" -o start-up AWG10K_SIM_LOG="$(winpath "$log")" "$var" "$programs/minute-trigger.exe" ||
      status=$?
    check "$v DLL, $var: prints exactly \"$text\"" bytes "$text." "$tmp/start-up.out"
    check "$v DLL, $var: exit status 1" same 1 "$status"
    check "$v DLL, $var: the simulator's log" same "$expected_calls" "$(calls "$log")"
  done <<EOF
AWG10K_SIM_FAIL=count;AWG10K_GetNumberOfDevices() Error;count devices=1 status=-1
AWG10K_SIM_DEVICES=0;DeviceNumber=0;count devices=0 status=0
AWG10K_SIM_FAIL=open;AWG10K_Open() Error;$count_ok|open status=-1
AWG10K_SIM_FAIL=load;AWG10K_SetFile() Error;$count_ok|$opened|load id=1 path=$path status=-1|close id=1 status=0
EOF
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

# --- real starts, two at a time for one minute ---------------------------------
# next_minute_run LATEST: waits until the second of the minute is from 2 to
# LATEST, so that what starts now reaches its loop well before the next
# minute (Wine takes a while to start a program), and sets boundary to that
# minute, in seconds since 1970.
next_minute_run() {
  while s=$((10#$(date -u +%S))); [ "$s" -gt "$1" ] || [ "$s" -lt 2 ]; do sleep 0.5; done
  boundary=$((($(date -u +%s) / 60 + 1) * 60))
}
declare -A pid=()
# start NAME EXE DLL_DIR [OPTION...]: starts EXE for a real run, its files
# in $tmp/NAME.*: its relay trace in NAME.err, beside its standard error.
start() {
  rm -f "$tmp/$1".*
  wine_run -b -d "$3" -o "$1" "${@:4}" AWG10K_SIM_LOG="$(winpath "$tmp/$1.sim")" WINEDEBUG=+relay "$2"
  pid[$1]=$wine_pid
}
# check_loop_undisturbed WHAT ERR: what the program asked of Windows once
# started, from its relay trace.
check_loop_undisturbed() {
  local what=$1 err=$2
  check "$what: keeps the system from idle sleep (ES_CONTINUOUS | ES_SYSTEM_REQUIRED), not the display" \
    same "80000001" "$(sed -n 's/.*Call KERNEL32\.SetThreadExecutionState(\([0-9a-f]*\)).*/\1/p' "$err" | paste -sd' ')"
  check "$what: opts out of power throttling, timer and execution speed apart: two ProcessPowerThrottling calls of 12 bytes" \
    same "00000004,0000000c 00000004,0000000c" \
    "$(sed -n 's/.*Call KERNEL32\.SetProcessInformation([0-9a-f]*,\([0-9a-f]*\),[0-9a-f]*,\([0-9a-f]*\)).*/\1,\2/p' "$err" | paste -sd' ')"
  # Wine's own DLLs and the simulated one look things up too, so what counts
  # is that the program's own look-up is there and nothing is looked up of
  # the device library: by one of its names, or by ordinal, as it is bound.
  local looked
  looked=$(sed -n 's/.*Call KERNEL32\.GetProcAddress([0-9a-f]*,[0-9a-f]* "\(.*\)") ret=.*/\1/p
                  s/.*Call KERNEL32\.GetProcAddress([0-9a-f]*,\([0-9a-f]*\)) ret=.*/ordinal \1/p' "$err")
  check "$what: looks up SetProcessInformation, nothing of AWG10K.dll by name or ordinal, and loads no library" \
    same "SetProcessInformation||0" \
    "$(grep -x SetProcessInformation <<<"$looked" | sort -u)|$(grep -E '^(AWG10K|ordinal )' <<<"$looked" | paste -sd' ')|$(grep -c 'Call KERNEL32\.LoadLibrary' "$err")"
}
# one_write WHAT STRACE TEXT: TEXT left the process in one write of its own.
one_write() {
  local shown=${3//$'\r'/\\r}
  shown=${shown//$'\n'/\\n}
  check "$1" grep -qF "\"$shown\", ${#3}) = ${#3}" "$2"
}
# wait_for_lines FILE...: until each FILE has a trigger line, or 15 s past
# the minute; notes which were there while their program ran.
declare -A in_time=()
wait_for_lines() {
  local f missing=1
  while ((missing)) && [ "$(date -u +%s)" -lt $((boundary + 15)) ]; do
    sleep 0.05; missing=0
    for f in "$@"; do
      [ -n "${in_time[$f]:-}" ] || { grep -q 'Trigger:' "$f" 2>/dev/null && in_time[$f]=yes; } || missing=1
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
  check "$what: the trigger logged in second 0 of $(date -u -d @$boundary +%H:%M)" \
    same "$(date -u -d @$boundary +%Y-%m-%dT%H:%M) 00" "$minute $second"
  echo "test-windows: $name: the trigger came $(awk -v ns="${ns:-999999999}" 'BEGIN { printf "%.3f", ns / 1e6 }') ms after the minute"
  check "$what: the trigger within 5 ms of the minute" test "$((10#${ns:-999999999}))" -lt 5000000
}

# The launcher's device appears; its program and the precise one share a minute.
# The launcher's next start may be 10 s off, so this minute starts earlier.
for ((i = 0; i < 400; i++)); do note_failures; [ ${#failure_times[@]} -ge 2 ] && break; sleep 0.1; done
next_minute_run 35
note_failures
check "launcher: at least two failed starts before the device was there" test ${#failure_times[@]} -ge 2
gaps=$(printf '%s\n' "${failure_times[@]}" | awk 'NR > 1 { print $1 - last } { last = $1 }')
echo "test-windows: launcher: each failed start this many ms after the one before:" $gaps
check "launcher: starts again no sooner than 10 s after each end" same "" "$(awk '$1 < 9500' <<<"$gaps")"
mkdir -p "$gate"
echo "test-windows: the launcher's device is there; the precise program starts too, both for $(date -u -d @$boundary +%T)"
start precise "$programs/minute-trigger-precise.exe" "${sim[$first]}"
wait_for_lines "$tmp/precise.out" "$launch_log"
# Read before the launcher is ended, which could let it log one more end.
cp "$launch_log" "$tmp/launch.snapshot" 2>/dev/null || true
stop precise
WINEPREFIX=$launch_prefix wineserver -k 2>/dev/null || true
wait $launch_pid 2>/dev/null || true
kill $watch_pid 2>/dev/null || true
check_trigger precise "precise program" "$tmp/precise.out" "$tmp/precise.sim"
check_loop_undisturbed "precise program" "$tmp/precise.err"

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
check "launcher: the log holds each failed start, then the banner and the trigger line" \
  bytes "${expected}${banner}${line}." "$tmp/launch.log"
check "launcher: its program triggered the device at the minute" \
  same "$loaded|trigger id=1 status=0" "$(calls "$gate/sim.log")"

# The one default program against each DLL, side by side.
next_minute_run 51
echo "test-windows: minute-trigger.exe against the ${variants[0]}${variants[1]:+ and the ${variants[1]}} DLL, for $(date -u -d @$boundary +%T)"
# The first also under strace, which shows each line's writes as Wine's
# runtime makes them; only writes stop the program there.
outs=() traced=$first
for v in "${variants[@]}"; do
  through=()
  [ "$v" != "$traced" ] || through=(-w "strace -f -qq --seccomp-bpf -e trace=write -s 256 -o $tmp/$v.strace")
  start "$v" "$programs/minute-trigger.exe" "${sim[$v]}" "${through[@]}"
  outs+=("$tmp/$v.out")
done
wait_for_lines "${outs[@]}"
# Wine ends the programs first: strace, ended itself, would let its program
# run on, and cannot get away from one that spins without a system call.
wineserver -k 2>/dev/null || true
for v in "${variants[@]}"; do stop "$v"; done
for v in "${variants[@]}"; do
  check_trigger "$v DLL" "$v DLL, real start" "$tmp/$v.out" "$tmp/$v.sim"
  check_loop_undisturbed "$v DLL, real start" "$tmp/$v.err"
done
one_write "$traced DLL, real start: the banner left in one write" "$tmp/$traced.strace" "$banner"
trigger_line line $boundary
one_write "$traced DLL, real start: the trigger line left in one write" "$tmp/$traced.strace" "$line"
