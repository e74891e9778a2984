#!/usr/bin/env bash
# Tests the Windows build: cross-builds it (scripts/build-windows.sh, and the
# simulated AWG10K.dll once more in cdecl), checks what the files import and
# export, then runs under Wine, with the simulated DLL found through
# WINEPATH in its build folder, never beside the program:
#   - call_stress.exe against the stdcall and the cdecl DLL (and the same
#     check built for 32-bit Linux and run by qemu, which needs no Wine);
#   - the one distributed minute-trigger.exe against both: every start-up
#     failure, and a real start with its trigger at a UTC minute;
#   - run-minute-trigger.cmd under Wine's cmd, with a device that is not
#     there at first;
#   - minute-trigger-precise.exe: a real start with its trigger.
# The real starts run two at a time, both waiting for the same minute: each
# spins a core, and two is all this machine's cores allow without making
# them late. Up to two minutes in all. Works with no display and no standard
# input. Ends with "N passed, M failed"; exits non-zero on a failure.
set -euo pipefail
cd "$(dirname "$0")/../.."
export LC_ALL=C

scripts/need.sh g++-mingw-w64-i686 cmake make file wine wine32:i386 g++-i686-linux-gnu qemu-user

passed=0
failed=0
# check NAME COMMAND...: one test, passing when COMMAND succeeds.
check() {
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok: $name"
  else
    failed=$((failed + 1))
    echo "FAIL: $name"
  fi
}
# same EXPECTED ACTUAL: equal strings; shows both when not.
same() {
  [ "$1" = "$2" ] && return 0
  printf '  expected: %q\n  actual:   %q\n' "$1" "$2"
  return 1
}
# bytes EXPECTED FILE: FILE holds exactly the bytes EXPECTED.
bytes() { same "$1" "$(cat "$2" 2>/dev/null; echo .)"; }

