#!/usr/bin/env bash
# Installs what the tests need, then builds and runs every test: a plain
# build, then the same suite under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/need.sh g++ cmake make libgtest-dev faketime libfaketime binutils mandoc groff-base systemd man-db strace

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
  ctest --test-dir "$dir" --output-on-failure -j1
done
tests/windows/test.sh
