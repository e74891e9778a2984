#!/usr/bin/env bash
# Installs the program the three ways a user may build it (in turn below: no
# device library named, the simulated one on purpose, a real one), each from
# a small build of its own into a scratch DESTDIR, and checks what each would
# get; and that the unit runs the installed program under a sleep inhibitor,
# or bare where there is no logind, its exit status passed on.
# Usage: tests/install_test.sh BUILD_DIR
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
source "$source/tests/lib.sh"
source "$source/tests/linking_test.sh"
# Kept between runs, so that a second run only relinks.
work=$(cd "$1" && pwd)/install-test

cached() { sed -n "s/^$1:[A-Z]*=//p" "$work/$2/CMakeCache.txt"; }
# Every file and link under a folder, relative to it, one a line.
contents() { (cd "$1" 2>/dev/null && find . -mindepth 1 ! -type d | sed 's|^\./||' | sort); }
# install NAME CMAKE_ARG...: the program alone (no tests) built into $work/NAME
# and installed under $tmp/NAME; sets dest, prefix, libdir, program, rc and out.
install() {
  local name=$1
  shift
  echo "install_test: $name: building into $work/$name"
  cmake -S "$source" -B "$work/$name" -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$work/$name" -j2 >/dev/null
  dest=$tmp/$name prefix=$(cached CMAKE_INSTALL_PREFIX "$name") libdir=$(cached CMAKE_INSTALL_LIBDIR "$name")
  program=$dest$prefix/bin/minute-trigger
  run env DESTDIR="$dest" cmake --install "$work/$name"
  out+=$err
}
check_installed() {
  check "installs the program, $1, the unit, minute-trigger-check and both manual pages, nothing else" \
    same "$(printf '%s\n' bin/minute-trigger bin/minute-trigger-check "$1" lib/systemd/system/minute-trigger.service \
              share/man/man8/minute-trigger.8 share/man/man8/minute-trigger-check.8 | sort)" "$(contents "$dest$prefix")"
}
# check_library_line VERDICT LIBRARY: the installed minute-trigger-check's
# line on the library its program loads.
check_library_line() {
  run "$dest$prefix/bin/minute-trigger-check"
  check "minute-trigger-check: the device library line is $1, naming $2" \
    grep -qF "$1 device library: $program loads $(realpath "$2")" <<<"$out"
}
# check_runs WHAT [VAR=VALUE...] COMMAND...: with no device attached, the
# program stops at its first call into the library, so it can only say
# DeviceNumber=0 and end with status 1 if it found one.
check_runs() {
  local what=$1
  shift
  run env -u LD_LIBRARY_PATH AWG10K_SIM_DEVICES=0 "$@"
  check "$what: says DeviceNumber=0, exit status 1" same "DeviceNumber=0 1" "$out $rc"
}

install none -DAWG10K_LIBRARY= -DAWG10K_INSTALL_SIMULATOR=OFF
check "no device library named: the install is refused" test "$rc" -ne 0
check "no device library named: the refusal names both ways to name one" \
  same 2 "$(grep -oF -e -DAWG10K_LIBRARY=/path/to/libAWG10K.so -e -DAWG10K_INSTALL_SIMULATOR=ON <<<"$out" | sort -u | wc -l)"
check "no device library named: nothing installed" same "" "$(contents "$dest")"

# The simulated library: in the program's own folder under lib/, never in lib/ itself.
install simulator -DAWG10K_LIBRARY= -DAWG10K_INSTALL_SIMULATOR=ON
check_installed "$libdir/minute-trigger/libAWG10K.so"
check_linking "\$ORIGIN/../$libdir/minute-trigger" "$program"
check_runs "the simulated library installed on purpose, in $libdir/minute-trigger/" "$program"
check_library_line "[warn]" "$dest$prefix/$libdir/minute-trigger/libAWG10K.so"

# The unit, as installed with the simulated library.
unit=$dest$prefix/lib/systemd/system/minute-trigger.service
line=$(grep '^ExecStart=' "$unit" || true)
# What systemd hands sh -c. With no $, % or backslash in it, systemd passes
# it on unchanged, so running it here runs what the service will.
script=$(sed -n "s|^ExecStart=/bin/sh -c '\(.*\)'\$|\1|p" <<<"$line")
check "unit: ExecStart is a /bin/sh -c '...' with no \$, % or backslash for systemd to rewrite" \
  grep -qv '^$\|[$%\\]' <<<"$script"
