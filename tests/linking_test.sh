#!/usr/bin/env bash
# Checks how a program binds the device library: linked, not opened
# on demand; bound in full before the first poll (BIND_NOW), so the first
# trigger pays for no symbol look-up; and found only where it was put: the
# RUNPATH exactly the one given. Any other entry could load some other
# libAWG10K.so than its own: an empty one means the current directory, a
# relative one a folder under it, and an installed program that also looked
# in the build tree would find the build's.
# Usage: tests/linking_test.sh RUNPATH PROGRAM
# (tests/install_test.sh sources it for check_linking, with the same arguments.)
check_linking() {
  local expected=$1 program=$2 dynamic
  dynamic=$(readelf -d "$program")
  # A real library may have a versioned soname (libAWG10K.so.3).
  check "$program: NEEDED libAWG10K.so" \
    grep -qE '\(NEEDED\) *Shared library: \[libAWG10K\.so(\.[0-9.]*)?\]$' <<<"$dynamic"
  check "$program: bound at load (BIND_NOW)" grep -q 'FLAGS.*NOW' <<<"$dynamic"
  check "$program: RUNPATH exactly \"$expected\"" \
    same "$expected" "$(sed -n 's/.*(RUNPATH) *Library runpath: \[\(.*\)\]$/\1/p' <<<"$dynamic")"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  source "$(dirname "$0")/lib.sh"
  check_linking "$@"
  summary
fi
