# shellcheck shell=bash
# What every shell test shares (tests/*.sh, tests/windows/*.sh), and with
# them the soak and the benchmark. Sourced by a script that runs under
# set -euo pipefail. A test prints one line a check, "ok: NAME" or
# "FAIL: NAME" (SKIPPED for one that cannot run here), and
# "N passed, M failed, K skipped" last; it exits non-zero on a failure.

passed=0 failed=0 skipped=0 summarised=
tmp=$(mktemp -d)
# What the tools leave in the temporary folder (the compiler's cc* files,
# Wine's server folders) goes with $tmp; scripts/need.sh keeps its log where
# it was.
need() { TMPDIR=$outer_tmpdir scripts/need.sh "$@"; }
outer_tmpdir=${TMPDIR:-/tmp}
export TMPDIR=$tmp
background_pids=()
# A script sets on_exit to a command of its own to run before the rest of
# the clean-up (ending Wine's servers, say).
on_exit=
# Bash may run the trap in a subshell that a fatal error ends (an unset
# variable in a pipeline, say): only the script itself cleans up.
harness_pid=$BASHPID
finish() {
  local status=$? pid
  [ "$BASHPID" = "$harness_pid" ] || return $status
  if [ -z "$summarised" ] && [ "$status" -ne 0 ] && [ $((passed + failed + skipped)) -gt 0 ]; then
    echo "FAIL: the test stopped before its end (exit status $status)"
    echo "$passed passed, $((failed + 1)) failed, $skipped skipped"
  fi
  $on_exit
  for pid in "${background_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap finish EXIT

# Standard error goes to a file, and from there to where it went before, so
# that an unset variable the harness hits is seen wherever it was: in a
# check's command, in the arguments made for it, in a pipeline's subshell.
stderr_log=$tmp/stderr stderr_seen=0
: >"$stderr_log"
tail -s 0.1 -n +1 -f --pid=$BASHPID "$stderr_log" >&2 &
exec 2>>"$stderr_log"
# harness_errors: sets errors to the unset variables hit since it last
# looked, one a line.
harness_errors() {
  local size
  size=$(stat -c %s "$stderr_log")
  errors=$(tail -c +$((stderr_seen + 1)) "$stderr_log" | head -c $((size - stderr_seen)) | grep ': unbound variable$' || true)
  stderr_seen=$size
}

# background COMMAND...: runs COMMAND alongside, ended with the script.
background() {
  "$@" &
  background_pids+=($!)
}

# check NAME COMMAND...: one check, passing when COMMAND succeeds. A variable
# the harness left unset fails it, even where COMMAND's status hides it.
check() {
  local name=$1 status=0 errors
  shift
  "$@" || status=$?
  harness_errors
  if [ -n "$errors" ]; then
    name+=" (the harness: ${errors%%$'\n'*})"
    status=1
  fi
  if [ $status -eq 0 ]; then
    passed=$((passed + 1))
    echo "ok: $name"
  else
    failed=$((failed + 1))
    echo "FAIL: $name"
  fi
}
# skip NAME WHY: a check that cannot run on this machine, counted and named.
skip() {
  skipped=$((skipped + 1))
  echo "SKIPPED: $1: $2"
}
# summary: the count line; fails if any check did.
summary() {
  local errors
  harness_errors
  [ -z "$errors" ] || check "the harness: ${errors//$'\n'/; }" false
  summarised=yes
  echo "$passed passed, $failed failed, $skipped skipped"
  [ "$failed" -eq 0 ]
}

# same EXPECTED ACTUAL: equal strings; shows both when not.
same() {
  [ "$1" = "$2" ] && return 0
  printf '  expected: %q\n  actual:   %q\n' "$1" "$2"
  return 1
}
# bytes EXPECTED FILE: FILE holds exactly the bytes EXPECTED.
bytes() { same "$1" "$(cat "$2" 2>/dev/null; echo .)"; }

# run [-t SECONDS] COMMAND...: runs COMMAND with no input and a time limit
# (120 s unless given): its exit status in rc, its output in out and in
# $tmp/out, its standard error in err.
run() {
  local limit=120
  if [ "$1" = -t ]; then limit=$2; shift 2; fi
  rc=0
  timeout "$limit" "$@" </dev/null >"$tmp/out" 2>"$tmp/err" || rc=$?
  out=$(cat "$tmp/out")
  err=$(cat "$tmp/err")
}

# --- the simulated device's log ----------------------------------------------
# device_log LOG: each call the device logged, one a line, as
# "MINUTE SECOND NS CALL ARGS... status=N" (MINUTE as 2026-12-08T10:01); a
# line of any other kind as "? ? ? LINE". Nothing for a missing log.
device_log() {
  sed -E 's/^([0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}):([0-9]{2})\.([0-9]{9})Z /\1 \2 \3 /; t; s/^/? ? ? /' \
    "$1" 2>/dev/null || true
}
# calls LOG: the calls alone, without their times, joined by |.
calls() { device_log "$1" | cut -d' ' -f4- | paste -sd'|'; }

# stats FILE: of a file of figures in ns, one a line: the minimum, median,
# 99th percentile (nearest rank) and maximum in us, and the count.
stats() {
  sort -n "$1" | awk '{ v[NR] = $1 / 1000 }
    END { if (NR == 0) exit 1
          r = int(0.99 * NR); if (r < 0.99 * NR) r++
          m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%10.2f %10.2f %10.2f %10.2f %6d\n", v[1], m, v[r], v[NR], NR }'
}

# --- the long runs: the soak and the benchmark ---------------------------------
# options USAGE NAME... -- ARG...: sets the variable NAME from each
# "--NAME VALUE" in ARGs (a NAME ending in ! is a flag, set to 1), and the
# array sched from "--sched 'CMD...'" ('service': the service's settings);
# anything else prints USAGE and exits 2.
options() {
  local usage=$1 names=() name
  shift
  while [ "$1" != -- ]; do names+=("$1"); shift; done
  shift
  while [ $# -gt 0 ]; do
    for name in "${names[@]}" sched ''; do [ "$1" = "--${name%!}" ] && break; done
    case $name in
      '') echo "usage: $usage" >&2; exit 2 ;;
      *!) printf -v "${name%!}" 1; shift ;;
      sched) read -ra sched <<<"${2-}"; shift 2 ;;
      *) printf -v "$name" %s "${2-}"; shift 2 ;;
    esac
  done
  [ "${sched[*]:-}" != service ] || read -ra sched <<<"$(scripts/service-sched.sh)"
}
# release_build WHO DIR [CMAKE_ARG...]: the program alone (no tests),
# optimised, into DIR; faketime set to the libfaketime to preload.
release_build() {
  local dir=$2
  echo "$1: building into $dir/"
  shift 2
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)" >/dev/null
  faketime=$(ls /usr/lib/*/faketime/libfaketime.so.1 | head -n1)
}
