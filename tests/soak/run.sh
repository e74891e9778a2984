#!/usr/bin/env bash
# Accelerated soak: runs minute-trigger for hours of simulated time under
# libfaketime, first on an idle machine, then with every core loaded
# (stress-ng) and the service's scheduling settings, and counts from the
# simulated device's log the minutes that passed, the triggers, the minutes
# missed and the minutes triggered twice. Fails on any miss or double.
# On demand only (not in CI): it takes hours / rate * 2 of wall time.
#
#   tests/soak/run.sh [--hours H] [--rate R] [--only idle|loaded] [--sched 'CMD...']
#
# R at most ~33 keeps second 0 at least ~30 ms of real time long; a faster
# clock would count scheduler hiccups no real minute would notice as misses.
# It spins a core: on a shared machine run it under
# flock /tmp/minute-trigger-cpu.lock.
set -euo pipefail
cd "$(dirname "$0")/../.."

hours=6 rate=30 phases=(idle loaded) sched=()
while [ $# -gt 0 ]; do
  case "$1" in
    --hours) hours=$2; shift 2 ;;
    --rate) rate=$2; shift 2 ;;
    --only) phases=("$2"); shift 2 ;;
    --sched) read -ra sched <<<"$2"; shift 2 ;;
    *) echo "usage: tests/soak/run.sh [--hours H] [--rate R] [--only idle|loaded] [--sched 'CMD...']" >&2; exit 2 ;;
  esac
done
[ ${#sched[@]} -gt 0 ] || read -ra sched <<<"$(scripts/service-sched.sh)"

scripts/need.sh g++ cmake make libfaketime stress-ng coreutils
build=build-soak
echo "soak: building into $build/"
cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build $build -j"$(nproc)" >/dev/null
faketime=$(ls /usr/lib/*/faketime/libfaketime.so.1 | head -n1)

# Simulated time starts 10 s before 21:00 on New Year's Eve, so the soak
# crosses a day, a month and a year; the program is stopped 30 simulated
# seconds after the last boundary counted.
start=1798750790  # 2026-12-31T20:59:50Z
minutes=$((hours * 60 + 1))
seconds=$(awk -v s=$((10 + (minutes - 1) * 60 + 30)) -v r="$rate" 'BEGIN { printf "%.3f", s / r }')

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT
failed=0
for phase in "${phases[@]}"; do
  out=$build/$phase
  rm -rf "$out" && mkdir -p "$out"
  prefix=()
  if [ "$phase" = loaded ]; then
    stress-ng --cpu "$(nproc)" --quiet &
    pids+=($!)
    prefix=("${sched[@]}")
    echo "soak: loaded: stress-ng on all $(nproc) cores; program under: ${prefix[*]:-default scheduling}"
  fi
  echo "soak: $phase: $hours simulated hour(s) at x$rate, ${seconds}s of wall time"
  AWG10K_SIM_LOG=$out/device.log LD_PRELOAD=$faketime FAKETIME="@$(date -u -d "@$start" '+%F %T') x$rate" \
    "${prefix[@]}" "$build/minute-trigger" >"$out/stdout.txt" &
  pid=$!
  sleep "$seconds"
  kill "$pid" && wait "$pid" 2>/dev/null || true
  [ "$phase" = loaded ] && kill "${pids[-1]}"

  seq $((start + 10)) 60 $((start + 10 + (minutes - 1) * 60)) | sed 's/^/@/' |
    date -u -f - +%Y-%m-%dT%H:%M >"$out/minutes.txt"
  printed=$(grep -c '^Trigger:' "$out/stdout.txt" || true)
  # Lateness is read in simulated time; divided by the rate it is what the
  # same delay on the real clock would have been.
  awk -v rate="$rate" -v phase="$phase" -v printed="$printed" '
    FILENAME ~ /minutes/ { want[$1] = 1; minutes++; next }
    $2 == "trigger" {
      m = substr($1, 1, 16); triggers++; n[m]++
      if (substr($1, 17, 3) != ":00") off++
      else late[++k] = substr($1, 21, 9) / 1e6
    }
    END {
      for (m in want) { if (m in n) seen++; else missed++ }
      for (m in n) if (n[m] > 1) doubled++
      for (i = 2; i <= k; i++) { v = late[i]; j = i - 1; while (j > 0 && late[j] > v) { late[j + 1] = late[j]; j-- } late[j + 1] = v }
      r = int(0.99 * k); if (r < 0.99 * k) r++
      printf "soak: %s: minutes %d, seen %d, triggers %d (printed %d), missed %d, doubled %d, outside second 0 %d\n",
        phase, minutes, seen, triggers, printed, missed + 0, doubled + 0, off + 0
      if (k) printf "soak: %s: lateness (simulated ms) median %.3f, p99 %.3f, max %.3f; max on a real clock %.0f us\n",
        phase, late[int((k + 1) / 2)], late[r], late[k], late[k] / rate * 1000
      exit (missed + doubled + off > 0 || triggers != printed)
    }' "$out/minutes.txt" "$out/device.log" || failed=1
done
[ $failed = 0 ] && echo "soak: passed" || echo "soak: FAILED (logs in $build/)"
exit $failed
