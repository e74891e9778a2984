# shellcheck shell=bash
# What the benchmark (bench/run.sh) and the soak (tests/soak/run.sh) share
# besides the tests' harness, which this brings with it: their options, their
# build, the statistics of their figures. Sourced from the project's root.
source tests/lib.sh

# stats FILE: of figures in ns, one a line: the minimum, median, 99th
# percentile (nearest rank) and maximum in us, and the count.
stats() {
  sort -n "$1" | awk '{ v[NR] = $1 / 1000 }
    END { if (NR == 0) exit 1
          r = int(0.99 * NR); if (r < 0.99 * NR) r++
          m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%10.2f %10.2f %10.2f %10.2f %6d\n", v[1], m, v[r], v[NR], NR }'
}

# options USAGE NAME... -- ARG...: sets NAME from "--NAME VALUE" (a NAME
# ending in ! is a flag, set to 1) and the array sched from "--sched 'CMD...'"
# ('service': the service's settings); anything else prints USAGE, exits 2.
options() {
  local usage=$1 names=() name
  shift
  until [ "$1" = -- ]; do names+=("$1"); shift; done; shift
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
# release_build WHO DIR [CMAKE_ARG...]: the program alone, optimised, into
# DIR; faketime: the libfaketime to preload.
release_build() {
  echo "$1: building into $2/"
  cmake -S . -B "$2" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "${@:3}" >/dev/null
  cmake --build "$2" -j"$(nproc)" >/dev/null
  faketime=$(faketime_library)
}
