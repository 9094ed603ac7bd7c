#!/usr/bin/env bash
# The MinGW-w64 cross build of the engine, kuribo-search and the engine's tests
# (build/windows), run under Wine. Third-party libraries for MinGW are built
# once into build/windows-deps and kept.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev wine wine64 googletest
  cmake ninja-build g++)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

root=$PWD
deps=$root/build/windows-deps
toolchain=$root/scripts/mingw-toolchain.cmake
jobs=$(nproc)

# GoogleTest from the sources Debian's googletest package ships.
if [ ! -f "$deps/prefix/lib/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B "$deps/gtest-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps/prefix" >/dev/null
  cmake --build "$deps/gtest-build" -j "$jobs"
  cmake --install "$deps/gtest-build" >/dev/null
fi

export WINEPREFIX=$root/build/windows-wine
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
[ -d "$WINEPREFIX" ] || wineboot --init >/dev/null 2>&1 || true

# No debug information, so the cross build and its links stay quick in CI
# (-O2 as on Linux: GCC 12 warns falsely at -O3).
cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKURIBO_WERROR=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DKURIBO_WINDOWS_DEPS="$deps/prefix" -DCMAKE_PREFIX_PATH="$deps/prefix" -DGTest_DIR="$deps/prefix/lib/cmake/GTest" \
  >/dev/null
cmake --build build/windows -j "$jobs" --target kuribo_tests kuribo-search

# The tests under Wine; their temporary folders live in Wine's own.
wine build/windows/bin/kuribo_tests.exe --gtest_brief=1 2>&1 | tr -d '\r'

# The same search on both builds, rows and CSV compared.
if [ -x build/test/bin/kuribo-search ]; then
  ./scripts/windows-compare.sh
else
  echo "build/test/bin/kuribo-search missing (run ./test.sh first): Linux/Windows comparison skipped"
fi
