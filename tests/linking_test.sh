#!/usr/bin/env bash
# Checks how each given program binds the device library: linked, not opened
# on demand; bound in full before the first poll (BIND_NOW), so the first
# trigger pays for no symbol look-up; and found only where it was put: every
# RUNPATH entry absolute or under $ORIGIN. An empty entry means the current
# directory, and a relative one a folder under it: started there, the program
# would load whatever libAWG10K.so it found. With --runpath, the RUNPATH must
# be exactly the one given: an installed program that also looked anywhere
# else (the build tree, say) could load some other library than its own.
# Usage: tests/linking_test.sh [--runpath EXPECTED] PROGRAM...
set -euo pipefail
expected=
if [ "${1-}" = --runpath ]; then
  expected=$2
  shift 2
fi
for program in "$@"; do
  dynamic=$(readelf -d "$program")
  # A real library may have a versioned soname (libAWG10K.so.3).
  needed=$(sed -n 's/.*(NEEDED) *Shared library: \[\(libAWG10K\.so\(\.[0-9.]*\)\{0,1\}\)\]$/\1/p' <<<"$dynamic")
  [ -n "$needed" ] || { echo "linking_test: $program does not need libAWG10K.so"; exit 1; }
  grep -q 'FLAGS.*NOW' <<<"$dynamic" || { echo "linking_test: $program is not bound at load (BIND_NOW)"; exit 1; }
  runpath=$(sed -n 's/.*(RUNPATH) *Library runpath: \[\(.*\)\]$/\1/p' <<<"$dynamic")
  [ -n "$runpath" ] || { echo "linking_test: $program has no RUNPATH"; exit 1; }
  if [ -n "$expected" ] && [ "$runpath" != "$expected" ]; then
    echo "linking_test: $program: RUNPATH \"$runpath\", expected exactly \"$expected\""
    exit 1
  fi
  # The extra colon keeps a trailing empty entry, which read would drop.
  IFS=: read -ra entries <<<"$runpath:"
  for entry in "${entries[@]}"; do
    case "$entry" in
      /* | '$ORIGIN' | '$ORIGIN/'*) ;;
      *) echo "linking_test: $program: RUNPATH \"$runpath\" has the entry \"$entry\", empty or relative"; exit 1 ;;
    esac
  done
  echo "linking_test: $program: NEEDED $needed, BIND_NOW, RUNPATH $runpath"
done
