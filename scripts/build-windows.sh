#!/usr/bin/env bash
# Cross-builds minute-trigger for 32-bit Windows with Debian's MinGW-w64 and
# lays out what is shipped. Installs the cross compiler first if missing.
# Usage: scripts/build-windows.sh [CMAKE_OPTION...]
#   e.g. scripts/build-windows.sh -DAWG10K_CALLING_CONVENTION=cdecl
#   (the convention of the simulated DLL only; the programs work with either)
# BUILD_DIR names the build folder (default build-windows). Results:
#   $BUILD_DIR/dist/minute-trigger/      minute-trigger.exe, minute-trigger-precise.exe,
#                                        run-minute-trigger.cmd, minute-trigger-logon.xml,
#                                        minute-trigger-boot.xml, INSTALL.txt, BUILD.txt
#   $BUILD_DIR/dist/simulator/           the simulated AWG10K.dll, for dry runs
#   $BUILD_DIR/dist/*.zip                the same two folders zipped
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${BUILD_DIR:-build-windows}

scripts/need.sh g++-mingw-w64-i686 cmake make
# The toolchain file counts only when a build folder is first configured.
toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake)
if [ -f "$dir/CMakeCache.txt" ]; then
  grep -q '^CMAKE_TOOLCHAIN_FILE:.*mingw-i686\.cmake$' "$dir/CMakeCache.txt" ||
    { echo "build-windows: $dir is not a Windows build folder; remove it or set BUILD_DIR" >&2; exit 1; }
  toolchain=()
fi
echo "build-windows: configuring $dir with cmake/mingw-i686.cmake $*"
cmake -S . -B "$dir" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "$@" >/dev/null
echo "build-windows: building $dir/minute-trigger.exe, $dir/minute-trigger-precise.exe and $dir/simulator/AWG10K.dll"
cmake --build "$dir" -j"$(nproc)" >/dev/null
convention=$(sed -n 's/^AWG10K_CALLING_CONVENTION:STRING=//p' "$dir/CMakeCache.txt")
strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$dir/CMakeCache.txt")

dist=$dir/dist
rm -rf "$dist"
mkdir -p "$dist/minute-trigger" "$dist/simulator"
for program in minute-trigger minute-trigger-precise; do
  "$strip" -o "$dist/minute-trigger/$program.exe" "$dir/$program.exe"
done
"$strip" -o "$dist/simulator/AWG10K.dll" "$dir/simulator/AWG10K.dll"
# Windows text files: CRLF line ends, so Notepad on any version shows lines
# and cmd.exe finds every label of the launcher (with bare LF it can miss one).
for text in INSTALL.txt run-minute-trigger.cmd; do
  sed 's/$/\r/' "packaging/windows/$text" >"$dist/minute-trigger/$text"
done
# Task definitions in UTF-16 with a byte order mark, as the Task Scheduler
# itself writes them, so that schtasks /XML reads them on any version.
for task in minute-trigger-logon.xml minute-trigger-boot.xml; do
  sed -e '1s/encoding="UTF-8"/encoding="UTF-16"/' -e 's/$/\r/' "packaging/windows/$task" |
    iconv -f UTF-8 -t UTF-16 >"$dist/minute-trigger/$task"
done
revision=$(git describe --always --dirty 2>/dev/null || echo unknown)
printf 'minute-trigger %s, 32-bit Windows (i686)\r\nAWG10K.dll: stdcall or cdecl, either works\r\n' \
       "$revision" >"$dist/minute-trigger/BUILD.txt"
printf 'simulated AWG10K.dll, minute-trigger %s, 32-bit Windows (i686)\r\ncalling convention: %s\r\n' \
       "$revision" "$convention" >"$dist/simulator/BUILD.txt"
(cd "$dist" && cmake -E tar cf minute-trigger-windows-x86.zip --format=zip minute-trigger \
 && cmake -E tar cf AWG10K-simulator-windows-x86.zip --format=zip simulator)
echo "build-windows: simulated AWG10K.dll built $convention"
echo "build-windows: program  $dist/minute-trigger/ and $dist/minute-trigger-windows-x86.zip"
echo "build-windows: simulator (dry runs only, never beside the program) $dist/simulator/ and $dist/AWG10K-simulator-windows-x86.zip"
