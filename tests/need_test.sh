#!/usr/bin/env bash
# Checks scripts/need.sh's log over several installs, as test.sh makes them:
# each install appended under its own header (so the log of a whole run still
# holds the first one), and a failure showing its own apt output, not an
# earlier install's. apt-get and sudo are stand-ins: nothing is installed.
set -euo pipefail
need=$(cd "$(dirname "$0")/.." && pwd)/scripts/need.sh
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/bin"
cat >"$dir/bin/apt-get" <<'EOF'
#!/bin/sh
echo "stand-in apt-get $*"
case "$*" in *install*fails-to-install*) echo "E: stand-in failure"; exit 100 ;; esac
EOF
printf '#!/bin/sh\nexec "$@"\n' >"$dir/bin/sudo"
chmod +x "$dir/bin/apt-get" "$dir/bin/sudo"
log=$dir/minute-trigger-need.log
run() { TMPDIR=$dir PATH=$dir/bin:$PATH "$need" "$@"; }
fail() { echo "need_test: $*" >&2; echo "--- $log:" >&2; cat "$log" >&2; exit 1; }

# Package names no machine has, so need.sh finds them missing.
run minute-trigger-absent-first >/dev/null
run minute-trigger-absent-second >/dev/null
[ "$(grep -c '^==== .* need.sh: installing ' "$log")" -eq 2 ] || fail "two installs did not leave two headers"
grep -q '^==== [0-9-]* [0-9:]* UTC need.sh: installing minute-trigger-absent-first$' "$log" ||
  fail "the first install's header (date, packages) is gone"
grep -q 'stand-in apt-get install .*minute-trigger-absent-first' "$log" || fail "the first install's apt output is gone"
grep -q 'stand-in apt-get install .*minute-trigger-absent-second' "$log" || fail "the second install's apt output is missing"
[ "$(grep -n 'absent-first' "$log" | head -1 | cut -d: -f1)" -lt "$(grep -n 'absent-second' "$log" | head -1 | cut -d: -f1)" ] ||
  fail "the installs are not in the order they ran"
echo "need_test: two installs, both in the log under their headers"

if run minute-trigger-fails-to-install >/dev/null 2>"$dir/stderr"; then fail "a failed install exited 0"; fi
grep -q 'E: stand-in failure' "$dir/stderr" || fail "a failed install did not show apt's error"
! grep -q 'absent-first\|absent-second' "$dir/stderr" || fail "a failed install showed an earlier install's lines"
echo "need_test: a failed install shows its own apt output only"
