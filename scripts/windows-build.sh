#!/usr/bin/env bash
# The MinGW-w64 cross build of the engine, kuribo-search and the engine's tests
# (build/windows), run under Wine. Third-party libraries for MinGW are built
# once into build/windows-deps and kept.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev wine wine64 googletest dpkg-dev
  pkg-config cmake ninja-build g++)
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

# qpdf (static, native crypto only) and the libjpeg it needs, from Debian's
# source packages; only the libraries are built and installed.
if [ ! -f "$deps/prefix/lib/libqpdf.a" ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  src_list=/etc/apt/sources.list.d/kuribo-deb-src.sources
  if ! grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm bookworm-updates' \
      'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' | $sudo tee "$src_list" >/dev/null
    $sudo apt-get update -qq
  fi
  mkdir -p "$deps/src"
  (cd "$deps/src" && { ls -d qpdf-*/ >/dev/null 2>&1 || apt-get source -qq qpdf; } &&
    { ls -d libjpeg-turbo-*/ >/dev/null 2>&1 || apt-get source -qq libjpeg-turbo; })
  qpdf_src=$(ls -d "$deps"/src/qpdf-*/ | head -n1)
  jpeg_src=$(ls -d "$deps"/src/libjpeg-turbo-*/ | head -n1)

  # No SIMD (qpdf decodes no images for us), no tools: the library and its headers.
  cmake -S "$jpeg_src" -B "$deps/jpeg-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps/prefix" -DENABLE_SHARED=OFF \
    -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF -Wno-dev >/dev/null
  cmake --build "$deps/jpeg-build" -j "$jobs" --target jpeg-static
  mkdir -p "$deps/prefix/lib/pkgconfig" "$deps/prefix/include"
  cp "$deps/jpeg-build/libjpeg.a" "$deps/prefix/lib/"
  cp "$deps/jpeg-build/jconfig.h" "$jpeg_src"/{jpeglib.h,jerror.h,jmorecfg.h} "$deps/prefix/include/"
  cp "$deps/jpeg-build/pkgscripts/libjpeg.pc" "$deps/prefix/lib/pkgconfig/"

  # Its configure checks link -lAdvapi32, which only a case-insensitive file
  # system finds; failed, they leave out <stdint.h>.
  sed -i 's/REQUIRED_LIBRARIES Advapi32)/REQUIRED_LIBRARIES advapi32)/' "$qpdf_src/CMakeLists.txt"
  # qpdf finds zlib and libjpeg through pkg-config: the MinGW ones, never the host's.
  PKG_CONFIG_LIBDIR="$deps/prefix/lib/pkgconfig:/usr/x86_64-w64-mingw32/lib/pkgconfig" \
    cmake -S "$qpdf_src" -B "$deps/qpdf-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps/prefix" -DBUILD_SHARED_LIBS=OFF \
    -DBUILD_STATIC_LIBS=ON -DREQUIRE_CRYPTO_NATIVE=ON -DUSE_IMPLICIT_CRYPTO=OFF -DBUILD_DOC=OFF \
    -DINSTALL_EXAMPLES=OFF -DINSTALL_MANUAL=OFF -DINSTALL_CMAKE_PACKAGE=OFF >/dev/null
  cmake --build "$deps/qpdf-build" -j "$jobs" --target libqpdf
  cmake --install "$deps/qpdf-build" --component dev >/dev/null
fi

export WINEPREFIX=$root/build/windows-wine
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
[ -d "$WINEPREFIX" ] || wineboot --init >/dev/null 2>&1 || true

# No debug information, so the cross build and its links stay quick in CI
# (-O2 as on Linux: GCC 12 warns falsely at -O3). zlib's static archive, not
# its import library, so the executables need no zlib1.dll.
cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKURIBO_WERROR=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DZLIB_LIBRARY_RELEASE=/usr/x86_64-w64-mingw32/lib/libz.a \
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
