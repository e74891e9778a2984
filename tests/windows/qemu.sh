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
summary
