#!/usr/bin/env bash
# Builds minute-trigger and runs it against the simulated device until Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/need.sh g++ cmake make
echo "run: building into build/"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
echo "run: starting build/minute-trigger (simulated device; Ctrl-C stops it)"
exec build/minute-trigger
