#!/usr/bin/env bash
# Accelerated soak: runs minute-trigger for hours of simulated time under
# libfaketime, first on an idle machine, then with every core loaded
# (stress-ng) and the service's scheduling settings, and counts from the
# simulated device's log the minutes that passed, the triggers, the minutes
# missed and the minutes triggered twice. Fails on any miss or double.
# On demand only (not in CI): it takes hours / rate * 2 of wall time, under
# the CPU lock once built. A rate at most ~33 keeps second 0 at least ~30 ms
# of real time long; a faster clock would count scheduler hiccups no real
# minute would notice as misses.
set -euo pipefail
cd "$(dirname "$0")/../.."
source bench/lib.sh

hours=6 rate=30 only= sched=(service)
options "tests/soak/run.sh [--hours H] [--rate R] [--only idle|loaded] [--sched 'CMD...']" hours rate only -- "$@"
read -ra phases <<<"${only:-idle loaded}"

need g++ cmake make libfaketime stress-ng coreutils
build=build-soak && release_build soak $build
hold_cpu_lock soak

# Simulated time starts 10 s before 21:00 on New Year's Eve, so the soak
# crosses a day, a month and a year; the program is stopped 30 simulated
# seconds after the last boundary counted.
start=1798750790  # 2026-12-31T20:59:50Z
minutes=$((hours * 60 + 1))
seconds=$(awk -v s=$((10 + (minutes - 1) * 60 + 30)) -v r="$rate" 'BEGIN { printf "%.3f", s / r }')

bad=0
for phase in "${phases[@]}"; do
  out=$build/$phase
  rm -rf "$out" && mkdir -p "$out"
  prefix=()
  if [ "$phase" = loaded ]; then
    background stress-ng --cpu "$(nproc)" --quiet
    prefix=("${sched[@]}")
    echo "soak: loaded: stress-ng on all $(nproc) cores; program under: ${prefix[*]:-default scheduling}"
  fi
  echo "soak: $phase: $hours simulated hour(s) at x$rate, ${seconds}s of wall time"
  AWG10K_SIM_LOG=$out/device.log LD_PRELOAD=$faketime FAKETIME="@$(date -u -d "@$start" '+%F %T') x$rate" \
    "${prefix[@]}" "$build/minute-trigger" >"$out/stdout.txt" &
  pid=$!
  sleep "$seconds"
  kill "$pid" && wait "$pid" 2>/dev/null || true
  [ "$phase" = loaded ] && kill "${background_pids[-1]}"

  seq $((start + 10)) 60 $((start + 10 + (minutes - 1) * 60)) | sed 's/^/@/' |
    date -u -f - +%Y-%m-%dT%H:%M >"$out/minutes.txt"
  printed=$(grep -c '^Trigger:' "$out/stdout.txt" || true)
  device_log "$out/device.log" | awk -v phase="$phase" -v printed="$printed" -v late="$out/late.ns" '
    FILENAME ~ /minutes/ { want[$1] = 1; minutes++; next }
    $4 == "trigger" { triggers++; n[$1]++; if ($2 != "00") off++; else print $3 + 0 >late }
    END {
      for (m in want) { if (m in n) seen++; else missed++ }
      for (m in n) if (n[m] > 1) doubled++
      printf "soak: %s: minutes %d, seen %d, triggers %d (printed %d), missed %d, doubled %d, outside second 0 %d\n",
        phase, minutes, seen, triggers, printed, missed + 0, doubled + 0, off + 0
      exit (missed + doubled + off > 0 || triggers != printed)
    }' "$out/minutes.txt" - || bad=1
  # Lateness is read in simulated time; divided by the rate it is what the
  # same delay on the real clock would have been.
  if [ -s "$out/late.ns" ]; then
    read -r _ median p99 max _ <<<"$(stats "$out/late.ns")"
    awk -v p="$phase" -v m="$median" -v q="$p99" -v x="$max" -v r="$rate" 'BEGIN {
      printf "soak: %s: lateness (simulated ms) median %.3f, p99 %.3f, max %.3f; max on a real clock %.0f us\n",
        p, m / 1000, q / 1000, x / 1000, x / r }'
  fi
done
[ $bad = 0 ] && echo "soak: passed" || echo "soak: FAILED (logs in $build/)"
exit $bad
