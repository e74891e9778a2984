#!/usr/bin/env bash
# Checks how each given program binds the device library: linked, not opened
# on demand; bound in full before the first poll (BIND_NOW), so the first
# trigger pays for no symbol look-up; and found only where it was put: every
# RUNPATH entry absolute or under $ORIGIN. An empty entry means the current
# directory, and a relative one a folder under it: started there, the program
# would load whatever libAWG10K.so it found.
# Usage: tests/linking_test.sh PROGRAM...
set -euo pipefail
for program in "$@"; do
  dynamic=$(readelf -d "$program")
  grep -q 'NEEDED.*\[libAWG10K.so\]' <<<"$dynamic" || { echo "linking_test: $program does not need libAWG10K.so"; exit 1; }
  grep -q 'FLAGS.*NOW' <<<"$dynamic" || { echo "linking_test: $program is not bound at load (BIND_NOW)"; exit 1; }
  runpath=$(sed -n 's/.*(RUNPATH) *Library runpath: \[\(.*\)\]$/\1/p' <<<"$dynamic")
  [ -n "$runpath" ] || { echo "linking_test: $program has no RUNPATH"; exit 1; }
  # The extra colon keeps a trailing empty entry, which read would drop.
  IFS=: read -ra entries <<<"$runpath:"
  for entry in "${entries[@]}"; do
    case "$entry" in
      /* | '$ORIGIN' | '$ORIGIN/'*) ;;
      *) echo "linking_test: $program: RUNPATH \"$runpath\" has the entry \"$entry\", empty or relative"; exit 1 ;;
    esac
  done
  echo "linking_test: $program: NEEDED libAWG10K.so, BIND_NOW, RUNPATH $runpath"
done
