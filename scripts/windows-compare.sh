#!/usr/bin/env bash
# Runs the same search with the Linux kuribo-search and, under Wine, the
# Windows one over the shared corpus; the rows (paths aside) and the --csv
# bytes (paths aside) must be the same. Needs build/test and build/windows.
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=$(readlink -f "${1:-../shared/corpus}")
linux=build/test/bin/kuribo-search
windows=build/windows/bin/kuribo-search.exe
[ -d "$corpus" ] || { echo "no corpus at $corpus: comparison skipped"; exit 0; }
export WINEPREFIX=$PWD/build/windows-wine WINEDEBUG=-all
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
winCorpus="Z:${corpus//\//\\}"

rcL=0; rcW=0
"$linux" -k 東京 -t all "$corpus" > "$out/linux.tsv" || rcL=$?
wine "$windows" -k 東京 -t all "$winCorpus" > "$out/windows.tsv" || rcW=$?
"$linux" -k 東京 -t all --csv "$out/linux.csv" "$corpus" > /dev/null || true
wine "$windows" -k 東京 -t all --csv 'Z:'"${out//\//\\}"'\windows.csv' "$winCorpus" > /dev/null || true

# Paths aside: the Windows run names the corpus Z:\...\ and writes its own
# separator after it; cell 5 of a row and the path in a CSV row are cut to
# what follows the corpus.
python3 - "$out" "$corpus" "$winCorpus" "$rcL" "$rcW" <<'PY'
import sys
out, corpus, win, rcL, rcW = sys.argv[1:]
import re
# Cells are escaped (README): undo it so paths compare as the files' paths.
def unescape(c):
    m = {"t": "\t", "n": "\n", "r": "\r", "\\": "\\"}
    return re.sub(r"\\(x[0-9A-F]{2}|[tnr\\])",
                  lambda g: chr(int(g.group(1)[1:], 16)) if g.group(1)[0] == "x" else m[g.group(1)], c)
def rows(name, root):
    res = []
    for line in open(f"{out}/{name}", encoding="utf-8", newline="\n").read().replace("\r\n", "\n").split("\n"):
        if not line: continue
        cells = [unescape(c) for c in line.split("\t")]
        cells[4] = cells[4].replace(root + "/", "").replace(root + "\\", "").replace("\\", "/")
        res.append(cells)
    return res
def csv(name, root):
    b = open(f"{out}/{name}", "rb").read()
    for enc_root in (root.encode("cp932", "replace"),):
        b = b.replace(enc_root + b"/", b"").replace(enc_root + b"\\", b"")
    return b
# Each walk lists a directory in the order its file system gives (hashed on
# Linux, by name on Windows), so rows are compared by path, numbers aside.
L = sorted(r[1:] for r in rows("linux.tsv", corpus))
W = sorted(r[1:] for r in rows("windows.tsv", win))
ok = L == W and rcL == rcW
print(f"rows: Linux {len(L)}, Windows {len(W)}, exit {rcL}/{rcW}: {'same' if ok else 'DIFFERENT'}")
if not ok:
    for a, b in zip(L, W):
        if a != b: print("  linux  ", a, "\n  windows", b); break
cL, cW = csv("linux.csv", corpus), csv("windows.csv", win)
# The header lines byte for byte, then the same row lines byte for byte
# (their numbers aside, which follow the order).
def lines(b):
    ls = b.split(b"\r\n")
    return ls[:2], sorted(l.split(b",", 1)[-1] for l in ls[2:])
same = lines(cL) == lines(cW)
print(f"csv: Linux {len(cL)} bytes, Windows {len(cW)} bytes (paths aside): {'same' if same else 'DIFFERENT'}")
sys.exit(0 if ok and same else 1)
PY
