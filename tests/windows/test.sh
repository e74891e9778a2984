#!/usr/bin/env bash
# Tests the Windows build: cross-builds it (scripts/build-windows.sh, and the
# simulated AWG10K.dll once more in cdecl), checks what the files import and
# export (files.sh), runs the call helper under qemu (qemu.sh), then the
# programs, the launcher and the tasks under Wine (wine.sh).
# Then the installer package on a fresh prefix (msi.sh): installed into a
# folder of its own, upgraded, uninstalled while the program runs, and a bad
# TASK refused.
#   tests/windows/test.sh [--arch i686|x86_64]
# i686 runs the shipped 32-bit files under 32-bit Wine, against a stdcall and
# a cdecl DLL; the default where the kernel cannot start Wine's 32-bit loader
# is x86_64: a twin built for 64-bit Windows (for these tests, never shipped)
# under 64-bit Wine, against the one DLL its one convention allows. Either way
# the 32-bit files are checked and the call helper runs under qemu. The real
# starts run two at a time, both for one minute (two spinning cores are all a
# small machine has), up to two minutes in all. Needs no display and no input.
set -euo pipefail
cd "$(dirname "$0")/../.."
export LC_ALL=C
source tests/lib.sh
source tests/windows/lib.sh

arch=
options "tests/windows/test.sh [--arch i686|x86_64]" arch -- "$@"
case "$arch" in '' | i686 | x86_64) ;; *) echo "test-windows: --arch is i686 or x86_64, not $arch" >&2; exit 2 ;; esac

need g++-mingw-w64-i686 g++-mingw-w64-x86-64 cmake make file wine wine64 wine32:i386 \
  g++-i686-linux-gnu qemu-user bsdutils libxml2-utils strace wixl msitools
why_not_32bit="the x86_64 set was asked for"
if [ -z "$arch" ]; then
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    arch=i686
  else
    arch=x86_64
    why_not_32bit="this kernel does not run 32-bit programs, so 32-bit Wine cannot start"
    echo "test-windows: $why_not_32bit: running the x86-64 twin under 64-bit Wine instead"
  fi
fi
echo "test-windows: the $arch set runs under Wine"
prefixes=()
end_wine() { local p; for p in "${prefixes[@]}"; do WINEPREFIX=$p wineserver -k 2>/dev/null || true; done; }
on_exit=end_wine

# --- cross builds ------------------------------------------------------------
win=build-test-windows cdecl=build-test-windows-cdecl win64=build-test-windows-x86_64
build_failed() { check "the cross builds" false; summary || exit 1; }
{
  BUILD_DIR=$win scripts/build-windows.sh &&
    echo "test-windows: building $win/call_stress.exe, probe.exe and warmth_check.exe" &&
    cmake --build $win --target call_stress probe warmth_check >/dev/null &&
    echo "test-windows: building the simulated AWG10K.dll in cdecl, in $cdecl" &&
    cmake -S . -B $cdecl -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
          -DAWG10K_CALLING_CONVENTION=cdecl >/dev/null &&
    cmake --build $cdecl --target awg10k_simulator >/dev/null
} || build_failed
if [ $arch = x86_64 ]; then
  # The twin: built here, for the runs below alone; never laid out or zipped.
  echo "test-windows: building the x86-64 twin in $win64 (tests only, never shipped)"
  { cmake -S . -B $win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null &&
      cmake --build $win64 -j"$(nproc)" --target minute-trigger minute-trigger-precise awg10k_simulator \
            call_stress probe warmth_check >/dev/null; } || build_failed
fi
dist=$win/dist/minute-trigger
declare -A sim=([stdcall]=$PWD/$win/simulator [cdecl]=$PWD/$cdecl/simulator [x86_64]=$PWD/$win64/simulator)

# --- what the files say ------------------------------------------------------
source tests/windows/files.sh
check_files i686 "$dist" "$win" "${sim[stdcall]}" "${sim[cdecl]}"
check_shipped_files
[ $arch = x86_64 ] && check_files x86_64 "$win64" "$win64" "${sim[x86_64]}"

# --- the call helper, as a 32-bit Linux program under qemu -------------------
source tests/windows/qemu.sh

# --- under Wine --------------------------------------------------------------
if [ $arch = i686 ]; then
  export WINEARCH=win32
  wine=/usr/lib/wine/wine programs=$PWD/$dist launcher=$PWD/$dist/run-minute-trigger.cmd
  stress=$PWD/$win/call_stress.exe probe=$PWD/$win/probe.exe warmth=$PWD/$win/warmth_check.exe
  variants=(stdcall cdecl)
else
  # 64-bit Wine's own loader throughout: the wine command would pick the
  # 32-bit one wherever it is installed, whether or not the kernel runs it.
  export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
  wine=$WINELOADER programs=$PWD/$win64 launcher=$tmp/run-minute-trigger.cmd
  stress=$PWD/$win64/call_stress.exe probe=$PWD/$win64/probe.exe warmth=$PWD/$win64/warmth_check.exe
  variants=(x86_64)
  cp "$dist/run-minute-trigger.cmd" "$launcher"
fi
source tests/windows/wine.sh

# --- the installer package, on a fresh prefix of its own --------------------
source tests/windows/msi.sh

summary
