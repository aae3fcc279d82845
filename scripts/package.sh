#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds the programs alone (no tests) with Debian's hardening
# flags into build-deb/ (or $BUILD_DIR), makes the packages zub3-tools and zub3-manager there
# and checks them with lintian --pedantic, which must report nothing. Extra arguments go to
# cmake's configure step.
#   scripts/package.sh [--arch ARCH | --tools] [cmake arguments...]
# --arch arm64 cross-builds zub3-tools alone for that Debian architecture into
# build-deb-arm64/, with Debian's cross compilers and that architecture's Qt beside ours.
# --tools builds and packs zub3-tools alone into build-deb-tools/, installing nothing the
# window needs (for a robot's computer that packs for itself).
# Install the packages with
#   sudo apt install ./build-deb/zub3-tools_*.deb ./build-deb/zub3-manager_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
arch=$(dpkg --print-architecture)
host=$arch
tools_only=false
case "${1:-}" in
  --arch)
    [ $# -ge 2 ] || { echo "package.sh: --arch needs an architecture, such as arm64" >&2; exit 2; }
    host=$2
    shift 2
    ;;
  --tools)
    tools_only=true
    shift
    ;;
esac

configure=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF)
if $tools_only; then
  scripts/setup.sh --tools --package
  # A folder of its own: the window's setting stays with each build folder.
  build="${BUILD_DIR:-build-deb-tools}"
  configure+=(-DZUB3_WINDOW=OFF)
elif [ "$host" = "$arch" ]; then
  scripts/setup.sh
  build="${BUILD_DIR:-build-deb}"
else
  scripts/setup.sh --cross "$host"
  build="${BUILD_DIR:-build-deb-$host}"
  # The compilers, dpkg-buildflags, the packages' architecture and dpkg-shlibdeps all take
  # the architecture from here; pkg-config looks at that architecture's libraries only.
  eval "$(dpkg-architecture --host-arch "$host" --print-set 2>/dev/null)"
  export PKG_CONFIG_LIBDIR=/usr/lib/$DEB_HOST_MULTIARCH/pkgconfig:/usr/share/pkgconfig
  configure+=(-DCMAKE_TOOLCHAIN_FILE="$PWD/packaging/cross.cmake" -DZUB3_WINDOW=OFF)
fi

# PIE, fortify, stack protector, relro and bindnow, as Debian builds its own packages.
# Given on every configure, so that a build directory made otherwise gets them too; CMake
# has no place for CPPFLAGS, so they go with the compiler flags.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { dpkg-buildflags --get "$1"; }
CXXFLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)"
CFLAGS="$(flags CPPFLAGS) $(flags CFLAGS)"
LDFLAGS=$(flags LDFLAGS)
cmake -S . -B "$build" "${configure[@]}" \
      -DCMAKE_CXX_FLAGS="$CXXFLAGS" -DCMAKE_C_FLAGS="$CFLAGS" \
      -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"

mapfile -t debs < <(cd "$build" && cpack -G DEB | sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p')
[ ${#debs[@]} -gt 0 ] || { echo "package.sh: cpack made no package" >&2; exit 1; }
# Every tag counts, the pedantic ones too; what the packages deliberately keep is overridden
# in them (packaging/lintian-overrides.in).
lintian --pedantic --fail-on error,warning,info,pedantic "${debs[@]}"
printf 'made %s\n' "${debs[@]}"
