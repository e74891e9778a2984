#!/usr/bin/env bash
# Cross-builds minute-trigger for 32-bit Windows with Debian's MinGW-w64 and
# lays out what is shipped. Installs the cross compiler first if missing.
# Usage: scripts/build-windows.sh [CMAKE_OPTION...]
#   e.g. scripts/build-windows.sh -DAWG10K_CALLING_CONVENTION=cdecl
#   (the convention of the simulated DLL only; the program works with either)
# BUILD_DIR names the build folder (default build-windows). Results:
#   $BUILD_DIR/dist/minute-trigger/      minute-trigger.exe, minute-trigger-check.exe,
#                                        run-minute-trigger.cmd, minute-trigger-logon.xml,
#                                        minute-trigger-boot.xml, minute-trigger-INSTALL.txt,
#                                        minute-trigger-BUILD.txt
#   $BUILD_DIR/dist/simulator/           the simulated AWG10K.dll, for dry runs
#   $BUILD_DIR/dist/*.zip                the same two folders zipped
#   $BUILD_DIR/dist/minute-trigger-VERSION-x86.msi
#                                        the Windows Installer package of the first
#                                        (packaging/windows/minute-trigger.wxs)
# SIGN_PKCS12=FILE.pfx signs the program and the package with osslsigncode,
# its password in the file SIGN_PASSWORD_FILE (none if unset), time-stamped by
# the server SIGN_TIMESTAMP_URL if set. Without it nothing is signed.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${BUILD_DIR:-build-windows}

# wixl builds the package, msitools' msiinfo reads it back.
scripts/need.sh g++-mingw-w64-i686 cmake make wixl msitools
[ -z "${SIGN_PKCS12:-}" ] || scripts/need.sh osslsigncode
# The cross tools leave empty temporary files behind (dlltool's cc*): they go
# into the build folder, never into /tmp.
mkdir -p "$dir/tmp"
TMPDIR=$(cd "$dir/tmp" && pwd)
export TMPDIR
# The toolchain file counts only when a build folder is first configured.
toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake)
if [ -f "$dir/CMakeCache.txt" ]; then
  grep -q '^CMAKE_TOOLCHAIN_FILE:.*mingw-i686\.cmake$' "$dir/CMakeCache.txt" ||
    { echo "build-windows: $dir is not a Windows build folder; remove it or set BUILD_DIR" >&2; exit 1; }
  toolchain=()
fi
echo "build-windows: configuring $dir with cmake/mingw-i686.cmake $*"
cmake -S . -B "$dir" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "$@" >/dev/null
echo "build-windows: building $dir/minute-trigger.exe, $dir/minute-trigger-check.exe, $dir/simulator/AWG10K.dll" \
     "and $dir/task-for-folder.dll (the installer's custom steps)"
cmake --build "$dir" -j"$(nproc)" >/dev/null
convention=$(sed -n 's/^AWG10K_CALLING_CONVENTION:STRING=//p' "$dir/CMakeCache.txt")
strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$dir/CMakeCache.txt")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
# sign FILE: signed in place, when a certificate was given.
sign() {
  [ -n "${SIGN_PKCS12:-}" ] || return 0
  local options=(-pkcs12 "$SIGN_PKCS12" -n minute-trigger -h sha256)
  [ -z "${SIGN_PASSWORD_FILE:-}" ] || options+=(-readpass "$SIGN_PASSWORD_FILE")
  [ -z "${SIGN_TIMESTAMP_URL:-}" ] || options+=(-ts "$SIGN_TIMESTAMP_URL")
  osslsigncode sign "${options[@]}" -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
  echo "build-windows: signed $1"
}

dist=$dir/dist
rm -rf "$dist"
mkdir -p "$dist/minute-trigger" "$dist/simulator"
for program in minute-trigger minute-trigger-check; do
  "$strip" -o "$dist/minute-trigger/$program.exe" "$dir/$program.exe"
  sign "$dist/minute-trigger/$program.exe"
done
"$strip" -o "$dist/simulator/AWG10K.dll" "$dir/simulator/AWG10K.dll"
# Windows text files: CRLF line ends, so Notepad on any version shows lines
# and cmd.exe finds every label of the launcher (with bare LF it can miss one).
# minute-trigger-INSTALL.txt names the package by its version.
for text in minute-trigger-INSTALL.txt run-minute-trigger.cmd; do
  sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "packaging/windows/$text" >"$dist/minute-trigger/$text"
done
# Task definitions in UTF-16 with a byte order mark, as the Task Scheduler
# itself writes them, so that schtasks /XML reads them on any version.
for task in minute-trigger-logon.xml minute-trigger-boot.xml; do
  sed -e '1s/encoding="UTF-8"/encoding="UTF-16"/' -e 's/$/\r/' "packaging/windows/$task" |
    iconv -f UTF-8 -t UTF-16 >"$dist/minute-trigger/$task"
done
# The version, and the revision where the source is a git checkout.
revision=$(git describe --always --dirty 2>/dev/null || true)
built="$version${revision:+ (revision $revision)}"
printf 'minute-trigger %s, 32-bit Windows (i686)\r\nAWG10K.dll: stdcall or cdecl, either works\r\n' \
       "$built" >"$dist/minute-trigger/minute-trigger-BUILD.txt"
printf 'simulated AWG10K.dll, minute-trigger %s, 32-bit Windows (i686)\r\ncalling convention: %s\r\n' \
       "$built" "$convention" >"$dist/simulator/BUILD.txt"
(cd "$dist" && cmake -E tar cf minute-trigger-windows-x86.zip --format=zip minute-trigger \
 && cmake -E tar cf AWG10K-simulator-windows-x86.zip --format=zip simulator)
msi=minute-trigger-$version-x86.msi
echo "build-windows: building $dist/$msi from packaging/windows/minute-trigger.wxs"
scripts/package-msi.sh x86 "$version" "$dist/minute-trigger" "$dir/task-for-folder.dll" "$dist/$msi" >/dev/null
sign "$dist/$msi"
echo "build-windows: simulated AWG10K.dll built $convention"
echo "build-windows: program  $dist/minute-trigger/, $dist/minute-trigger-windows-x86.zip and $dist/$msi${SIGN_PKCS12:+ (signed)}"
echo "build-windows: simulator (dry runs only, never beside the program) $dist/simulator/ and $dist/AWG10K-simulator-windows-x86.zip"
