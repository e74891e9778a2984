#!/usr/bin/env bash
# The thin functions, call helper and stress check of call_stress.exe, the
# simulated entries in the import slots (call_stress_slots.cpp), as a 32-bit
# Linux program under qemu's user-mode emulator: neither Wine nor a kernel
# that runs 32-bit programs needed, so in either set.
#   tests/windows/qemu.sh [--arch i686|x86_64]
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/windows/lib.sh
windows_set_up qemu "$@"
hold_cpu_lock test-windows-qemu

qemu_stress() {  # CONVENTION ROUNDS [SED_EXPR]: builds and runs, returns its status
  local conv=$1 rounds=$2 dir=$tmp/qemu-$1${3:+-broken} entry source renames=()
  local flags=(-O2 -std=c++17 -Wall -Wextra -Wpedantic -Werror -Wa,--noexecstack -Idevice -Idevice/windows)
  for entry in GetNumberOfDevices Open SetFile Close Trigger; do renames+=("-DAWG10K_$entry=Simulated_AWG10K_$entry"); done
  mkdir -p "$dir"
  # ELF knows no .def, and its names carry no leading underscore.
  sed -e '/^[[:space:]]*\.def/d' -e "${3:-}" device/windows/call.S >"$dir/call.S"
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
# In as many rounds, the check catches a helper that leaves the stack pointer
# where the entry left it (qemu's note of the crash shows).
for conv in stdcall cdecl; do
  check "call helper under qemu against $conv entries: every call right, the stack pointer unchanged" \
    qemu_stress $conv 1000
  echo "test-windows: qemu, $conv: $(cat "$tmp/qemu-$conv/out")"
  check "the stress check catches a helper that does not put the stack pointer back ($conv)" \
    fails qemu_stress $conv 1000 '/movl[[:space:]]*%ebx, %esp/d'
  echo "test-windows: qemu, $conv, helper without its restore, expected to fail: $(head -c 300 "$tmp/qemu-$conv-broken/out")"
done

# The faked clock for 32-bit Wine, on a 32-bit program that reads the clock
# through the time64 entries as Wine's ntdll.so does: with libfaketime alone
# it reads the real time, as Wine's programs did; with time64_faked.so, the
# faked one. What clock_gettime, gettimeofday and time read, in seconds.
time64_reads() {
  qemu-i386 -L /usr/i686-linux-gnu -E LD_PRELOAD="$1" -E FAKETIME="@2026-12-08 10:00:56" "$tmp/time64_reader"
}
# within FROM TO T1 T2 T3: the three readings each in [FROM, TO).
within() { local t from=$1 to=$2; shift 2; [ $# -eq 3 ] || return 1; for t in "$@"; do ((t >= from && t < to)) || return 1; done; }
if faketime32=$(i386_file libfaketime /usr/lib/i386-linux-gnu/faketime/libfaketime.so.1 2>"$tmp/faketime32.why"); then
  printf '%s\n' '#include <stdio.h>' '#include <sys/time.h>' '#include <time.h>' \
    'int main(void) { struct timespec ts; struct timeval tv; clock_gettime(CLOCK_REALTIME, &ts); gettimeofday(&tv, 0);' \
    '  printf("%lld %lld %lld\n", (long long)ts.tv_sec, (long long)tv.tv_sec, (long long)time(0)); }' |
    i686-linux-gnu-gcc -D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64 -x c -o "$tmp/time64_reader" -
  faked=$(date -u -d '2026-12-08 10:00:56' +%s) with=$(time64_reads "$PWD/$win/time64_faked.so:$faketime32")
  alone=$(time64_reads "$faketime32")
  echo "test-windows: a 32-bit time64 reader, faked from $faked, reads $with with time64_faked.so, $alone with libfaketime alone"
  # shellcheck disable=SC2086
  check "the faked clock reaches a 32-bit time64 reader through time64_faked.so; libfaketime alone leaves it real" \
    eval 'within $faked $((faked + 5)) $with && within $((faked + 60)) 99999999999 $alone'
else
  skip "the faked clock on a 32-bit time64 reader under qemu" "$(tail -n 1 "$tmp/faketime32.why")"
fi
summary
