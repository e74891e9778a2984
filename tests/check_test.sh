#!/usr/bin/env bash
# minute-trigger-check from the build tree, with the clock's stand-in in
# place of the kernel's discipline: its clock line follows the program's
# rule, in its words, a fix under it when the clock is not kept; its
# summary and exit status follow its lines.
# Usage: tests/check_test.sh CHECK CLOCK_SYNC_STAND_IN
set -euo pipefail
source "$(dirname "$0")/lib.sh"
program=$1 stand_in=$2

# report ANSWER: the report with the kernel answering ANSWER (a maximum
# error in microseconds, or refuse); sets out and rc.
report() {
  echo "$1" >"$tmp/answer"
  run env LD_PRELOAD="$stand_in" ASAN_OPTIONS=verify_asan_link_order=0 CLOCK_SYNC_STAND_IN="$tmp/answer" "$program"
}
# after PATTERN: the line after the first line matching PATTERN.
after() { grep -A1 -m1 -e "$1" <<<"$out" | sed -n 2p; }
# The status its lines call for: 2 with a [FAIL], else 1 with a [warn], else
# 3 with an [unknown].
status_of_lines() {
  local mark
  for mark in FAIL:2 warn:1 unknown:3; do grep -q "^\[${mark%:*}\] " <<<"$out" && { echo "${mark#*:}"; return; }; done
  echo 0
}
summary_counts() {
  local mark counts=()
  for mark in ok warn FAIL unknown note; do counts+=("$(grep -c "^\[$mark\] " <<<"$out")"); done
  echo "${counts[0]} ok, ${counts[1]} warn, ${counts[2]} FAIL, ${counts[3]} unknown, ${counts[4]} noted"
}

report 16000000
check "unsynchronised: the clock line is [FAIL], in the program's words" \
  grep -q '^\[FAIL\] clock: not synchronised (kernel: maximum error 16 s)' <<<"$out"
check "unsynchronised: a fix under it" grep -q '^    fix: ' <<<"$(after '^\[FAIL\] clock:')"
check "every line a verdict or a fix under one, the summary last, counting them; the exit status the lines call for" \
  same "0|minute-trigger-check: $(summary_counts)|$(status_of_lines)" \
  "$(grep -cvE '^(\[(ok|warn|FAIL|unknown|note)\] |    fix: |minute-trigger-check: )' <<<"$out")|$(tail -n 1 <<<"$out")|$rc"
check "the build tree's program loads the simulated library, which is said, with a fix" \
  grep -q '^\[warn\] device library: .* loads .*/simulator/libAWG10K.so, the simulated one' <<<"$out"

report 12000
check "synchronised: the clock line is [ok], with the program's figure, and no fix" \
  same "[ok] clock: synchronised (reported maximum error 12 ms)|" \
  "$(grep '^\[ok\] clock:' <<<"$out" | sed 's/, kept by .*//')|$(after '^\[ok\] clock:' | grep '^    fix:' || true)"
check "synchronised: the exit status the lines call for" same "$(status_of_lines)" "$rc"

report refuse
check "a refused read: the clock line is [unknown] and says why" \
  grep -q '^\[unknown\] clock: synchronisation unknown (ntp_adjtime: Operation not permitted)' <<<"$out"
summary
