#!/usr/bin/env bash
# Tests the Windows build: cross-builds it with both calling conventions
# (scripts/build-windows.sh), checks the import tables, and runs the
# distributed minute-trigger.exe under Wine against the simulated AWG10K.dll,
# found through WINEPATH in its own build folder, never beside the program:
# every start-up failure, and (stdcall, the default) one real trigger at the
# next UTC minute, which takes up to a minute. Works with no display and no
# standard input. Ends with "N passed, M failed"; exits non-zero on a failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/need.sh g++-mingw-w64-i686 cmake make file wine wine32:i386

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
cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT
winpath() { local p=$1; echo "Z:${p//\//\\}"; }  # Wine maps / to drive Z:

# --- cross builds ------------------------------------------------------------
conventions=(stdcall cdecl)
for conv in "${conventions[@]}"; do
  BUILD_DIR=build-test-windows-$conv scripts/build-windows.sh -DAWG10K_CALLING_CONVENTION=$conv ||
    { echo "test-windows: the $conv build failed"; echo "$passed passed, $((failed + 1)) failed"; exit 1; }
done

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
for conv in "${conventions[@]}"; do
  b=build-test-windows-$conv
  exe=$b/dist/minute-trigger/minute-trigger.exe
  dll=$b/dist/simulator/AWG10K.dll
  check "$conv: file says PE32 console Intel 80386" \
    grep -qE '^PE32 executable \(console\) Intel 80386[ ,].*for MS Windows' <(file -b "$exe")
  check "$conv: AWG10K.dll imported by ordinals 1 3 5 6 7, nothing by name" \
    same "1 <none>,3 <none>,5 <none>,6 <none>,7 <none>" "$(imports AWG10K.dll "$exe" | sort -n | paste -sd,)"
  check "$conv: timeBeginPeriod from WINMM" grep -qx '[0-9]* timeBeginPeriod' <(imports WINMM.dll "$exe")
  check "$conv: _ftime64 and _gmtime64 from msvcrt" \
    same "_ftime64 _gmtime64" "$(imports msvcrt.dll "$exe" | awk '$2 ~ /^_(ftime|gmtime)64$/ { print $2 }' | sort | paste -sd' ')"
  check "$conv: printf from msvcrt, which writes a line at once, not MinGW's piecemeal one" \
    grep -qx '[0-9]* printf' <(imports msvcrt.dll "$exe")
  check "$conv: the program needs only Windows' DLLs and AWG10K.dll" \
    same "awg10k.dll kernel32.dll msvcrt.dll winmm.dll " "$(imported_dlls "$exe")"
  check "$conv: the program's own code calls neither LoadLibrary nor GetProcAddress" \
    eval "! i686-w64-mingw32-nm -u $b/CMakeFiles/minute-trigger.dir/*/*.obj | grep -qE 'LoadLibrary|GetProcAddress'"
  if [ "$conv" = stdcall ]; then ref=_AWG10K_Trigger@4; else ref=_AWG10K_Trigger; fi
  check "$conv: the program refers to the entries as $conv decorates them ($ref)" \
    grep -qx "U $ref" <(i686-w64-mingw32-nm -u $b/CMakeFiles/minute-trigger.dir/controller/main.cpp.obj | awk '{ print $1, $2 }')
  check "$conv: the simulated DLL exports ordinals 1 3 5 6 7" same "1 3 5 6 7 " "$(exported_ordinals "$dll")"
  check "$conv: the simulated DLL needs only Windows' DLLs" same "kernel32.dll msvcrt.dll " "$(imported_dlls "$dll")"
  check "$conv: no AWG10K.dll beside the distributed program" test ! -e "$b/dist/minute-trigger/AWG10K.dll"
done

