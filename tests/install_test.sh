#!/usr/bin/env bash
# Installs the program the three ways a user may build it, each from a small
# build of its own, into scratch DESTDIRs, and checks what they would get:
# - no device library named: the install stops, says how to name one, and
#   leaves nothing behind;
# - the simulated library on purpose: it lands in the program's own folder
#   under lib/, never in lib/ itself, and the program finds it there alone;
# - a real library (a stand-in built here, with a versioned soname and a
#   companion library of its own): installed under its soname in lib/, where
#   the program finds it alone, and loads it rather than the simulated one;
# and that the unit runs the installed program under a sleep inhibitor, or
# bare where there is no logind, passing its exit status on either way.
# Usage: tests/install_test.sh BUILD_DIR
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
# Kept between runs, so that a second run only relinks.
work=$(cd "$1" && pwd)/install-test
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "install_test: $*"; exit 1; }

# Configures and builds the program alone (no tests) into $work/NAME.
build() {
  local name=$1
  shift
  cmake -S "$source" -B "$work/$name" -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$work/$name" -j2 >/dev/null
}
cached() { sed -n "s/^$1:[A-Z]*=//p" "$2/CMakeCache.txt"; }
# Every file and link under a folder, relative to it, one a line.
contents() { (cd "$1" && find . -mindepth 1 ! -type d | sed 's|^\./||' | sort); }

echo "install_test: no device library named"
build none -DAWG10K_LIBRARY= -DAWG10K_INSTALL_SIMULATOR=OFF
dest=$scratch/none
if out=$(DESTDIR=$dest cmake --install "$work/none" 2>&1); then
  fail "a build with only the simulated library installed: $out"
fi
for option in -DAWG10K_LIBRARY=/path/to/libAWG10K.so -DAWG10K_INSTALL_SIMULATOR=ON; do
  grep -qF -- "$option" <<<"$out" || fail "the refused install does not name $option: $out"
done
[ ! -e "$dest" ] || [ -z "$(contents "$dest")" ] || fail "the refused install left: $(contents "$dest")"
echo "install_test: refused, naming both options, nothing installed"

echo "install_test: the simulated library, on purpose"
build simulator -DAWG10K_LIBRARY= -DAWG10K_INSTALL_SIMULATOR=ON
dest=$scratch/simulator
DESTDIR=$dest cmake --install "$work/simulator" >/dev/null
prefix=$(cached CMAKE_INSTALL_PREFIX "$work/simulator")
libdir=$(cached CMAKE_INSTALL_LIBDIR "$work/simulator")
program=$dest$prefix/bin/minute-trigger
expected="bin/minute-trigger
$libdir/minute-trigger/libAWG10K.so
lib/systemd/system/minute-trigger.service
share/man/man8/minute-trigger.8"
[ "$(contents "$dest$prefix")" = "$(sort <<<"$expected")" ] ||
  fail "installed $(contents "$dest$prefix" | tr '\n' ' '); expected $(tr '\n' ' ' <<<"$expected")"
"$source/tests/linking_test.sh" --runpath "\$ORIGIN/../$libdir/minute-trigger" "$program"
# With no device attached the program stops at the first call into the
# library: it can only print this if it found the installed one.
rc=0
out=$(env -u LD_LIBRARY_PATH AWG10K_SIM_DEVICES=0 "$program" 2>&1) || rc=$?
[ "$rc" = 1 ] && [ "$out" = DeviceNumber=0 ] ||
  fail "installed program said \"$out\", exit $rc; expected DeviceNumber=0, exit 1"
echo "install_test: in $libdir/minute-trigger/ alone, and the program loads it from there"
if command -v man >/dev/null; then
  page=$(MANPATH=$dest$prefix/share/man man -w minute-trigger) || fail "man finds no minute-trigger page under $dest$prefix/share/man"
  [ "$page" = "$dest$prefix/share/man/man8/minute-trigger.8" ] || fail "man finds the page at $page"
  echo "install_test: man finds its page: $page"
fi

