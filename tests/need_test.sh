#!/usr/bin/env bash
# Checks scripts/need.sh over several installs, as test.sh makes them: each
# logged under its own header; an apt-get update failing for one index; a
# failed install. apt-get, sudo and sleep are stand-ins: nothing is installed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tests/lib.sh"
mkdir "$tmp/bin"
cat >"$tmp/bin/apt-get" <<'END'
#!/bin/sh
echo "stand-in apt-get $*"
case "$*" in
  # As apt says it: first with an error and status 100, then with a warning and 0.
  *update) [ ! -e "$TMPDIR/update-fails" ] || {
      level=E; [ ! -s "$TMPDIR/update-fails" ] || level=W; echo >>"$TMPDIR/update-fails"
      echo "$level: Failed to fetch http://mirror.invalid/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (40 != 41). Mirror sync in progress?"
      [ $level = W ]; } ;;
  *install*fails-to-install*) echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;;
esac
END
printf '#!/bin/sh\nexec "$@"\n' >"$tmp/bin/sudo"
printf '#!/bin/sh\n' >"$tmp/bin/sleep"
chmod +x "$tmp/bin/apt-get" "$tmp/bin/sudo" "$tmp/bin/sleep"
log=$tmp/minute-trigger-need.log
stand_in() { run env TMPDIR="$tmp" PATH="$tmp/bin:$PATH" "$root/scripts/need.sh" "$@"; }

# Package names no machine has, so need.sh finds them missing.
stand_in minute-trigger-absent-first
stand_in minute-trigger-absent-second
check "each install in the log under a header of its own with the date, in the order they ran" \
  same "first first second second" \
  "$(grep -oE '^==== [0-9-]+ [0-9:]+ UTC need.sh: installing minute-trigger-absent-[a-z]+$|apt-get.* install .*absent-[a-z]+' "$log" |
     grep -o '[a-z]*$' | paste -sd' ')"

touch "$tmp/update-fails"
stand_in minute-trigger-absent-third
rm "$tmp/update-fails"
check "an update failing for one index, twice: installs all the same" \
  same "0 2 need: installed minute-trigger-absent-third" \
  "$rc $(sed -n '/installing minute-trigger-absent-third$/,$p' "$log" | grep -c 'apt-get .* update$') $(tail -n1 <<<"$out")"
check "an update failing for one index: warns naming the index and why" \
  grep -q '^need: warning: could not fetch http://mirror.invalid/.*/binary-i386/Packages.xz (File has unexpected size .*)$' <<<"$err"

stand_in minute-trigger-fails-to-install
check "a failed install exits non-zero, naming the packages and apt's reason" \
  same "1 need: could not install minute-trigger-fails-to-install: E: Unable to correct problems, you have held broken packages." \
  "$rc $(head -n1 <<<"$err")"
check "a failed install shows none of an earlier install's lines" same "" "$(grep 'absent-' <<<"$err" || true)"
[ "$failed" -eq 0 ] || { echo "--- $log:"; cat "$log"; }
summary
