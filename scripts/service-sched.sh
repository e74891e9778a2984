#!/usr/bin/env bash
# Prints the command prefix (nice, chrt) that gives a process the scheduling
# settings of packaging/minute-trigger.service, so the soak and the benchmark
# measure what the service will run with.
set -euo pipefail
unit="$(dirname "$0")/../packaging/minute-trigger.service"

setting() { sed -n "s/^$1=//p" "$unit" | tail -n1; }
nice=$(setting Nice) policy=$(setting CPUSchedulingPolicy) priority=$(setting CPUSchedulingPriority)
prefix=()
[ -n "$nice" ] && prefix+=(nice -n "$nice")
case "$policy" in
  '' | other) ;;
  fifo | rr) prefix+=(chrt "--$policy" "${priority:-1}") ;;
  batch | idle) prefix+=(chrt "--$policy" 0) ;;
  *) echo "service-sched: unknown CPUSchedulingPolicy=$policy in $unit" >&2; exit 1 ;;
esac
echo "${prefix[*]}"