tmp=$(mktemp -d)
prefixes=()
watch_pid=
cleanup() {
  local p
  [ -z "$watch_pid" ] || kill "$watch_pid" 2>/dev/null || true
  for p in "${prefixes[@]}"; do WINEPREFIX=$p wineserver -k 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
winpath() { local p=$1; echo "Z:${p//\//\\}"; }  # Wine maps / to drive Z:

# --- cross builds ------------------------------------------------------------
win=build-test-windows
cdecl=build-test-windows-cdecl
{
  BUILD_DIR=$win scripts/build-windows.sh &&
    echo "test-windows: building $win/call_stress.exe" &&
    cmake --build $win --target call_stress >/dev/null &&
    echo "test-windows: building the simulated AWG10K.dll in cdecl, in $cdecl" &&
    cmake -S . -B $cdecl -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
          -DAWG10K_CALLING_CONVENTION=cdecl >/dev/null &&
    cmake --build $cdecl --target awg10k_simulator >/dev/null
} || { echo "test-windows: a build failed"; echo "$passed passed, $((failed + 1)) failed"; exit 1; }
dist=$win/dist/minute-trigger
dist_abs=$PWD/$dist
win_abs=$PWD/$win
declare -A sim=([stdcall]=$PWD/$win/simulator [cdecl]=$PWD/$cdecl/simulator)

# --- what the files say ------------------------------------------------------
# imports DLL FILE: the members FILE imports from DLL, one a line.
imports() {
  i686-w64-mingw32-objdump -p "$2" |
    awk -v dll="$1" '/DLL Name:/ { on = tolower($3) == tolower(dll); next }
                     on && NF == 0 { on = 0 }
                     on && $1 ~ /^[0-9a-f]+$/ { print $2, $3 }'
}
imported_dlls() {
  i686-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ { print tolower($3) }' | sort | tr '\n' ' '
}
exported_ordinals() {
  i686-w64-mingw32-objdump -p "$1" |
    awk '/^Export Address Table -- Ordinal Base/ { on = 1; next } on && NF == 0 { on = 0 }
         on && /\+base\[/ { sub(/.*\+base\[ */, ""); sub(/\].*/, ""); print }' | tr '\n' ' '
}
for program in minute-trigger minute-trigger-precise; do
  exe=$dist/$program.exe
  check "$program: file says PE32 console Intel 80386" \
    grep -qE '^PE32 executable \(console\) Intel 80386[ ,].*for MS Windows' <(file -b "$exe")
  check "$program: AWG10K.dll imported by ordinals 1 3 5 6 7, nothing by name" \
    same "1 <none>,3 <none>,5 <none>,6 <none>,7 <none>" "$(imports AWG10K.dll "$exe" | sort -n | paste -sd,)"
  check "$program: timeBeginPeriod from WINMM" grep -qx '[0-9]* timeBeginPeriod' <(imports WINMM.dll "$exe")
  check "$program: printf from msvcrt, which writes a line at once, not MinGW's piecemeal one" \
    grep -qx '[0-9]* printf' <(imports msvcrt.dll "$exe")
  check "$program: console mode and Ctrl handler from KERNEL32" \
    same "GetConsoleMode SetConsoleCtrlHandler SetConsoleMode" \
    "$(imports KERNEL32.dll "$exe" | awk '$2 ~ /Console(Mode|CtrlHandler)$/ { print $2 }' | sort | paste -sd' ')"
  check "$program: needs only Windows' DLLs and AWG10K.dll" \
    same "awg10k.dll kernel32.dll msvcrt.dll winmm.dll " "$(imported_dlls "$exe")"
  check "$program: its own code calls neither LoadLibrary nor GetProcAddress" \
    eval "! i686-w64-mingw32-nm -u $win/CMakeFiles/$program.dir/*/*.obj $win/CMakeFiles/awg10k.dir/device/windows/*.obj | grep -qE 'LoadLibrary|GetProcAddress'"
done
check "minute-trigger: the clock is _ftime64, with _gmtime64, both from msvcrt" \
  same "_ftime64 _gmtime64" "$(imports msvcrt.dll $dist/minute-trigger.exe | awk '$2 ~ /^_(ftime|gmtime)64$/ { print $2 }' | sort | paste -sd' ')"
check "minute-trigger: not the precise clock" \
  eval "! imports KERNEL32.dll $dist/minute-trigger.exe | grep -q Precise"
check "minute-trigger-precise: the clock is GetSystemTimePreciseAsFileTime, not _ftime64" \
  same "GetSystemTimePreciseAsFileTime" \
  "$(imports KERNEL32.dll $dist/minute-trigger-precise.exe | awk '$2 ~ /Precise/ { print $2 }'; imports msvcrt.dll $dist/minute-trigger-precise.exe | awk '$2 == "_ftime64" { print $2 }')"
check "main refers to the entries by their plain names" \
  grep -qx 'U _AWG10K_Trigger' <(i686-w64-mingw32-nm -u $win/CMakeFiles/minute-trigger.dir/controller/main.cpp.obj | awk '{ print $1, $2 }')
check "the plain names are the thin functions, which reach the DLL only through the import slots" \
  same "_AWG10K_Close _AWG10K_GetNumberOfDevices _AWG10K_Open _AWG10K_SetFile _AWG10K_Trigger|_AWG10K_CallEntry __imp__AWG10K_Close __imp__AWG10K_GetNumberOfDevices __imp__AWG10K_Open __imp__AWG10K_SetFile __imp__AWG10K_Trigger" \
  "$(i686-w64-mingw32-nm -g --defined-only $win/CMakeFiles/awg10k.dir/device/windows/AWG10K_entries.cpp.obj | awk '{ print $3 }' | sort | paste -sd' ')|$(i686-w64-mingw32-nm -u $win/CMakeFiles/awg10k.dir/device/windows/AWG10K_entries.cpp.obj | awk '{ print $2 }' | sort | paste -sd' ')"
for conv in stdcall cdecl; do
  dll=${sim[$conv]}/AWG10K.dll
  check "simulated DLL, $conv: exports ordinals 1 3 5 6 7" same "1 3 5 6 7 " "$(exported_ordinals "$dll")"
  check "simulated DLL, $conv: needs only Windows' DLLs" same "kernel32.dll msvcrt.dll " "$(imported_dlls "$dll")"
done
# Were the two DLLs the same convention, the runs below would test one twice.
check "simulated DLL, stdcall: its trigger pops its own argument" \
  grep -q ' _AWG10K_Trigger@4$' <(i686-w64-mingw32-nm "${sim[stdcall]}/AWG10K.dll")
check "simulated DLL, cdecl: its trigger leaves that to the caller" \
  eval "! i686-w64-mingw32-nm '${sim[cdecl]}/AWG10K.dll' | grep -q '_AWG10K_Trigger@'"
check "the distribution: the two programs, the launcher, INSTALL.txt and BUILD.txt, no AWG10K.dll" \
  same "BUILD.txt INSTALL.txt minute-trigger-precise.exe minute-trigger.exe run-minute-trigger.cmd" \
  "$(ls $dist | sort | paste -sd' ')"
check "the launcher has CR LF line ends throughout" \
  same 0 "$(grep -cv $'\r$' $dist/run-minute-trigger.cmd || true)"
# Plain i686 has no prefetch instruction, and the compiler drops the hint silently.
check "the trigger entry's warming is built in: prefetch instructions" \
  grep -q prefetch <(i686-w64-mingw32-objdump -d --no-show-raw-insn $win/minute-trigger.exe |
                     awk '/<__Z16WarmTriggerEntryv>:/, /ret/')

# --- the call helper, as a 32-bit Linux program under qemu -----------------------
# The same thin functions, call helper and stress check as call_stress.exe, with
# the simulated device's entries in the import slots (call_stress_slots.cpp),
# built for 32-bit Linux and run by qemu's user-mode emulator: this needs no
# Wine and no 32-bit support in the kernel, so it runs everywhere. The ELF
# assembler knows no .def, and ELF names carry no leading underscore.
qemu_stress() {  # CONVENTION ROUNDS [SED_EXPR]: builds and runs, returns its status
  local conv=$1 rounds=$2 dir=$tmp/qemu-$1${3:+-broken} entry source
  local flags=(-O2 -std=c++17 -Wall -Wextra -Wpedantic -Werror -Wa,--noexecstack -Idevice -Idevice/windows)
  local renames=()
  for entry in GetNumberOfDevices Open SetFile Close Trigger; do
    renames+=("-DAWG10K_$entry=Simulated_AWG10K_$entry")
  done
  mkdir -p "$dir"
  sed -e '/^[[:space:]]*\.def/d' -e "${3:-}" device/windows/call.S >"$dir/call.S"
  # The simulated entries and their slots, renamed and in the convention under test.
  for source in device/simulator/simulator.cpp tests/windows/call_stress_slots.cpp; do
    i686-linux-gnu-g++ "${flags[@]}" "${renames[@]}" "-DAWG10K_CALL=__attribute__(($conv))" \
      -c "$source" -o "$dir/$(basename "$source" .cpp).o"
  done
  i686-linux-gnu-g++ "${flags[@]}" -static -Wl,--defsym=AWG10K_CallEntry=_AWG10K_CallEntry \
    tests/windows/call_stress.cpp device/windows/AWG10K_entries.cpp "$dir/call.S" \
    "$dir/simulator.o" "$dir/call_stress_slots.o" -o "$dir/call_stress"
  # In a subshell, whose own note of a crash goes with the output.
  (env -u AWG10K_SIM_LOG -u AWG10K_SIM_FAIL -u AWG10K_SIM_DEVICES qemu-i386 "$dir/call_stress" "$rounds" \
     >"$dir/out" 2>&1; exit $?) 2>/dev/null
}
for conv in stdcall cdecl; do
  status=0
  qemu_stress $conv 1000000 || status=$?
  echo "test-windows: qemu, $conv: $(cat "$tmp/qemu-$conv/out")"
  check "call helper under qemu against $conv entries: every call right, the stack pointer unchanged" same 0 "$status"
done
# The check must catch the fault it is there for: a helper that leaves the
# stack pointer where the entry left it.
for conv in stdcall cdecl; do
  status=0
  qemu_stress $conv 1000 '/movl[[:space:]]*%ebx, %esp/d' || status=$?
  echo "test-windows: qemu, $conv, helper without its restore: $(head -c 300 "$tmp/qemu-$conv-broken/out")"
  check "the stress check catches a helper that does not put the stack pointer back ($conv)" test "$status" -ne 0
done

# --- under Wine ----------------------------------------------------------------
# Wine's loader is a 32-bit Linux program: a kernel with 32-bit support turned
# off (ia32_emulation=off, as on some virtual machines) cannot start it, and
# nothing below can run there. Said loudly, and counted as skipped.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "SKIPPED: every run under Wine: this kernel does not run 32-bit programs ($(dmesg 2>/dev/null | grep -m1 -o '32-bit emulation disabled' || echo 'exec format error'))"
  echo "$passed passed, $failed failed, 1 skipped"
  [ "$failed" -eq 0 ]
  exit
fi
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX=$tmp/prefix
echo "test-windows: making a Wine prefix in $WINEPREFIX"
prefixes+=("$WINEPREFIX")
timeout 300 wineboot --init </dev/null >"$tmp/wineboot.out" 2>&1
timeout 300 wineserver -w
# The launcher runs in a prefix of its own, so ending it ends nothing else.
launch_prefix=$tmp/launch-prefix
cp -a "$WINEPREFIX" "$launch_prefix"
prefixes+=("$launch_prefix")
wineserver -p  # stays up between the runs below; cleanup ends it

path='C:\Qmx\ZPR\samples\lorvex_20Hz_60sec_length.zpr'
count_ok="count devices=1 status=0"
opened="open id=1 status=0"
# calls LOG: the simulator's log without its time stamps, calls joined by |.
calls() { sed -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\.[0-9]{9}Z //' "$1" 2>/dev/null | paste -sd'|'; }

# The launcher, first: its device is missing until the directory of the
# simulator's log exists (a log it cannot open makes the simulated count
# fail), so its first starts fail while the checks below run.
launch_dir=$tmp/launch
gate=$tmp/launch-gate
mkdir -p "$launch_dir"
cp "$dist/minute-trigger.exe" "$dist/run-minute-trigger.cmd" "$launch_dir/"
launch_log=$launch_dir/minute-trigger.log
echo "test-windows: starting run-minute-trigger.cmd under Wine's cmd, with no device yet"
(cd "$tmp" && WINEPREFIX=$launch_prefix WINEPATH="$(winpath "${sim[stdcall]}")" \
   AWG10K_SIM_LOG="$(winpath "$gate/sim.log")" \
   exec wine cmd /c "$(winpath "$launch_dir/run-minute-trigger.cmd")" </dev/null >"$tmp/launch.out" 2>&1) &
launch_pid=$!
# Notes, in ms, when each failed start's line reaches the launcher's log.
failure_times_file=$tmp/launch-failures
: >"$failure_times_file"
(n=0; while :; do
   m=$(grep -c 'ended with exit code' "$launch_log" 2>/dev/null || true)
   while [ "$n" -lt "${m:-0}" ]; do date +%s%3N >>"$failure_times_file"; n=$((n + 1)); done
   sleep 0.1
 done) &
watch_pid=$!
failure_times=()
note_failures() { mapfile -t failure_times <"$failure_times_file"; }

for conv in stdcall cdecl; do
  status=0
  (cd "$tmp" && WINEPATH="$(winpath "${sim[$conv]}")" timeout 900 wine "$win_abs/call_stress.exe" </dev/null \
     >"$tmp/stress.out" 2>&1) || status=$?
  echo "test-windows: $(tr -d '\r' <"$tmp/stress.out")"
  check "call_stress against the $conv DLL: every call right, the stack pointer unchanged" same 0 "$status"
  note_failures
done

out=$tmp/stdout
log=$tmp/sim.log
for conv in stdcall cdecl; do
  while IFS=';' read -r var text expected_calls; do
    status=0
    rm -f "$log"
    (cd "$tmp" && env WINEPATH="$(winpath "${sim[$conv]}")" AWG10K_SIM_LOG="$(winpath "$log")" "$var" \
       timeout 120 wine "$dist_abs/minute-trigger.exe" </dev/null >"$out" 2>"$tmp/stderr") || status=$?
    check "$conv DLL, $var: prints exactly \"$text\"" bytes "$text." "$out"
    check "$conv DLL, $var: exit status 1" same 1 "$status"
    check "$conv DLL, $var: the simulator's log" same "$expected_calls" "$(calls "$log")"
    note_failures
  done <<EOF
AWG10K_SIM_FAIL=count;AWG10K_GetNumberOfDevices() Error;count devices=1 status=-1
AWG10K_SIM_DEVICES=0;DeviceNumber=0;count devices=0 status=0
AWG10K_SIM_FAIL=open;AWG10K_Open() Error;$count_ok|open status=-1
AWG10K_SIM_FAIL=load;AWG10K_SetFile() Error;$count_ok|$opened|load id=1 path=$path status=-1|close id=1 status=0
EOF
done

# --- real starts, two at a time for one minute ---------------------------------
# next_minute_run LATEST: waits until the second of the minute is from 2 to
# LATEST, so that what starts now reaches its loop well before the next
# minute (Wine takes a while to start a program), and sets boundary to that
# minute, in seconds since 1970.
next_minute_run() {
  while s=$((10#$(date -u +%S))); [ "$s" -gt "$1" ] || [ "$s" -lt 2 ]; do
    note_failures
    sleep 0.5
  done
  boundary=$((($(date -u +%s) / 60 + 1) * 60))
}
declare -A pid=()
# start NAME EXE DLL_DIR: starts EXE for a real run, its files in $tmp/NAME.*.
start() {
  rm -f "$tmp/$1".*
  (cd "$tmp" && WINEPATH="$(winpath "$3")" AWG10K_SIM_LOG="$(winpath "$tmp/$1.sim")" \
     exec wine "$2" </dev/null >"$tmp/$1.out" 2>"$tmp/$1.err") &
  pid[$1]=$!
}
# wait_for_lines FILE...: until each FILE has a trigger line, or 15 s past
# the minute; notes which were there while their program ran.
declare -A in_time=()
wait_for_lines() {
  local f done_all
  local until=$((boundary + 15))
  while [ "$(date -u +%s)" -lt $until ]; do
    done_all=yes
    for f in "$@"; do
      if [ -z "${in_time[$f]:-}" ] && grep -q 'Trigger:' "$f" 2>/dev/null; then in_time[$f]=yes; fi
      [ -n "${in_time[$f]:-}" ] || done_all=no
    done
    note_failures
    [ $done_all = yes ] && break
    sleep 0.05
  done
}
stop() { kill "${pid[$1]}" 2>/dev/null || true; wait "${pid[$1]}" 2>/dev/null || true; }
# stdout is in text mode, as on the lab PC: the C runtime writes each \n as \r\n.
banner=$'\r\nTriggering loop will start within a minute: \r\n\r\n'
# check_trigger NAME WHAT STDOUT SIMLOG: the banner and trigger line, and the
# device triggered in second 0, within the limit.
check_trigger() {
  local name=$1 what=$2 stdout=$3 simlog=$4 stamp late_ns=999999999
  local line="Trigger: $(date -u -d @$boundary '+%Y%m%d %H:%M:00')  "$'\r\n'
  check "$what: the banner, then the trigger line at $(date -u -d @$boundary +%T)" bytes "${banner}${line}." "$stdout"
  check "$what: the trigger line was in the redirected output while the program ran" same yes "${in_time[$stdout]:-no}"
  check "$what: the simulator's log" \
    same "$count_ok|$opened|load id=1 path=$path status=0|trigger id=1 status=0" "$(calls "$simlog")"
  stamp=$(grep -m1 ' trigger ' "$simlog" 2>/dev/null | cut -d' ' -f1 || true)
  check "$what: the trigger logged in second 0 of $(date -u -d @$boundary +%H:%M)" \
    same "$(date -u -d @$boundary +%Y-%m-%dT%H:%M:00)" "${stamp:0:19}"
  [[ $stamp =~ \.([0-9]{9})Z$ ]] && late_ns=$((10#${BASH_REMATCH[1]}))
  echo "test-windows: $name: the trigger came $(printf '%d.%03d' $((late_ns / 1000000)) $((late_ns / 1000 % 1000))) ms after the minute"
  check "$what: the trigger within 5 ms of the minute" test "$late_ns" -lt 5000000
}

# The launcher's device appears; its program and the precise one share a minute.
# The launcher's next start may be 10 s off, so this minute starts earlier.
for ((i = 0; i < 400; i++)); do note_failures; [ ${#failure_times[@]} -ge 2 ] && break; sleep 0.1; done
next_minute_run 35
note_failures
check "launcher: at least two failed starts before the device was there" test ${#failure_times[@]} -ge 2
gaps_ok=yes
for ((i = 1; i < ${#failure_times[@]}; i++)); do
  gap=$((failure_times[i] - failure_times[i - 1]))
  echo "test-windows: launcher: a failed start $gap ms after the one before"
  [ $gap -ge 9500 ] || gaps_ok=no
done
check "launcher: starts again no sooner than 10 s after each end" same yes $gaps_ok
mkdir -p "$gate"
echo "test-windows: the launcher's device is there; the precise program starts too, both for $(date -u -d @$boundary +%T)"
start precise "$dist_abs/minute-trigger-precise.exe" "${sim[stdcall]}"
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
line="Trigger: $(date -u -d @$boundary '+%Y%m%d %H:%M:00')  "$'\r\n'
sed -E 's/^.* (minute-trigger\.exe ended with exit code [0-9]+); starting it again in 10 s(\r?)$/\1\2/' \
  "$tmp/launch.snapshot" >"$tmp/launch.log" 2>/dev/null || true
check "launcher: the log holds each failed start, then the banner and the trigger line" \
  bytes "${expected}${banner}${line}." "$tmp/launch.log"
check "launcher: its program triggered the device at the minute" \
  same "$count_ok|$opened|load id=1 path=$path status=0|trigger id=1 status=0" "$(calls "$gate/sim.log")"

# The one default program against both conventions, side by side.
next_minute_run 51
echo "test-windows: minute-trigger.exe against the stdcall and the cdecl DLL, both for $(date -u -d @$boundary +%T)"
for conv in stdcall cdecl; do start $conv "$dist_abs/minute-trigger.exe" "${sim[$conv]}"; done
wait_for_lines "$tmp/stdcall.out" "$tmp/cdecl.out"
for conv in stdcall cdecl; do stop $conv; done
for conv in stdcall cdecl; do check_trigger "$conv DLL" "$conv DLL, real start" "$tmp/$conv.out" "$tmp/$conv.sim"; done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
