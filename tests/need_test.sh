#!/usr/bin/env bash
# Checks scripts/need.sh's log over several installs, as test.sh makes them:
# each install appended under its own header (so the log of a whole run still
# holds the first one), and a failure showing its own apt output, not an
# earlier install's. apt-get and sudo are stand-ins: nothing is installed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tests/lib.sh"
mkdir "$tmp/bin"
cat >"$tmp/bin/apt-get" <<'END'
#!/bin/sh
echo "stand-in apt-get $*"
case "$*" in *install*fails-to-install*) echo "E: stand-in failure"; exit 100 ;; esac
END
printf '#!/bin/sh\nexec "$@"\n' >"$tmp/bin/sudo"
chmod +x "$tmp/bin/apt-get" "$tmp/bin/sudo"
log=$tmp/minute-trigger-need.log
stand_in() { run env TMPDIR="$tmp" PATH="$tmp/bin:$PATH" "$root/scripts/need.sh" "$@"; }

# Package names no machine has, so need.sh finds them missing.
stand_in minute-trigger-absent-first
stand_in minute-trigger-absent-second
check "two installs, each under a header of its own with the date and its packages" \
  same 2 "$(grep -cE '^==== [0-9-]+ [0-9:]+ UTC need.sh: installing minute-trigger-absent-(first|second)$' "$log")"
check "the first install's apt output is kept" grep -q 'stand-in apt-get install .*minute-trigger-absent-first' "$log"
check "the second install's apt output is there" grep -q 'stand-in apt-get install .*minute-trigger-absent-second' "$log"
check "the installs are in the order they ran" \
  same "first second" "$(grep -o 'absent-[a-z]*' "$log" | uniq | sed 's/absent-//' | paste -sd' ')"

stand_in minute-trigger-fails-to-install
check "a failed install exits non-zero" test "$rc" -ne 0
check "a failed install shows apt's error" grep -q 'E: stand-in failure' <<<"$err"
check "a failed install shows none of an earlier install's lines" same "" "$(grep 'absent-first\|absent-second' <<<"$err" || true)"
[ "$failed" -eq 0 ] || { echo "--- $log:"; cat "$log"; }
summary
