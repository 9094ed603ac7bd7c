#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   ./test.sh             warnings as errors, build/test
#   ./test.sh --sanitize  the same with AddressSanitizer and UBSan, build/sanitize
#   ./test.sh --windows   the MinGW-w64 cross build, tests under Wine, build/windows
set -euo pipefail
cd "$(dirname "$0")"
if [ "${1:-}" = "--windows" ]; then
  exec ./scripts/windows-build.sh
fi
./scripts/deps.sh

dir=build/test
opts=(-DKURIBO_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build/sanitize
  opts+=(-DKURIBO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi
cmake -S . -B "$dir" -G Ninja "${opts[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
# Every fuzz target runs briefly so the fuzzing setup cannot rot.
if [ "${1:-}" != "--sanitize" ] && [ -x scripts/fuzz-smoke.sh ]; then
  ./scripts/fuzz-smoke.sh
fi
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
