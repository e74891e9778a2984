#!/usr/bin/env bash
# The Windows tests: the set-up once (lib.sh), then each file, which also
# runs on its own: files.sh (what the files say), qemu.sh (the call helper),
# wine.sh (the programs under Wine), msi.sh (the package). Last, the set that
# ran, every skip by name, and the count of all four (docs/windows.md).
#   tests/windows/test.sh [--arch i686|x86_64]
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/windows/lib.sh
windows_set_up test "$@"
hold_cpu_lock test-windows

for part in files qemu wine msi; do
  echo "test-windows: --- tests/windows/$part.sh"
  tests/windows/$part.sh | tee "$tmp/$part.out" || true
  if [[ $(tail -n 1 "$tmp/$part.out") =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed,\ ([0-9]+)\ skipped$ ]]; then
    passed=$((passed + BASH_REMATCH[1])) failed=$((failed + BASH_REMATCH[2])) skipped=$((skipped + BASH_REMATCH[3]))
  else
    check "tests/windows/$part.sh ran to its count line" false
  fi
done

echo "test-windows: the $arch set ran${why_not_32bit:+: $why_not_32bit}"
grep -h '^SKIPPED: ' "$tmp"/*.out || true
summary