echo "install_test: the unit"
unit=$dest$prefix/lib/systemd/system/minute-trigger.service
! grep -n '@' "$unit" || fail "unit has a placeholder left"
line=$(grep '^ExecStart=' "$unit")
# What systemd hands sh -c. With no $, % or backslash in it, systemd passes
# it on unchanged, so running it here runs what the service will.
script=$(sed -n "s|^ExecStart=/bin/sh -c '\(.*\)'\$|\1|p" <<<"$line")
[ -n "$script" ] || fail "ExecStart is not the /bin/sh -c '...' form this test runs: $line"
case $script in *[\$%\\]*) fail "systemd would rewrite the \$, % or backslash in: $script" ;; esac
grep -qF -- "--what=sleep:idle --who=minute-trigger" <<<"$script" || fail "unit does not hold off sleep: $line"
grep -qF -- "--mode=block $prefix/bin/minute-trigger;" <<<"$script" || fail "unit does not inhibit around $prefix/bin/minute-trigger: $line"
staged=${script//$prefix\/bin\/minute-trigger/$dest$prefix/bin/minute-trigger}
# No logind to ask: the program must run all the same, its status passed on.
rc=0
out=$(env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$scratch/no-bus" AWG10K_SIM_DEVICES=0 \
      /bin/sh -c "$staged" 2>"$scratch/stderr") || rc=$?
[ "$rc" = 1 ] && [ "$out" = DeviceNumber=0 ] ||
  fail "without logind the unit's command said \"$out\" ($(cat "$scratch/stderr")), exit $rc; expected DeviceNumber=0, exit 1"
echo "install_test: without logind the unit runs the program bare: $(cat "$scratch/stderr")"
# With a logind here, the program runs with the lock held: a probe in its
# place lists the inhibitors, then runs it.
if systemd-inhibit --list >/dev/null 2>&1; then
  probe=$scratch/probe
  printf '#!/bin/sh\nsystemd-inhibit --list --no-pager >%s\nexec %s\n' "$scratch/inhibitors" "$program" >"$probe"
  chmod +x "$probe"
  rc=0
  out=$(env AWG10K_SIM_DEVICES=0 /bin/sh -c "${script//$prefix\/bin\/minute-trigger/$probe}" 2>/dev/null) || rc=$?
  [ "$rc" = 1 ] && [ "$out" = DeviceNumber=0 ] ||
    fail "under the inhibitor the program said \"$out\", exit $rc; expected DeviceNumber=0, exit 1"
  grep -E '^minute-trigger .* sleep:idle .* block *$' "$scratch/inhibitors" >/dev/null ||
    fail "no sleep:idle block inhibitor while the program ran: $(cat "$scratch/inhibitors")"
  echo "install_test: with logind the program runs under a sleep:idle block inhibitor, exit status passed on"
else
  echo "install_test: no logind here, so the run under the inhibitor was not tried"
fi
if command -v systemd-analyze >/dev/null; then
  # verify wants the programs a unit runs, and its manual page, to exist: it
  # checks a copy that points into the staged install, with man looking there.
  mkdir "$scratch/verify"
  sed "s|$prefix/bin/|$dest$prefix/bin/|g" "$unit" >"$scratch/verify/minute-trigger.service"
  MANPATH=$dest$prefix/share/man systemd-analyze verify "$scratch/verify/minute-trigger.service" ||
    fail "systemd-analyze verify failed"
  echo "install_test: systemd-analyze verify passes"
else
  echo "install_test: no systemd-analyze here, the unit was not verified"
fi

echo "install_test: a real library with a companion"
# The stand-in reports no device, after saying where it was loaded from and
# what its companion told it: DeviceNumber=0 alone would come from the
# simulated library.
vendor=$work/vendor
mkdir -p "$vendor"
cxx=${CXX:-c++}
cat >"$scratch/companion.cpp" <<'EOF'
extern "C" const char *awg10k_companion() { return "companion"; }
EOF
cat >"$scratch/standin.cpp" <<'EOF'
#include <dlfcn.h>
#include <stdio.h>
#include "AWG10K.h"
extern "C" const char *awg10k_companion();
int32_t AWG10K_GetNumberOfDevices(int32_t *Number) {
    Dl_info info;
    dladdr(reinterpret_cast<void *>(AWG10K_GetNumberOfDevices), &info);
    fprintf(stderr, "stand-in %s with %s\n", info.dli_fname, awg10k_companion());
    *Number = 0;
    return 0;
}
int32_t AWG10K_Open(uint8_t *) { return 1; }
int32_t AWG10K_SetFile(uint32_t, char *) { return 1; }
int32_t AWG10K_Close(uint32_t) { return 1; }
int32_t AWG10K_Trigger(uint32_t) { return 1; }
EOF
"$cxx" -shared -fPIC -Wl,-soname,libawg10kcompanion.so.1 -o "$vendor/libawg10kcompanion.so.1" "$scratch/companion.cpp"
# Laid out as vendors do: the file, a link by soname, a link to link against.
"$cxx" -shared -fPIC -I"$source/device" -Wl,-soname,libAWG10K.so.3 -o "$vendor/libAWG10K.so.3.1" \
       "$scratch/standin.cpp" "$vendor/libawg10kcompanion.so.1"
ln -sf libAWG10K.so.3.1 "$vendor/libAWG10K.so.3"
ln -sf libAWG10K.so.3 "$vendor/libAWG10K.so"
build real -DAWG10K_LIBRARY="$vendor/libAWG10K.so" -DAWG10K_INSTALL_SIMULATOR=OFF
dest=$scratch/real
DESTDIR=$dest cmake --install "$work/real" >/dev/null
prefix=$(cached CMAKE_INSTALL_PREFIX "$work/real")
libdir=$(cached CMAKE_INSTALL_LIBDIR "$work/real")
program=$dest$prefix/bin/minute-trigger
expected="bin/minute-trigger
$libdir/libAWG10K.so.3
lib/systemd/system/minute-trigger.service
share/man/man8/minute-trigger.8"
[ "$(contents "$dest$prefix")" = "$(sort <<<"$expected")" ] ||
  fail "installed $(contents "$dest$prefix" | tr '\n' ' '); expected $(tr '\n' ' ' <<<"$expected")"
[ -f "$dest$prefix/$libdir/libAWG10K.so.3" ] && [ ! -L "$dest$prefix/$libdir/libAWG10K.so.3" ] ||
  fail "$libdir/libAWG10K.so.3 is a link, not the library"
"$source/tests/linking_test.sh" --runpath "\$ORIGIN/../$libdir" "$program"
# Runs a command, keeping its exit status, output, standard error, and the
# stand-in the loader loaded, if any, as a path with no links in it.
run() {
  rc=0
  out=$("$@" 2>"$scratch/stderr") || rc=$?
  err=$(cat "$scratch/stderr")
  loaded=$(sed -n 's/^stand-in \(.*\) with companion$/\1/p' <<<"$err")
  [ -z "$loaded" ] || loaded=$(realpath "$loaded")
}
run env -u LD_LIBRARY_PATH AWG10K_SIM_DEVICES=0 "$program"
[ "$rc" = 127 ] && grep -q 'libawg10kcompanion.so.1: cannot open' <<<"$err" ||
  fail "without its companion the program said \"$out\" \"$err\", exit $rc; expected the companion missing, exit 127"
echo "install_test: found $libdir/libAWG10K.so.3 alone; its companion, as expected, not"
mkdir "$scratch/companion-only"
cp "$vendor/libawg10kcompanion.so.1" "$scratch/companion-only/"
run env LD_LIBRARY_PATH="$scratch/companion-only" AWG10K_SIM_DEVICES=0 "$program"
[ "$rc" = 1 ] && [ "$out" = DeviceNumber=0 ] && [ "$loaded" = "$(realpath "$dest$prefix/$libdir/libAWG10K.so.3")" ] ||
  fail "said \"$out\" \"$err\", exit $rc; expected the installed stand-in's line, DeviceNumber=0, exit 1"
echo "install_test: the program loads the installed stand-in: $err"
# The service's drop-in for such a library names the vendor's folder.
run env LD_LIBRARY_PATH="$vendor" AWG10K_SIM_DEVICES=0 "$program"
[ "$rc" = 1 ] && [ "$loaded" = "$(realpath "$vendor/libAWG10K.so.3")" ] ||
  fail "with LD_LIBRARY_PATH=$vendor said \"$out\" \"$err\", exit $rc; expected the vendor's stand-in"
echo "install_test: LD_LIBRARY_PATH=$vendor puts the vendor's own set first: $err"
