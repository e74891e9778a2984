#!/usr/bin/env bash
# How late does the trigger come? Builds the benchmarks, then measures the
# time from each UTC minute boundary to the simulated device's trigger entry
# (its log stamps the entry's start) for minute-trigger, for the same program
# without its warming of the trigger entry (minute-trigger-cold: what it was
# before), and for a reference that sleeps to the boundary, plus the cost of one poll, the CPU the program
# burns and the longest time a spinning loop loses its core. Prints a table
# and writes a histogram (build-bench/lateness.png).
#
#   bench/run.sh [--boundaries N]   N boundaries each (default 100), libfaketime
#                                   offsets so every run starts just before one
#   bench/run.sh --real MINUTES     real clock, no faking, both side by side
#   --load                          both cores busy (stress-ng) while measuring
#   --sched 'CMD...'                prefix both triggers with CMD (e.g. 'nice -n -20',
#                                   'chrt -f 10'; 'service' reads the unit file)
#
# It spins a core: on a shared machine run it under
# flock /tmp/minute-trigger-cpu.lock.
set -euo pipefail
cd "$(dirname "$0")/.."

boundaries=100 real=0 load=0 sched=()
while [ $# -gt 0 ]; do
  case "$1" in
    --boundaries) boundaries=$2; shift 2 ;;
    --real) real=$2; shift 2 ;;
    --load) load=1; shift ;;
    --sched) read -ra sched <<<"$2"; shift 2 ;;
    *) echo "usage: bench/run.sh [--boundaries N | --real MINUTES] [--load] [--sched 'CMD...']" >&2; exit 2 ;;
  esac
done
[ "${sched[*]:-}" = service ] && read -ra sched <<<"$(scripts/service-sched.sh)"

