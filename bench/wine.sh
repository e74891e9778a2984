#!/usr/bin/env bash
# How late the Windows program triggers under Wine, on a faked clock. Each run
# starts LEAD seconds before a faked minute boundary (libfaketime preloaded on
# Wine's loader fakes the program and the simulated DLL alike) and ends at the
# DLL's trigger; the lateness is the fraction of a second in that trigger's
# stamp, in 100 ns steps. The programs take turns, the order reversed every
# round, so that a change in the machine's load falls on all alike:
#   minute-trigger       the program: the precise clock, warmed
#   minute-trigger-cold  the same without the warming
#   minute-trigger-tick-clock  the program on _ftime64, as it runs on Windows 7
# Prints min, median, 95th percentile and max per program, in us.
#   bench/wine.sh [--boundaries N] [--lead SECONDS] [--arch i686|x86_64]
# It spins a core, and takes the CPU lock (CONTRIBUTING.md) while it runs.
set -euo pipefail
cd "$(dirname "$0")/.."
boundaries=30 lead=3 arch_option=()
while [ $# -gt 0 ]; do
  case $1 in
    --boundaries) boundaries=$2 ;;
    --lead) lead=$2 ;;
    --arch) arch_option=(--arch "$2") ;;
    *) echo "usage: bench/wine.sh [--boundaries N] [--lead SECONDS] [--arch i686|x86_64]" >&2; exit 2 ;;
  esac
  shift 2
done
source tests/windows/lib.sh
source bench/lateness.sh
windows_set_up bench-wine "${arch_option[@]}"
[ -n "$faketime" ] || { echo "bench-wine: no libfaketime for the $arch set" >&2; exit 1; }
bench=$PWD/build-bench-windows-$arch
echo "bench-wine: building the three programs into $bench/"
[ -f "$bench/CMakeCache.txt" ] || cmake -S . -B "$bench" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$arch.cmake \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DMINUTE_TRIGGER_BENCH=ON >/dev/null
cmake --build "$bench" -j2 --target minute-trigger minute-trigger-cold minute-trigger-tick-clock awg10k_simulator >/dev/null
declare -A exe=([minute-trigger]=$bench/minute-trigger.exe [minute-trigger-cold]=$bench/bench/minute-trigger-cold.exe
                [minute-trigger-tick-clock]=$bench/minute-trigger-tick-clock.exe)
programs=(minute-trigger minute-trigger-cold minute-trigger-tick-clock)

hold_cpu_lock bench-wine
new_prefix "$tmp/prefix" "for the runs"
wineserver -p
wine_run cmd /c exit  # Wine's services up before the first timed run
boundary=$(date -u -d '2026-12-08 10:01:00' +%s)
minute=$(date -u -d "@$boundary" +%Y-%m-%dT%H:%M)
# run PROGRAM N: one run, its lateness in ns appended to $tmp/PROGRAM.ns.
run() {
  local log=$tmp/$1-$2.sim i
  wine_run -b -d "$bench/simulator" AWG10K_SIM_LOG="$(winpath "$log")" LD_PRELOAD="$faketime" \
    FAKETIME="@$(date -d "@$((boundary - lead))" '+%Y-%m-%d %H:%M:%S')" FAKETIME_DONT_FAKE_MONOTONIC=1 "${exe[$1]}"
  for ((i = 0; i < (lead + 15) * 20; i++)); do grep -q ' trigger ' "$log" 2>/dev/null && break; sleep 0.05; done
  kill -KILL "$wine_pid" 2>/dev/null || true
  wait "$wine_pid" 2>/dev/null || true
  lateness_of "$log" "$minute" >>"$tmp/$1.ns"
}
echo "bench-wine: $boundaries runs of each, ${lead} s before a faked boundary, the $arch set${why_not_32bit:+ ($why_not_32bit)}"
for ((n = 0; n < boundaries; n++)); do
  order=("${programs[@]}")
  ((n % 2 == 0)) || order=(minute-trigger-tick-clock minute-trigger-cold minute-trigger)
  for program in "${order[@]}"; do run "$program" "$n"; done
done

echo
echo "Trigger lateness under $("$wine" --version), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "                            min us  median us     p95 us     max us      n"
for program in "${programs[@]}"; do
  sort -n "$tmp/$program.ns" | awk -v name="$program" '{ v[NR] = $1 / 1000 }
    END { r = int(0.95 * NR); if (r < 0.95 * NR) r++
          m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "  %-25s %8.1f %10.1f %10.1f %10.1f %6d\n", name, v[1], m, v[r], v[NR], NR }'
done
echo "bench-wine: the figures in ns, one a run: kept in $bench/lateness/"
rm -rf "$bench/lateness" && mkdir -p "$bench/lateness" && cp "$tmp"/*.ns "$bench/lateness/"
