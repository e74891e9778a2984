# shellcheck shell=bash
# What the shell tests, the soak and the benchmark share; sourced under set
# -euo pipefail. A test prints "ok: NAME", "FAIL: NAME" or "SKIPPED: NAME" a
# check, "N passed, M failed, K skipped" last, and exits non-zero on a failure.

# faketime_library [ARCH]: prints the libfaketime.so.1 for ARCH (x86_64 unless
# given, or i386), or fails. Its ELF class (fifth byte) is checked: the loader
# skips a preload of the other word size with a mere warning, unfaked.
faketime_library() {
  local arch=${1:-x86_64} class=2 dir
  [ "$arch" != i386 ] || class=1
  for dir in "/usr/lib/$arch-linux-gnu/faketime" /usr/lib/faketime /usr/local/lib/faketime; do
    [ "$(od -An -tu1 -j4 -N1 "$dir/libfaketime.so.1" 2>/dev/null | tr -d ' ')" != $class ] || { echo "$dir/libfaketime.so.1"; return; }
  done
  echo "no libfaketime.so.1 for $arch (Debian: libfaketime for $arch)" >&2; return 1
}
# Run rather than sourced, as tests/CMakeLists.txt does, it is that look-up.
[ "${BASH_SOURCE[0]}" != "$0" ] || { faketime_library "$@"; exit; }

passed=0 failed=0 skipped=0 summarised= on_exit= background_pids=()
tmp=$(mktemp -d)
harness_pid=$BASHPID
# What the tools leave in the temporary folder (the compiler's cc* files,
# Wine's server folders) goes with $tmp; need.sh keeps its log where it was.
outer_tmpdir=${TMPDIR:-/tmp}
export TMPDIR=$tmp
need() { TMPDIR=$outer_tmpdir scripts/need.sh "$@"; }
# on_exit: a command of the script's own, run first. Bash may run the trap
# in a subshell that a fatal error ends: only the script itself cleans up.
finish() {
  local status=$? pid
  [ "$BASHPID" = "$harness_pid" ] || return $status
  if [ -z "$summarised" ] && [ "$status" -ne 0 ] && [ $((passed + failed + skipped)) -gt 0 ]; then
    check "the test ran to its end (it stopped with exit status $status)" false
    echo "$passed passed, $failed failed, $skipped skipped"
  fi
  $on_exit
  for pid in "${background_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap finish EXIT
# background COMMAND...: runs COMMAND alongside, ended with the script.
background() { "$@" & background_pids+=($!); }

# hold_cpu_lock WHO: holds the CPU lock (CONTRIBUTING.md) to the script's end,
# unless MINUTE_TRIGGER_CPU_LOCK_HELD or a flock among its parents holds it
# already: a nested test must never wait for its caller. A flock of its own
# holds it, kept by a pipe only the script holds, so it ends with the script
# whatever the script leaves running.
cpu_lock=/tmp/minute-trigger-cpu.lock
hold_cpu_lock() {
  [ -z "${MINUTE_TRIGGER_CPU_LOCK_HELD:-}" ] && ! cpu_lock_held_above || return 0
  local held
  echo "$1: taking the CPU lock, $cpu_lock (waits while another run holds it)"
  coproc cpu_lock_holder { exec flock -o "$cpu_lock" sh -c 'echo held; exec cat >/dev/null'; }
  read -r held <&"${cpu_lock_holder[0]}"
  export MINUTE_TRIGGER_CPU_LOCK_HELD=1
}
cpu_lock_held_above() {
  local inode holders p=$PPID
  inode=$(stat -c %i "$cpu_lock" 2>/dev/null) || return 1
  holders=" $(awk -v inode="$inode" '$2 == "FLOCK" && $6 ~ ":" inode "$" { print $5 }' /proc/locks | paste -sd' ') "
  while [ "${p:-1}" -gt 1 ]; do
    [[ $holders != *" $p "* ]] || return 0
    p=$(sed -n 's/^PPid:\t//p' "/proc/$p/status" 2>/dev/null)
  done
  return 1
}

# Standard error goes to a file, and from there where it went before, so that
# an unset variable is seen wherever the harness hit it: in a check's command,
# in the arguments made for it, in a pipeline's subshell.
stderr_log=$tmp/stderr stderr_seen=0
: >"$stderr_log"
tail -s 0.1 -n +1 -f --pid="$harness_pid" "$stderr_log" >&2 &
exec 2>>"$stderr_log"
# harness_errors: sets errors to those hit since it last looked.
harness_errors() {
  local size
  size=$(stat -c %s "$stderr_log")
  errors=$(tail -c +$((stderr_seen + 1)) "$stderr_log" | head -c $((size - stderr_seen)) | grep ': unbound variable$' || true)
  stderr_seen=$size
}

# check NAME COMMAND...: one check, passing when COMMAND succeeds and the
# harness hit no unset variable on the way, whatever COMMAND's status says.
check() {
  local name=$1 status=0 errors
  shift
  "$@" || status=$?
  harness_errors
  [ -z "$errors" ] || { name+=" (the harness: ${errors%%$'\n'*})" status=1; }
  if [ $status -eq 0 ]; then passed=$((passed + 1)); echo "ok: $name"; else failed=$((failed + 1)); echo "FAIL: $name"; fi
}
# skip NAME WHY: a check that cannot run on this machine, counted and named.
skip() { skipped=$((skipped + 1)); echo "SKIPPED: $1: $2"; }
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
fails() { ! "$@"; }
# bytes EXPECTED FILE: FILE holds exactly the bytes EXPECTED.
bytes() { same "$1" "$(cat "$2" 2>/dev/null; echo .)"; }
# run [-t SECONDS] COMMAND...: COMMAND with no input and a time limit (120 s
# unless given); its status in rc, its output in out, its standard error in err.
run() {
  local limit=120
  if [ "$1" = -t ]; then limit=$2; shift 2; fi
  rc=0
  timeout "$limit" "$@" </dev/null >"$tmp/out" 2>"$tmp/err" || rc=$?
  out=$(cat "$tmp/out") err=$(cat "$tmp/err")
}

# device_log LOG: the simulated device's calls, one a line, as "MINUTE SECOND
# NS CALL ARGS... status=N" (MINUTE as 2026-12-08T10:01), any other line as
# "? ? ? LINE"; nothing for a missing log.
device_log() {
  sed -E 's/^([0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}):([0-9]{2})\.([0-9]{9})Z /\1 \2 \3 /; t; s/^/? ? ? /' \
    "$1" 2>/dev/null || true
}
# calls LOG: the calls alone, without their times, joined by |.
calls() { device_log "$1" | cut -d' ' -f4- | paste -sd'|'; }
