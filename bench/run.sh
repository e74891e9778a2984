#!/usr/bin/env bash
# How late does the trigger come? Builds the benchmarks, then measures the
# time from each UTC minute boundary to the device library's trigger entry
# (its log stamps the moment it would talk to the device) for minute-trigger,
# for the same program warming only the trigger entry's first lines
# (minute-trigger-entry-only: what it was before) and without any warming
# (minute-trigger-cold: what it was first), and for a reference that sleeps
# to the boundary. Each runs against two libraries: the simulator, and a
# stand-in shaped unlike it (bench/stand_in_library.cpp), put in front with
# LD_LIBRARY_PATH. Then the cost of one poll, the CPU the program burns and
# the longest time a spinning loop loses its core. Prints a table per
# library and writes a histogram (BUILD_DIR/lateness.png).
#
#   bench/run.sh [--boundaries N]   N boundaries each (default 100), libfaketime
#                                   offsets so every run starts just before one
#   bench/run.sh --real MINUTES     real clock, no faking: each minute the program and
#                                   the one without warming side by side, the two
#                                   libraries in turn
#   --load                          both cores busy (stress-ng) while measuring
#   --sched 'CMD...'                prefix the triggering programs with CMD (e.g.
#                                   'nice -n -20', 'chrt -f 10'; 'service' reads the unit file)
# BUILD_DIR names the build folder (default build-bench).
#
# It spins a core: on a shared machine run it under
# flock /tmp/minute-trigger-cpu.lock.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
source bench/lateness.sh

boundaries=100 real=0 load=0 sched=()
options "bench/run.sh [--boundaries N | --real MINUTES] [--load] [--sched 'CMD...']" boundaries real 'load!' -- "$@"

need g++ cmake make libbenchmark-dev libfaketime gnuplot-nox stress-ng procps
build=${BUILD_DIR:-build-bench}
release_build bench "$build" -DMINUTE_TRIGGER_BENCH=ON
program=$build/minute-trigger entry=$build/bench/minute-trigger-entry-only cold=$build/bench/minute-trigger-cold
reference=$build/bench/sleeping_trigger
libraries=(simulator stand-in)
declare -A library_dir=([simulator]=$build/simulator [stand-in]=$build/bench/stand-in)
declare -A spinner=([program]=$program [cold]=$cold)
out=$build/lateness
rm -rf "$out" && mkdir -p "$out"
# The programs' standard error (a machine with no time daemon gets the clock
# line from every start) goes to $out/stderr, not between the tables.

if [ $load = 1 ]; then
  echo "bench: loading all $(nproc) cores with stress-ng"
  background stress-ng --cpu "$(nproc)" --quiet
  sleep 1
