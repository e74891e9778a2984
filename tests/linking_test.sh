#!/usr/bin/env bash
# Checks how each given program binds the device library: linked, not opened
# on demand; bound in full before the first poll (BIND_NOW), so the first
# trigger pays for no symbol look-up; and found only where it was put: every
# RUNPATH entry absolute or under $ORIGIN. An empty entry means the current
# directory, and a relative one a folder under it: started there, the program
# would load whatever libAWG10K.so it found. With --runpath, the RUNPATH must
# instead be exactly the one given: an installed program that also looked
# anywhere else (the build tree, say) could load some other library than its own.
# Usage: tests/linking_test.sh [--runpath EXPECTED] PROGRAM...
# (tests/install_test.sh sources it for check_linking, with the same arguments.)
check_linking() {
  local expected= program dynamic runpath
  if [ "${1-}" = --runpath ]; then
    expected=$2
    shift 2
  fi
  for program in "$@"; do
    dynamic=$(readelf -d "$program")
    # A real library may have a versioned soname (libAWG10K.so.3).
    check "$program: NEEDED libAWG10K.so" \
      grep -qE '\(NEEDED\) *Shared library: \[libAWG10K\.so(\.[0-9.]*)?\]$' <<<"$dynamic"
    check "$program: bound at load (BIND_NOW)" grep -q 'FLAGS.*NOW' <<<"$dynamic"
    runpath=$(sed -n 's/.*(RUNPATH) *Library runpath: \[\(.*\)\]$/\1/p' <<<"$dynamic")
    [ -n "$expected" ] || check "$program: RUNPATH \"$runpath\", every entry absolute or under \$ORIGIN" safe_runpath "$runpath"
    [ -z "$expected" ] || check "$program: RUNPATH exactly \"$expected\"" same "$expected" "$runpath"
  done
}

safe_runpath() {
  local entry entries
  IFS=: read -ra entries <<<"$1:"  # the extra colon keeps a trailing empty entry
  [ -n "$1" ] && for entry in "${entries[@]}"; do [[ $entry == /* || $entry == '$ORIGIN'?(/*) ]] || return 1; done
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  source "$(dirname "$0")/lib.sh"
  check_linking "$@"
  summary
fi
