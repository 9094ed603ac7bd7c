#!/usr/bin/env bash
# Builds a benchmark corpus in a temporary folder and times kuribo-search against
# grep, warm cache, median of several runs. Prints seconds, ratios and the load
# average beside each figure, a per-format table of the office documents beside
# their peer converters, and cold-cache times when the page cache can be dropped.
#
#   bench/corpus.sh [BUILD_DIR]     (default build/release; built when missing)
#
# Environment: KURIBO_BENCH_FILES (text files, default 20000), KURIBO_BENCH_MB
# (text megabytes, default 1024), KURIBO_BENCH_RUNS (default 5), KURIBO_BENCH_DIR
# (keep the corpus there instead of a temporary folder), KURIBO_BENCH_COLD=0
# (skip the cold-cache part; it needs root), KURIBO_BENCH_PEER_COPIES (corpus
# copies the peer converters run over, default 2).
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

load() { cut -d' ' -f1-3 /proc/loadavg; }

text_mb=$(du -sm "$root/text" | cut -f1)
text_files=$(find "$root/text" -type f | wc -l)
cores=$(nproc)
echo "text part: $text_files files, $text_mb MB; $cores cores; median of $runs warm runs"
echo "load average before: $(load)"

text_types=.txt,.csv,.html,.htm
row() {  # label seconds megabytes
  printf '%-22s %8.3f s  %8.1f MB/s   load %s\n' "$1" "$2" "$(calc "$3 / $2")" "$(load)"
}
t_grep=$(median grep -rcF -e "$keyword" -e "$kw_sjis" -e "$kw_euc" "$root/text")
row "grep -rcF" "$t_grep" "$text_mb"
t_one=$(median "$search" -j1 -k "$keyword" -t $text_types "$root/text")
row "kuribo-search -j1" "$t_one" "$text_mb"
t_all=$(median "$search" -k "$keyword" -t $text_types "$root/text")
row "kuribo-search (default)" "$t_all" "$text_mb"
printf 'ratio -j1 / grep              %6.2f  (target at most 3.0)\n' "$(calc "$t_one / $t_grep")"
printf 'ratio default / grep          %6.2f  (target at most 1.7)\n' "$(calc "$t_all / $t_grep")"
printf 'speed-up -j1 / default        %6.2f\n' "$(calc "$t_one / $t_all")"
# Processor time (user + system) of one run each: less sensitive than wall time
# to other work on the machine.
cpu() { local f; f=$(mktemp); TIMEFORMAT='%U %S'; { time "$@" >/dev/null 2>&1; } 2>"$f" || true; awk '{print $1 + $2}' "$f"; rm -f "$f"; }
c_grep=$(cpu grep -rcF -e "$keyword" -e "$kw_sjis" -e "$kw_euc" "$root/text")
c_one=$(cpu "$search" -j1 -k "$keyword" -t $text_types "$root/text")
printf 'processor time: grep %.3f s, kuribo-search -j1 %.3f s, ratio %.2f\n' "$c_grep" "$c_one" "$(calc "$c_one / $c_grep")"

if [ -d "$root/office" ]; then
  office_files=$(find "$root/office" -type f | wc -l)
  o_one=$(median "$search" -j1 -k "$keyword" -t all "$root/office")
  o_all=$(median "$search" -k "$keyword" -t all "$root/office")
  printf 'office documents: %d files\n' "$office_files"
  printf 'kuribo-search -j1    %8.3f s  %8.1f files/s   load %s\n' "$o_one" "$(calc "$office_files / $o_one")" "$(load)"
  printf 'kuribo-search default %7.3f s  %8.1f files/s (%.1f per core; target at least 200)   load %s\n' \
    "$o_all" "$(calc "$office_files / $o_all")" "$(calc "$office_files / $o_all / $cores")" "$(load)"

  # One worker per format over all copies, beside the peer converter run once
  # per file (as a user would) over the first copies.
  peer_copies=${KURIBO_BENCH_PEER_COPIES:-2}
  peer_for() {
    case $1 in
      doc) echo catdoc ;; xls) echo xls2csv ;; ppt) echo catppt ;;
      docx) echo docx2txt ;; pdf) echo pdftotext ;; *) echo "" ;;
    esac
  }
  peer_run() {  # command file
    case $1 in
      pdftotext) pdftotext -q "$2" - ;;
      docx2txt) docx2txt "$2" - ;;
      *) "$1" "$2" ;;
    esac
  }
  echo
  printf '%-5s %6s %8s %10s %9s   %-10s %10s\n' format files MB kuribo/s "MB/s" peer "peer/s"
  for ext in doc xls ppt docx xlsx pptx pdf dwg dxf; do
    n=$(find "$root/office" -type f -name "*.$ext" | wc -l)
    [ "$n" -gt 0 ] || continue
    mb=$(find "$root/office" -type f -name "*.$ext" -printf '%s\n' | awk '{s += $1} END {print s / 1048576}')
    t=$(median "$search" -j1 -k "$keyword" -t ".$ext" "$root/office")
    peer=$(peer_for "$ext")
    peer_rate=-
    if [ -n "$peer" ] && command -v "$peer" >/dev/null; then
      mapfile -t pf < <(for i in $(seq 1 "$peer_copies"); do find "$root/office/$i" -type f -name "*.$ext"; done)
      s=$(date +%s.%N)
      for f in "${pf[@]}"; do peer_run "$peer" "$f" >/dev/null 2>&1 || true; done
      e=$(date +%s.%N)
      peer_rate=$(awk -v a="$s" -v b="$e" -v n="${#pf[@]}" 'BEGIN {printf "%.1f", n / (b - a)}')
    elif [ -n "$peer" ]; then
      peer="$peer (absent)"
    fi
    printf '%-5s %6d %8.1f %10.1f %9.1f   %-10s %10s   load %s\n' "$ext" "$n" "$mb" "$(calc "$n / $t")" \
      "$(calc "$mb / $t")" "${peer:--}" "$peer_rate" "$(load)"
  done
fi

# Cold cache: every run after the page cache is dropped (root only).
if [ "${KURIBO_BENCH_COLD:-1}" != 0 ]; then
  drop() { sync && echo 3 > /proc/sys/vm/drop_caches; }
  if drop 2>/dev/null; then
    cold() {  # one run after a drop; prints seconds
      drop
      local s e
      s=$(date +%s.%N)
      "$@" >/dev/null 2>&1 || true
      e=$(date +%s.%N)
      awk -v a="$s" -v b="$e" 'BEGIN {print b - a}'
    }
    cold_median() {
      local times=()
      for _ in $(seq 1 "$runs"); do times+=("$(cold "$@")"); done
      printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
    }
    echo
    echo "cold cache (page cache dropped before each run), median of $runs:"
    c_grep=$(cold_median grep -rcF -e "$keyword" -e "$kw_sjis" -e "$kw_euc" "$root/text")
    row "grep -rcF (cold)" "$c_grep" "$text_mb"
    for j in 1 default 4 8 16 32; do
      if [ "$j" = default ]; then
        c=$(cold_median "$search" -k "$keyword" -t $text_types "$root/text")
      else
        c=$(cold_median "$search" -j"$j" -k "$keyword" -t $text_types "$root/text")
      fi
      row "kuribo-search -j$j (cold)" "$c" "$text_mb"
      printf '  ratio to grep %6.2f\n' "$(calc "$c / $c_grep")"
    done
  else
    echo "cold cache: the page cache cannot be dropped here (not root?); skipped"
  fi
fi