fi
[ ${#sched[@]} -gt 0 ] && echo "bench: running the triggering programs under: ${sched[*]}"

# One trigger run per boundary: libfaketime's offset puts the boundary
# $lead seconds after the run starts. Its clock_nanosleep turns an absolute
# fake deadline into the real one (checked on 0.9.10), so the reference
# sleeps to the same boundary the program polls for, and both pay
# libfaketime's cost on every clock read.
lead=0.25
first=1798761540  # 2026-12-31T23:59:00Z: the second run crosses into a new year
run_faked() {  # library label boundary-epoch command...
  local library=$1 label=$2 at=$3 log=$out/$1-$2-$3.log offset pid
  shift 3
  offset=$(awk -v at="$at" -v now="$(date +%s.%N)" -v lead=$lead 'BEGIN { printf "%+.6f", at - now - lead }')
  LD_LIBRARY_PATH=${library_dir[$library]} AWG10K_SIM_LOG=$log LD_PRELOAD=$faketime FAKETIME="$offset" \
    "${sched[@]}" "$@" >/dev/null 2>>"$out/stderr" &
  pid=$!
  sleep "$lead" 0.05
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  lateness_of "$log" "$(date -u -d "@$at" +%Y-%m-%dT%H:%M)" >>"$out/$library-$label.ns"
}

# One real minute: the program and the one without warming, each on a core,
# both started after second 0 (a program started in it triggers at once, late
# by its start-up), so each spins most of a minute before its trigger.
run_real_minute() {  # library
  local library=$1 minute label run=()
  while [ "$(date +%S)" = 59 ] || [ "$(date +%S)" = 00 ]; do sleep 0.2; done
  minute=$(date -u -d "@$(($(date +%s) / 60 * 60 + 60))" +%Y-%m-%dT%H:%M)
  for label in program cold; do
    LD_LIBRARY_PATH=${library_dir[$library]} AWG10K_SIM_LOG=$out/$library-$label-$minute.log \
      "${sched[@]}" "${spinner[$label]}" >/dev/null 2>>"$out/stderr" &
    run+=($!)
  done
  sleep "$(awk -v now="$(date +%s.%N)" 'BEGIN { printf "%.3f", 60 - now % 60 + 0.1 }')"
  kill "${run[@]}" 2>/dev/null || true
  wait "${run[@]}" 2>/dev/null || true
  for label in program cold; do
    lateness_of "$out/$library-$label-$minute.log" "$minute" >>"$out/$library-$label.ns"
  done
}

if [ "$real" -gt 0 ]; then
  echo "bench: real clock, $real minute(s): the program and the one without warming side by side," \
       "one core each, the libraries in turn"
  for ((i = 0; i < real; i++)); do run_real_minute "${libraries[i % 2]}"; done
  what="over $real real minute(s), no clock faking"
else
  echo "bench: $boundaries boundaries each, every run starting ${lead}s before one (libfaketime offsets)"
  for ((i = 0; i < boundaries; i++)); do
    at=$((first + 60 * i))
    # Alternating, so a change in the machine's load falls on all alike.
    for library in "${libraries[@]}"; do
      run_faked "$library" program $at "$program"
      run_faked "$library" entry $at "$entry"
      run_faked "$library" cold $at "$cold"
      run_faked "$library" reference $at "$reference" 1
    done
  done
  what="over $boundaries minute boundaries each, libfaketime offsets"
fi

echo "bench: poll cost against each library (Google Benchmark, no libfaketime)"
for library in "${libraries[@]}"; do
  LD_LIBRARY_PATH=${library_dir[$library]} "${sched[@]}" "$build/bench/poll_cost" --benchmark_min_time=0.3 \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true --benchmark_format=csv \
    2>/dev/null >"$out/$library-poll.csv"
done
cost() { awk -F, -v n="\"$2_median\"" '$1 == n { printf "%.1f", $3 }' "$out/$1-poll.csv"; }

echo "bench: CPU time of the program over 3 wall seconds"
AWG10K_SIM_LOG=/dev/null "${sched[@]}" "$program" >/dev/null 2>>"$out/stderr" &
cpupid=$!
read -r cpu0 _ </proc/$cpupid/schedstat
t0=$(date +%s%N)
sleep 3
read -r cpu1 _ </proc/$cpupid/schedstat
t1=$(date +%s%N)
kill $cpupid && wait $cpupid 2>/dev/null || true
echo "bench: stalls of a spinning loop over 5 wall seconds"
stalls=$("${sched[@]}" "$build/bench/spin_stalls" 5)

table() {  # library
  local library=$1 program_stats entry_stats= cold_stats reference_stats=
  program_stats=$(stats "$out/$library-program.ns")
  cold_stats=$(stats "$out/$library-cold.ns")
  # On the real clock the two spinning programs have a core each, and there
  # are two: the others are measured only on the faked clock.
  [ -s "$out/$library-entry.ns" ] && entry_stats=$(stats "$out/$library-entry.ns")
  [ -s "$out/$library-reference.ns" ] && reference_stats=$(stats "$out/$library-reference.ns")
  echo
  echo "  $library: ${library_dir[$library]}/libAWG10K.so"
  echo "                       min us  median us     p99 us     max us      n"
  echo "  minute-trigger $program_stats"
  echo "  entry only     ${entry_stats:-    (not measured on the real clock)}"
  echo "  not warmed     $cold_stats"
  echo "  sleeping ref.  ${reference_stats:-    (not measured on the real clock)}"
  echo -n "  median ratio to minute-trigger: not warmed $(median_ratio "$cold_stats" "$program_stats")"
  [ -z "$entry_stats" ] || echo -n ", entry only $(median_ratio "$entry_stats" "$program_stats")"
  [ -z "$reference_stats" ] || echo -n ", reference $(median_ratio "$reference_stats" "$program_stats")"
  echo
  awk -v p="$(cost "$library" Poll)" -v w="$(cost "$library" WarmEntry)" -v c="$(cost "$library" ClockRead)" \
    'BEGIN { printf "  one poll: %.1f ns, of which the warming %.1f ns; poll / clock read: %.2fx\n", p, w, p / c }'
}

echo
echo "Trigger lateness $what"
echo "  load: $([ $load = 1 ] && echo "stress-ng on all $(nproc) cores" || echo idle)   scheduling: ${sched[*]:-default}" \
     "  at the end:$(uptime | sed 's/.*load average/ load average/')"
echo "  machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
for library in "${libraries[@]}"; do table "$library"; done
echo
echo "  bare clock read: $(cost simulator ClockRead) ns   break-down alone: $(cost simulator BreakDown) ns"
awk -v c=$((cpu1 - cpu0)) -v w=$((t1 - t0)) 'BEGIN { printf "  CPU per wall second: %.2f s\n", c / w }'
echo "  spinning loop, 5 s: $stalls"

series=()
for library in "${libraries[@]}"; do
  if [ "$library" = simulator ]; then colours=("#1f77b4" "#aec7e8"); else colours=("#2ca02c" "#98df8a"); fi
  series+=("$out/$library-program.ns" "minute-trigger, $library" "${colours[0]}"
           "$out/$library-cold.ns" "not warmed, $library" "${colours[1]}")
done
[ ! -s "$out/simulator-reference.ns" ] ||
  series+=("$out/simulator-reference.ns" "sleeping reference, simulator" "#d62728")
histogram "$build/lateness.png" "Trigger lateness $what" "${series[@]}"
echo
echo "bench: histogram written to $build/lateness.png, raw figures (ns) in $out/"
[ ! -s "$out/stderr" ] || echo "bench: the programs wrote $(wc -l <"$out/stderr") lines to standard error, in $out/stderr"