check "unit: holds off sleep and idle, blocking, around $prefix/bin/minute-trigger" \
  grep -qE -- "--what=sleep:idle --who=minute-trigger .*--mode=block $prefix/bin/minute-trigger;" <<<"$script"
# No logind to ask: the program must run all the same, its status passed on.
check_runs "unit, with no logind to ask" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$tmp/no-bus" \
  /bin/sh -c "${script//$prefix\/bin\/minute-trigger/$program}"
echo "install_test: without logind the unit runs the program bare: $err"
# With a logind here, the program runs with the lock held: a probe in its
# place lists the inhibitors, then runs it.
if systemd-inhibit --list >/dev/null 2>&1; then
  printf '#!/bin/sh\nsystemd-inhibit --list --no-pager >%s\nexec %s\n' "$tmp/inhibitors" "$program" >"$tmp/probe"
  chmod +x "$tmp/probe"
  check_runs "unit, under the inhibitor" /bin/sh -c "${script//$prefix\/bin\/minute-trigger/$tmp/probe}"
  check "unit: a sleep:idle block inhibitor while the program runs" \
    grep -qE '^minute-trigger .* sleep:idle .* block *$' "$tmp/inhibitors"
else
  skip "unit, under the inhibitor" "no logind here"
fi
if command -v systemd-analyze >/dev/null; then
  # verify wants the programs a unit runs, and its manual page, to exist: it
  # checks a copy that points into the staged install, with man looking there,
  # so it also fails when man cannot find the installed page.
  mkdir "$tmp/verify"
  sed "s|$prefix/bin/|$dest$prefix/bin/|g" "$unit" >"$tmp/verify/minute-trigger.service"
  check "unit: systemd-analyze verify passes" \
    env MANPATH="$dest$prefix/share/man" systemd-analyze verify "$tmp/verify/minute-trigger.service"
else
  skip "unit: systemd-analyze verify" "no systemd-analyze here"
fi

# A stand-in with a versioned soname and a companion library of its own,
# installed under its soname in lib/. It reports no device, after saying
# where it was loaded from and what its companion told it: DeviceNumber=0
# alone would come from the simulated library.
vendor=$work/vendor cxx=${CXX:-c++}
mkdir -p "$vendor"
echo 'extern "C" const char *awg10k_companion() { return "companion"; }' >"$tmp/companion.cpp"
cat >"$tmp/standin.cpp" <<'EOF'
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
int32_t AWG10K_Open(uint8_t *) { return 1; }  int32_t AWG10K_SetFile(uint32_t, char *) { return 1; }
int32_t AWG10K_Close(uint32_t) { return 1; }  int32_t AWG10K_Trigger(uint32_t) { return 1; }
EOF
"$cxx" -shared -fPIC -Wl,-soname,libawg10kcompanion.so.1 -o "$vendor/libawg10kcompanion.so.1" "$tmp/companion.cpp"
# Laid out as vendors do: the file, a link by soname, a link to link against.
"$cxx" -shared -fPIC -I"$source/device" -Wl,-soname,libAWG10K.so.3 -o "$vendor/libAWG10K.so.3.1" \
       "$tmp/standin.cpp" "$vendor/libawg10kcompanion.so.1"
ln -sf libAWG10K.so.3.1 "$vendor/libAWG10K.so.3"
ln -sf libAWG10K.so.3 "$vendor/libAWG10K.so"
install real -DAWG10K_LIBRARY="$vendor/libAWG10K.so" -DAWG10K_INSTALL_SIMULATOR=OFF
lib=$dest$prefix/$libdir/libAWG10K.so.3
check_installed "$libdir/libAWG10K.so.3"
check "a real library: $libdir/libAWG10K.so.3 is the library, not a link" test -f "$lib" -a ! -L "$lib"
check_linking "\$ORIGIN/../$libdir" "$program"
check_library_line "[ok]" "$lib"
# The install brings the library alone: its companion, which a user makes
# findable (the service's drop-in names the vendor's folder), comes from a
# folder of its own, so the library can only be the installed one.
mkdir -p "$tmp/companion-only"
cp "$vendor/libawg10kcompanion.so.1" "$tmp/companion-only/"
run env LD_LIBRARY_PATH="$tmp/companion-only" AWG10K_SIM_DEVICES=0 "$program"
loaded=$(sed -n 's/^stand-in \(.*\) with companion$/\1/p' <<<"$err")
check "a real library: the program loads the installed one, which reports no device" \
  same "DeviceNumber=0 1 $(realpath "$lib")" "$out $rc $(realpath "${loaded:-/nonexistent}")"
summary
