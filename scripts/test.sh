#!/usr/bin/env bash
# Installs what the tests need, then builds and runs every test: a plain
# build, then the same suite under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/need.sh g++ cmake make libgtest-dev clang-format faketime libfaketime binutils mandoc groff-base systemd man-db strace

# The tests spin a core and time the triggers, so they run under the lock
# that keeps such runs apart (CONTRIBUTING.md); the installs and builds do
# not need it. tests/windows/test.sh takes it itself, once built; under a
# caller that holds it already (MINUTE_TRIGGER_CPU_LOCK_HELD=1), neither
# waits for it.
cpu_locked=(env MINUTE_TRIGGER_CPU_LOCK_HELD=1 flock -o /tmp/minute-trigger-cpu.lock)
[ -z "${MINUTE_TRIGGER_CPU_LOCK_HELD:-}" ] || cpu_locked=()

for variant in release sanitize; do
  dir=build-test-$variant
  flags=()
  [ "$variant" = sanitize ] && flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo
    "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer")
  [ "$variant" = release ] && flags=(-DCMAKE_BUILD_TYPE=Release)
  echo "test: building $dir"
  cmake -S . -B "$dir" "${flags[@]}" >/dev/null
  cmake --build "$dir" -j"$(nproc)" >/dev/null
  echo "test: running the $variant suite (one test at a time: the program spins a core)"
  "${cpu_locked[@]}" ctest --test-dir "$dir" --output-on-failure -j1
done
tests/windows/test.sh
