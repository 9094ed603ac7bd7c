#!/usr/bin/env bash
# Builds every fuzz target with clang and runs each for a few seconds, so the
# fuzzing setup cannot rot. Fails when a target does not build or finds a crash.
#   scripts/fuzz-smoke.sh [SECONDS]     (default 5 per target)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-5}"
dir=build/fuzz

shopt -s nullglob
sources=(fuzz/*.cpp)
if [ ${#sources[@]} -eq 0 ]; then
  echo "fuzz-smoke: no fuzz targets" >&2
  exit 0
fi
targets=()
for src in "${sources[@]}"; do
  name="$(basename "$src" .cpp)"
  targets+=("fuzz_$name")
done

cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DKURIBO_FUZZ=ON >/dev/null
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for t in "${targets[@]}"; do
  mkdir -p "$work/$t"
  # Seeds, when the target has a folder of them.
  seeds=()
  [ -d "fuzz/seeds/${t#fuzz_}" ] && seeds=("fuzz/seeds/${t#fuzz_}")
  if ! "$dir/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/$t/" \
      "$work/$t" "${seeds[@]}" >"$work/$t.log" 2>&1; then
    tail -n 40 "$work/$t.log" >&2
    mkdir -p "$dir/findings"
    cp "$work/$t"/crash-* "$work/$t"/leak-* "$work/$t"/timeout-* "$work/$t"/oom-* "$dir/findings/" 2>/dev/null || true
    echo "fuzz-smoke: $t found a problem (inputs in $dir/findings)" >&2
    exit 1
  fi
  echo "fuzz-smoke: $t ok ($(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/$t.log" | grep -o '[0-9]*$' || echo '?') runs)"
done