scripts/need.sh g++ cmake make libbenchmark-dev libfaketime gnuplot-nox stress-ng procps
build=build-bench
echo "bench: building into $build/"
cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DMINUTE_TRIGGER_BENCH=ON >/dev/null
cmake --build $build -j"$(nproc)" >/dev/null
program=$build/minute-trigger cold=$build/bench/minute-trigger-cold reference=$build/bench/sleeping_trigger
faketime=$(ls /usr/lib/*/faketime/libfaketime.so.1 | head -n1)
out=$build/lateness
rm -rf "$out" && mkdir -p "$out"

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT
if [ $load = 1 ]; then
  echo "bench: loading all $(nproc) cores with stress-ng"
  stress-ng --cpu "$(nproc)" --quiet &
  pids+=($!)
  sleep 1
fi
[ ${#sched[@]} -gt 0 ] && echo "bench: running both triggers under: ${sched[*]}"

# Prints each trigger's lateness in ns, one a line, from a simulator log. A
# trigger outside second 0, a second one in a minute, or (given MINUTE, as
# YYYY-MM-DDTHH:MM) a run that started too late or did not trigger in that
# minute stops the benchmark: the figures would hide the very faults they are
# there to show.
lateness_of() {  # log [minute]
  awk -v want="${2:-}" '
    $2 == "load" && want != "" && $1 >= want ":00" { late_start = 1 }
    $2 == "trigger" {
      m = substr($1, 1, 16); n++
      if (substr($1, 17, 3) != ":00" || ++seen[m] > 1 || (want != "" && m != want)) bad = bad " " $1
      else print substr($1, 21, 9) + 0
    }
    END {
      if (late_start) { print FILENAME ": started after the boundary" > "/dev/stderr"; exit 1 }
      if (bad != "" || (want != "" && n != 1)) {
        print FILENAME ": " n " trigger(s), wrong ones:" bad > "/dev/stderr"; exit 1
      }
    }' "$1"
}

# One trigger run per boundary: libfaketime's offset puts the boundary
# $lead seconds after the run starts. Its clock_nanosleep turns an absolute
# fake deadline into the real one (checked on 0.9.10), so the reference
# sleeps to the same boundary the program polls for, and both pay
# libfaketime's cost on every clock read.
lead=0.25
first=1798761540  # 2026-12-31T23:59:00Z: the second run crosses into a new year
run_faked() {  # label boundary-epoch command...
  local label=$1 at=$2 log=$out/$1-$2.log offset
  shift 2
  offset=$(awk -v at="$at" -v now="$(date +%s.%N)" -v lead=$lead 'BEGIN { printf "%+.6f", at - now - lead }')
  AWG10K_SIM_LOG=$log LD_PRELOAD=$faketime FAKETIME="$offset" "${sched[@]}" "$@" >/dev/null &
  local pid=$!
  sleep "$lead" 0.05
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  lateness_of "$log" "$(date -u -d "@$at" +%Y-%m-%dT%H:%M)" >>"$out/$label.ns"
}

if [ "$real" -gt 0 ]; then
  echo "bench: real clock, $real minute(s): both triggers side by side, one core each"
  # A program started in second 0 triggers at once, late by its start-up.
  while [ "$(date +%S)" = 59 ] || [ "$(date +%S)" = 00 ]; do sleep 0.5; done
  AWG10K_SIM_LOG=$out/program.log "${sched[@]}" "$program" >/dev/null &
  pids+=($!)
  AWG10K_SIM_LOG=$out/reference.log "${sched[@]}" "$reference" "$real" &
  refpid=$!
  wait $refpid
  kill "${pids[-1]}"
  for label in program reference; do lateness_of "$out/$label.log" >"$out/$label.ns"; done
  what="over $real real minute(s), no clock faking"
else
  echo "bench: $boundaries boundaries each, every run starting ${lead}s before one (libfaketime offsets)"
  for ((i = 0; i < boundaries; i++)); do
    at=$((first + 60 * i))
    # Alternating, so a change in the machine's load falls on both alike.
    run_faked program $at "$program"
    run_faked cold $at "$cold"
    run_faked reference $at "$reference" 1
  done
  what="over $boundaries minute boundaries each, libfaketime offsets"
fi

# min, median, 99th percentile (nearest rank), max, in us
stats() {
  sort -n "$1" | awk '{ v[NR] = $1 / 1000 }
    END { if (NR == 0) exit 1
          r = int(0.99 * NR); if (r < 0.99 * NR) r++
          m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%10.2f %10.2f %10.2f %10.2f %6d\n", v[1], m, v[r], v[NR], NR }'
}
program_stats=$(stats "$out/program.ns")
# Only the faked runs have the cold program: the real-clock ones give each
# trigger a core of its own, and there are two.
cold_stats=$([ -s "$out/cold.ns" ] && stats "$out/cold.ns" || echo "    (not measured on the real clock)")
reference_stats=$(stats "$out/reference.ns")

echo "bench: poll cost (Google Benchmark, no libfaketime)"
"${sched[@]}" $build/bench/poll_cost --benchmark_min_time=0.3 --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null >"$out/poll.csv"
cost() { awk -F, -v n="\"$1_median\"" '$1 == n { printf "%.1f", $3 }' "$out/poll.csv"; }

echo "bench: CPU time of the program over 3 wall seconds"
AWG10K_SIM_LOG=/dev/null "${sched[@]}" "$program" >/dev/null &
cpupid=$!
read -r cpu0 _ </proc/$cpupid/schedstat
t0=$(date +%s%N)
sleep 3
read -r cpu1 _ </proc/$cpupid/schedstat
t1=$(date +%s%N)
kill $cpupid && wait $cpupid 2>/dev/null || true
echo "bench: stalls of a spinning loop over 5 wall seconds"
stalls=$("${sched[@]}" $build/bench/spin_stalls 5)

cat <<EOF

Trigger lateness $what
  load: $([ $load = 1 ] && echo "stress-ng on all $(nproc) cores" || echo idle)   scheduling: ${sched[*]:-default}
  machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')

                       min us  median us     p99 us     max us      n
  minute-trigger $program_stats
  not warmed     $cold_stats
  sleeping ref.  $reference_stats
$(awk -v p="$program_stats" -v r="$reference_stats" 'BEGIN { split(p, a); split(r, b)
    printf "  median ratio (reference / minute-trigger): %.0fx\n", (a[2] > 0 ? b[2] / a[2] : 0) }')

  one poll:        $(cost Poll) ns (warm the entry + read + break down + second)
  bare clock read: $(cost ClockRead) ns   break-down alone: $(cost BreakDown) ns   warming alone: $(cost WarmEntry) ns
$(awk -v p="$(cost Poll)" -v c="$(cost ClockRead)" 'BEGIN { printf "  poll / clock read: %.2fx\n", p / c }')
$(awk -v c=$((cpu1 - cpu0)) -v w=$((t1 - t0)) 'BEGIN { printf "  CPU per wall second: %.2f s\n", c / w }')
  spinning loop, 5 s: $stalls
EOF

# Bins a tenth of a decade wide, so both triggers read on one axis: centre,
# left edge, right edge, count.
for label in program reference; do
  awk '{ k = int(log($1 / 1000) / log(10) * 10 + 100.5) - 100; n[k]++ }
    END { for (k in n) print 10 ^ (k / 10), 10 ^ ((k - 0.45) / 10), 10 ^ ((k + 0.45) / 10), n[k] }' \
    "$out/$label.ns" | sort -g >"$out/$label.bins"
done
gnuplot <<EOF
set terminal pngcairo size 900,500 font ",11"
set output "$build/lateness.png"
set title "Trigger lateness $what"
set xlabel "lateness after the minute boundary (us, log scale)"
set ylabel "triggers"
set logscale x
set grid
set key top right opaque
set offsets 0, 0, graph 0.1, 0
set style fill solid 0.6 border -1
plot "$out/program.bins" using 1:4:2:3:(0):4 with boxxyerror lc rgb "#1f77b4" title "minute-trigger (spins)", \\
     "$out/reference.bins" using 1:4:2:3:(0):4 with boxxyerror lc rgb "#d62728" title "reference (sleeps to the boundary)"
EOF
echo
echo "bench: histogram written to $build/lateness.png, raw figures (ns) in $out/"
