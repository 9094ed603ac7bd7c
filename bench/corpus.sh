#!/usr/bin/env bash
# Builds a benchmark corpus in a temporary folder and times kuribo-search against
# grep, warm cache, median of several runs. Prints seconds and ratios.
#
#   bench/corpus.sh [BUILD_DIR]     (default build/release; built when missing)
#
# Environment: KURIBO_BENCH_FILES (text files, default 20000), KURIBO_BENCH_MB
# (text megabytes, default 1024), KURIBO_BENCH_RUNS (default 5), KURIBO_BENCH_DIR
# (keep the corpus there instead of a temporary folder).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/release}
files=${KURIBO_BENCH_FILES:-20000}
megabytes=${KURIBO_BENCH_MB:-1024}
runs=${KURIBO_BENCH_RUNS:-5}
shared=$here/../shared/corpus

if [ ! -x "$build/bin/kuribo-search" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target kuribo-search >/dev/null
fi
search=$build/bin/kuribo-search

if [ -n "${KURIBO_BENCH_DIR:-}" ]; then
  root=$KURIBO_BENCH_DIR
  mkdir -p "$root"
else
  root=$(mktemp -d /tmp/kuribo-bench-XXXXXX)
  trap 'rm -rf "$root"' EXIT
fi

if [ ! -f "$root/.complete" ]; then
  echo "building corpus in $root ($files text files, $megabytes MB) ..." >&2
  python3 "$here/bench/make_corpus.py" "$root/text" "$files" "$megabytes"
  if [ -d "$shared" ]; then
    # Every real document, copied many times, for the office-document figures.
    for i in $(seq 1 20); do
      mkdir -p "$root/office/$i"
      find "$shared" -type f ! -name '*.md' -exec cp -t "$root/office/$i" {} +
    done
  fi
  touch "$root/.complete"
fi

keyword=見積
kw_sjis=$(printf '%s' "$keyword" | iconv -f UTF-8 -t CP932)
kw_euc=$(printf '%s' "$keyword" | iconv -f UTF-8 -t EUC-JP)

calc() { awk "BEGIN {print $1}"; }

# Median wall time of a command over $runs runs, after one warm-up run.
median() {
  "$@" >/dev/null 2>&1 || true
  local times=()
  for _ in $(seq 1 "$runs"); do
    local s e
    s=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    e=$(date +%s.%N)
    times+=("$(awk -v a="$s" -v b="$e" 'BEGIN {print b - a}')")
  done
  printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}

text_mb=$(du -sm "$root/text" | cut -f1)
text_files=$(find "$root/text" -type f | wc -l)
cores=$(nproc)
echo "text part: $text_files files, $text_mb MB; $cores cores; median of $runs warm runs"

t_grep=$(median grep -rcF -e "$keyword" -e "$kw_sjis" -e "$kw_euc" "$root/text")
t_one=$(median "$search" -j1 -k "$keyword" -t .txt,.csv,.html,.htm "$root/text")
t_all=$(median "$search" -k "$keyword" -t .txt,.csv,.html,.htm "$root/text")
printf 'grep -rcF            %8.3f s  %8.1f MB/s\n' "$t_grep" "$(calc "$text_mb / $t_grep")"
printf 'kuribo-search -j1    %8.3f s  %8.1f MB/s\n' "$t_one" "$(calc "$text_mb / $t_one")"
printf 'kuribo-search -j%-3s  %8.3f s  %8.1f MB/s\n' "$cores" "$t_all" "$(calc "$text_mb / $t_all")"
printf 'ratio -j1 / grep             %6.2f  (target at most 3)\n' "$(calc "$t_one / $t_grep")"
printf 'ratio -j1 / -j%-3s           %6.2f  (target at least 1.7)\n' "$cores" "$(calc "$t_one / $t_all")"

if [ -d "$root/office" ]; then
  office_files=$(find "$root/office" -type f | wc -l)
  o_one=$(median "$search" -j1 -k "$keyword" -t all "$root/office")
  o_all=$(median "$search" -k "$keyword" -t all "$root/office")
  printf 'office documents: %d files\n' "$office_files"
  printf 'kuribo-search -j1    %8.3f s  %8.1f files/s\n' "$o_one" "$(calc "$office_files / $o_one")"
  printf 'kuribo-search -j%-3s  %8.3f s  %8.1f files/s (%.1f per core; target at least 200)\n' "$cores" "$o_all" \
    "$(calc "$office_files / $o_all")" "$(calc "$office_files / $o_all / $cores")"
fi