# --- under Wine ----------------------------------------------------------------
export WINEPREFIX=$tmp/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
echo "test-windows: making a Wine prefix in $WINEPREFIX"
timeout 300 wineboot --init </dev/null >"$tmp/wineboot.out" 2>&1
timeout 120 wineserver -w
wineserver -p  # stays up between the runs below; cleanup ends it
log=$tmp/sim.log
out=$tmp/stdout
# run CONVENTION [VAR=VALUE...]: runs the distributed program to its end.
run() {
  local b=$PWD/build-test-windows-$1
  shift
  rm -f "$log"
  (cd "$tmp" && env WINEPATH="$(winpath "$b/simulator")" AWG10K_SIM_LOG="$(winpath "$log")" "$@" \
     timeout 60 wine "$b/dist/minute-trigger/minute-trigger.exe" </dev/null >"$out" 2>"$tmp/stderr")
}
calls() { sed -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\.[0-9]{9}Z //' "$log" 2>/dev/null | paste -sd'|'; }

count_ok="count devices=1 status=0"
opened="open id=1 status=0"
path='C:\Qmx\ZPR\samples\lorvex_20Hz_60sec_length.zpr'
for conv in "${conventions[@]}"; do
  while IFS=';' read -r var text expected_calls; do
    status=0
    run "$conv" "$var" || status=$?
    check "$conv, $var: prints exactly \"$text\"" bytes "$text." "$out"
    check "$conv, $var: exit status 1" same 1 "$status"
    check "$conv, $var: the simulator's log" same "$expected_calls" "$(calls)"
  done <<EOF
AWG10K_SIM_FAIL=count;AWG10K_GetNumberOfDevices() Error;count devices=1 status=-1
AWG10K_SIM_DEVICES=0;DeviceNumber=0;count devices=0 status=0
AWG10K_SIM_FAIL=open;AWG10K_Open() Error;$count_ok|open status=-1
AWG10K_SIM_FAIL=load;AWG10K_SetFile() Error;$count_ok|$opened|load id=1 path=$path status=-1|close id=1 status=0
EOF
done

# One real start (the default convention): banner, then one trigger at the next
# UTC minute. Started away from second 0, so the trigger is the boundary's.
while s=$((10#$(date -u +%S))); [ "$s" -ge 52 ] || [ "$s" -lt 2 ]; do sleep 0.5; done
b=$PWD/build-test-windows-stdcall
rm -f "$log" "$out"
start=$(date -u +%s)
boundary=$(((start / 60 + 1) * 60))
echo "test-windows: real start at $(date -u -d @"$start" +%T), waiting for the trigger at $(date -u -d @$boundary +%T)"
(cd "$tmp" && WINEPATH="$(winpath "$b/simulator")" AWG10K_SIM_LOG="$(winpath "$log")" \
   exec wine "$b/dist/minute-trigger/minute-trigger.exe" </dev/null >"$out" 2>"$tmp/stderr") &
pid=$!
running_at_line=no
while [ "$(date -u +%s)" -lt $((boundary + 15)) ] && kill -0 $pid 2>/dev/null; do
  if grep -q '^Trigger:' "$out" 2>/dev/null; then
    kill -0 $pid 2>/dev/null && running_at_line=yes
    break
  fi
  sleep 0.05
done
kill $pid 2>/dev/null || true
wait $pid 2>/dev/null || true
# stdout is in text mode, as on the lab PC: the C runtime writes each \n as \r\n.
banner=$'\r\nTriggering loop will start within a minute: \r\n\r\n'
line="Trigger: $(date -u -d @$boundary '+%Y%m%d %H:%M:00')  "$'\r\n'
check "real start: the banner, then the trigger line at $(date -u -d @$boundary +%T)" \
  bytes "${banner}${line}." "$out"
check "real start: the trigger line was in the redirected log while the program ran" same yes "$running_at_line"
check "real start: the simulator's log" \
  same "$count_ok|$opened|load id=1 path=$path status=0|trigger id=1 status=0" "$(calls)"
stamp=$(grep -m1 ' trigger ' "$log" 2>/dev/null | cut -d' ' -f1 || true)
check "real start: the trigger logged in second 0 of $(date -u -d @$boundary +%H:%M)" \
  same "$(date -u -d @$boundary +%Y-%m-%dT%H:%M:00)" "${stamp:0:19}"
late_ns=999999999
[[ $stamp =~ \.([0-9]{9})Z$ ]] && late_ns=$((10#${BASH_REMATCH[1]}))
echo "test-windows: the trigger was logged $(printf '%d.%03d' $((late_ns / 1000000)) $((late_ns / 1000 % 1000))) ms after the minute"
check "real start: the trigger within 5 ms of the minute" test "$late_ns" -lt 5000000

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
