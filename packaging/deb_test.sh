#!/usr/bin/env bash
# Builds the .deb of a build folder, unpacks it into a temporary root and
# checks what a user would get: the files in place, dependencies by Debian
# package name, a valid desktop entry and metainfo, and a working search.
set -euo pipefail
build=$(cd "${1:?usage: deb_test.sh BUILD_DIR}" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/out" >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log" >&2; fail "cpack -G DEB"; }
deb=$(ls "$tmp"/out/*.deb)
[ "$(dpkg-deb -f "$deb" Package)" = kuribo ] || fail "package name"
root="$tmp/root"
dpkg-deb -x "$deb" "$root"

for f in usr/bin/kuribo usr/bin/kuribo-search; do
  [ -x "$root/$f" ] || fail "$f is missing or not executable"
done
for f in usr/share/applications/kuribo.desktop usr/share/icons/hicolor/scalable/apps/kuribo.svg \
         usr/share/metainfo/io.github.kuribo.Kuribo.metainfo.xml; do
  [ -s "$root/$f" ] || fail "$f is missing"
done
[ -d "$root/usr/share/kuribo" ] || fail "usr/share/kuribo is missing"
if [ -f "$build/bin/cmap.dat" ]; then
  cmp -s "$build/bin/cmap.dat" "$root/usr/share/kuribo/cmap.dat" || fail "cmap.dat is not installed"
fi
# Nothing of the build or the tests comes along.
extra=$(cd "$root" && find . -type f | grep -Ev '^\./usr/(bin/kuribo(-search)?|share/(applications|icons|metainfo|kuribo|doc/kuribo)/.*)$' || true)
[ -z "$extra" ] || fail "unexpected files: $extra"

# Dependencies are Debian package names (with versions), never file names.
depends=$(dpkg-deb -f "$deb" Depends)
names=$(sed -e 's/ *([^)]*)//g' -e 's/ *, */\n/g' <<<"$depends")
for p in libc6 libstdc++6 libqt6widgets6 libqt6gui6 libqt6core6 zlib1g libgsf-1-114; do
  grep -qxF "$p" <<<"$names" || fail "Depends lacks $p: $depends"
done
grep -qvE '^[a-z0-9][a-z0-9.+-]+$' <<<"$names" && fail "Depends holds something else than package names: $depends"
grep -q / <<<"$depends" && fail "Depends names a path: $depends"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/kuribo.desktop" || fail "desktop-file-validate"
fi
grep -q '^Name\[ja\]=栗坊$' "$root/usr/share/applications/kuribo.desktop" || fail "Name[ja]"
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$root/usr/share/metainfo/io.github.kuribo.Kuribo.metainfo.xml" >"$tmp/as.log" 2>&1 ||
    { cat "$tmp/as.log" >&2; fail "appstreamcli validate"; }
fi

# The installed command searches.
mkdir -p "$tmp/docs"
printf '\x8c\xa9\x90\xcf\x8f\x91\n' >"$tmp/docs/quote.txt"  # 見積書 in Shift_JIS
out=$("$root/usr/bin/kuribo-search" -k 見積 -t .txt -j 1 "$tmp/docs/") || fail "installed kuribo-search found nothing"
grep -q 'quote.txt' <<<"$out" || fail "installed kuribo-search: $out"
echo "ok: $(basename "$deb"); Depends: $depends"
