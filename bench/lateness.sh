# shellcheck shell=bash
# The figures of bench/run.sh, sourced by it after bench/lib.sh (device_log,
# stats).

# Prints each trigger's lateness in ns, one a line, from a device log. A
# trigger outside second 0, a second one in a minute, or (given MINUTE, as
# YYYY-MM-DDTHH:MM) a run that started too late or did not trigger in that
# minute stops the benchmark: the figures would hide the very faults they are
# there to show.
lateness_of() {  # log [minute]
  device_log "$1" | awk -v want="${2:-}" -v file="$1" '
    $4 == "load" && want != "" && $1 >= want { late_start = 1 }
    $4 == "trigger" {
      n++
      if ($2 != "00" || ++seen[$1] > 1 || (want != "" && $1 != want)) bad = bad " " $1 ":" $2 "." $3
      else print $3 + 0
    }
    END {
      if (late_start) { print file ": started after the boundary" > "/dev/stderr"; exit 1 }
      if (bad != "" || (want != "" && n != 1)) {
        print file ": " n " trigger(s), wrong ones:" bad > "/dev/stderr"; exit 1
      }
    }'
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
