#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds, once, what the Windows build links: Qt 6.4.2 (from Debian's own sources), zlib,
# libpng and libmosquitto, cross-compiled with MinGW-w64 into a cache folder outside the
# repository, named by the versions. Run by `setup.sh --windows` after the packages are in.
# A finished cache is reused; an unfinished one resumes where it stopped (a stamp per step).
#   ZUB3_WINDOWS_CACHE  the cache folder (default /var/cache/zub3-windows/qt-6.4.2-mingw12)
#   ZUB3_WINDOWS_WORK   sources and build trees (default: beside the cache, work-<name>)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
ZUB3_WINDOWS_CACHE=${ZUB3_WINDOWS_CACHE:-/var/cache/zub3-windows/qt-6.4.2-mingw12}
work=${ZUB3_WINDOWS_WORK:-$(dirname "$ZUB3_WINDOWS_CACHE")/work-$(basename "$ZUB3_WINDOWS_CACHE")}

if [ -f "$ZUB3_WINDOWS_CACHE/.complete" ]; then
  echo "setup: the Windows libraries are ready in $ZUB3_WINDOWS_CACHE"
  exit 0
fi
mkdir -p "$ZUB3_WINDOWS_CACHE" "$work/src" "$work/build" "$work/stamps"
started=$(date +%s)
# The toolchain file is copied into the cache: Qt's own toolchain file names it for good.
toolchain=$ZUB3_WINDOWS_CACHE/mingw-w64.cmake
cp "$here/../packaging/windows/mingw-w64.cmake" "$toolchain"
jobs=$(nproc)

done_step() { [ -f "$work/stamps/$1" ]; }
mark() { touch "$work/stamps/$1"; echo "setup: $1 done after $(( ($(date +%s) - started) / 60 )) min"; }

# Debian's source of a package, unpacked once; prints its folder.
source_of() {
  local package=$1
  if ! ls -d "$work/src/$package"-*/ >/dev/null 2>&1; then
    # The newest is a security update's where there is one; a mirror without its sources
    # still has the release's own.
    (cd "$work/src" && { apt-get source -qq "$package" >/dev/null 2>&1 ||
                         apt-get source -qq "$package/$(. /etc/os-release && echo "$VERSION_CODENAME")" >/dev/null 2>&1; }) \
      || { echo "setup: apt-get source $package failed" >&2; return 1; }
  fi
  ls -d "$work/src/$package"-*/ | head -1
}

cmake_build() {  # <name> <source> <cmake arguments...>
  local name=$1 src=$2
  shift 2
  cmake -G Ninja -S "$src" -B "$work/build/$name" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$ZUB3_WINDOWS_CACHE" "$@" >"$work/build/$name.configure.log"
  cmake --build "$work/build/$name" --parallel "$jobs" >"$work/build/$name.build.log"
  cmake --install "$work/build/$name" >/dev/null
}

if ! done_step qtbase; then
  # Bundled third-party libraries; no SQL, D-Bus or printing. Debian's source lacks
  # wintab.h (tablet events off), and 6.4.2's Windows platform plugin needs OpenGL.
  cmake_build qtbase "$(source_of qt6-base)" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
    -DFEATURE_system_jpeg=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF \
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_opengl=ON -DINPUT_opengl=desktop
  mark qtbase
fi

# The other modules configure through the Qt just built (its qt-cmake wraps the toolchain).
for module in qt6-websockets qt6-httpserver qt6-charts; do
  done_step "$module" && continue
  cmake_build "$module" "$(source_of "$module")" \
    -DCMAKE_TOOLCHAIN_FILE="$ZUB3_WINDOWS_CACHE/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
  mark "$module"
done

if ! done_step translations; then
  # Only Qt's Japanese texts, which the window loads as qtbase_ja. A .qm file is the same
  # on every system: the host's lrelease makes it from the source or, where a mirror lacks
  # the source, Debian's own build of it (qt6-translations-l10n) is taken.
  mkdir -p "$ZUB3_WINDOWS_CACHE/translations"
  qm=$ZUB3_WINDOWS_CACHE/translations/qtbase_ja.qm
  if src=$(source_of qt6-translations 2>/dev/null); then
    /usr/lib/qt6/bin/lrelease -silent "$src/translations/qtbase_ja.ts" -qm "$qm"
  else
    cp /usr/share/qt6/translations/qtbase_ja.qm "$qm"
  fi
  mark translations
fi

mingw=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_FIND_ROOT_PATH="$ZUB3_WINDOWS_CACHE")
if ! done_step zlib; then
  src=$(source_of zlib)
  # Debian's source leaves out win32/, whose version resource the DLL's build wants.
  if [ ! -f "$src/win32/zlib1.rc" ]; then
    mkdir -p "$src/win32"
    printf '1 VERSIONINFO\nFILEVERSION 1,2,13,0\nBEGIN\nEND\n' >"$src/win32/zlib1.rc"
  fi
  cmake_build zlib "$src" "${mingw[@]}"
  mark zlib
fi
if ! done_step libpng; then
  cmake_build libpng "$(source_of libpng1.6)" "${mingw[@]}" -DPNG_TESTS=OFF -DPNG_STATIC=OFF \
    -DPNG_EXECUTABLES=OFF -DPNG_TOOLS=OFF
  mark libpng
fi
if ! done_step mosquitto; then
  # The client library only. Debian has no OpenSSL for Windows: no TLS in this build.
  src=$(source_of mosquitto)
  # Its build names a pthreads-win32 under C:\; MinGW's winpthreads is the one here.
  perl -pi -e 's/C:\\\\pthreads\\\\Pre-built\.2\\\\lib\\\\x(64|86)\\\\pthreadVC2\.lib/pthread/;
               s/C:\\\\pthreads\\\\Pre-built\.2\\\\include//' "$src/CMakeLists.txt"
  cmake_build mosquitto "$src" "${mingw[@]}" -DWITH_TLS=OFF -DWITH_TLS_PSK=OFF \
    -DWITH_CJSON=OFF -DWITH_BROKER=OFF -DWITH_APPS=OFF -DWITH_CLIENTS=OFF -DWITH_PLUGINS=OFF \
    -DWITH_LIB_CPP=OFF -DDOCUMENTATION=OFF -DWITH_SRV=OFF -DWITH_THREADING=ON
  mark mosquitto
fi

touch "$ZUB3_WINDOWS_CACHE/.complete"
echo "setup: the Windows libraries took $(( ($(date +%s) - started) / 60 )) min;" \
  "$(du -sm "$ZUB3_WINDOWS_CACHE" | cut -f1) MiB in $ZUB3_WINDOWS_CACHE," \
  "$(du -sm "$work" | cut -f1) MiB of sources and build trees in $work (may be removed)"
