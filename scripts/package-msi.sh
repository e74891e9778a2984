#!/usr/bin/env bash
# Builds the Windows Installer package from packaging/windows/minute-trigger.wxs
# with wixl, then adds what wixl cannot write, its steps among it
# (packaging/windows/msi-tables.sh, from packaging/windows/install-steps.tsv);
# the one place that does, for scripts/build-windows.sh and the tests.
# Usage: scripts/package-msi.sh ARCH VERSION DIST STEP OUT
#   ARCH     wixl's: x86 (the shipped package) or x64 (the tests' x86-64 twin)
#   VERSION  the package's version
#   DIST     the folder of the files it installs (what the zip holds)
#   STEP     the custom step, a task-for-folder.dll of the same width (the
#            Windows build's CMake target of that name)
#   OUT      the package to write
set -euo pipefail
if [ $# -ne 5 ] || [ "$(basename "$4")" != task-for-folder.dll ]; then
  echo "usage: scripts/package-msi.sh x86|x64 VERSION DIST .../task-for-folder.dll OUT.msi" >&2
  exit 2
fi
arch=$1 version=$2 dist=$(realpath "$3") step_dir=$(realpath "$(dirname "$4")") out=$(realpath -m "$5")
packaging=$(realpath "$(dirname "$0")/../packaging/windows")
wxs=$packaging/minute-trigger.wxs
# wixl takes only paths relative to where it runs, and the .wxs names the
# step by its bare file name: so it runs in the step's folder.
cd "$step_dir"
wixl -a "$arch" -D Version="$version" -D Dist="$(realpath --relative-to=. "$dist")" \
  -o "$(realpath -m --relative-to=. "$out")" "$wxs"
"$packaging/msi-tables.sh" "$out"
echo "package-msi: $out ($arch, version $version) from $3"
