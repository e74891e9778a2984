#!/usr/bin/env bash
# Installs a build into a scratch DESTDIR and checks what a user would get:
# the program finds the device library through its RUNPATH (no
# LD_LIBRARY_PATH) and nowhere else, and the unit starts the installed program.
# Usage: tests/install_test.sh BUILD_DIR
set -euo pipefail
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR=$dest cmake --install "$build" >/dev/null
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
program=$dest$prefix/bin/minute-trigger
unit=$dest$prefix/lib/systemd/system/minute-trigger.service
echo "install_test: installed into $dest$prefix"

# With no device attached the program stops at the first call into the
# library: it can only print this if the installed library was found.
rc=0
out=$(env -u LD_LIBRARY_PATH AWG10K_SIM_DEVICES=0 "$program" 2>&1) || rc=$?
if [ "$rc" != 1 ] || [ "$out" != "DeviceNumber=0" ]; then
  echo "install_test: installed program said \"$out\", exit $rc; expected DeviceNumber=0, exit 1"
  exit 1
fi
echo "install_test: installed program loads its library"
"$(dirname "$0")/linking_test.sh" "$program"

grep -qx "ExecStart=$prefix/bin/minute-trigger" "$unit" || { echo "install_test: unit does not start $prefix/bin/minute-trigger"; exit 1; }
! grep -n '@' "$unit" || { echo "install_test: unit has a placeholder left"; exit 1; }
echo "install_test: unit starts the installed program"
