# shellcheck shell=bash
# The log reading and figures of bench/run.sh, sourced by it.

# Prints each trigger's lateness in ns, one a line, from a device log. A
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

# min, median, 99th percentile (nearest rank), max, in us, and the count
stats() {  # file of ns
  sort -n "$1" | awk '{ v[NR] = $1 / 1000 }
    END { if (NR == 0) exit 1
          r = int(0.99 * NR); if (r < 0.99 * NR) r++
          m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%10.2f %10.2f %10.2f %10.2f %6d\n", v[1], m, v[r], v[NR], NR }'
}

# The ratio of two medians, from two lines of stats.
median_ratio() {  # numerator-stats denominator-stats
  awk -v a="$1" -v b="$2" 'BEGIN { split(a, x); split(b, y); printf "%.2fx", (y[2] > 0 ? x[2] / y[2] : 0) }'
}

# Bins a tenth of a decade wide, so every series reads on one log axis:
# centre, left edge, right edge, count.
bins() {  # file of ns
  awk '{ k = int(log($1 / 1000) / log(10) * 10 + 100.5) - 100; n[k]++ }
    END { for (k in n) print 10 ^ (k / 10), 10 ^ ((k - 0.45) / 10), 10 ^ ((k + 0.45) / 10), n[k] }' "$1" |
    sort -g
}

# A histogram of the given series (file, title, colour triples) into PNG.
histogram() {  # png title file title colour [file title colour...]
  local png=$1 title=$2 plots=() file
  shift 2
  while [ $# -gt 0 ]; do
    file=${1%.ns}.bins
    bins "$1" >"$file"
    plots+=("\"$file\" using 1:4:2:3:(0):4 with boxxyerror lc rgb \"$3\" title \"$2\"")
    shift 3
  done
  gnuplot <<EOF
set terminal pngcairo size 900,500 font ",11"
set output "$png"
set title "$title"
set xlabel "lateness after the minute boundary (us, log scale)"
set ylabel "triggers"
set logscale x
set grid
set key top right opaque
set offsets 0, 0, graph 0.1, 0
set style fill solid 0.5 border -1
plot $(IFS=,; echo "${plots[*]}")
EOF
}
