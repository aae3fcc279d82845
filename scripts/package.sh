#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds the programs alone (no tests) with Debian's hardening
# flags into build-deb/ (or $BUILD_DIR), makes the Debian package there and checks it with
# lintian, which must report no errors. Extra arguments go to cmake's configure step.
# Install the package with
#   sudo apt install ./build-deb/zub3-manager_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build="${BUILD_DIR:-build-deb}"

# PIE, fortify, stack protector, relro and bindnow, as Debian builds its own packages.
# Given on every configure, so that a build directory made otherwise gets them too; CMake
# has no place for CPPFLAGS, so they go with the compiler flags.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { dpkg-buildflags --get "$1"; }
CXXFLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)"
CFLAGS="$(flags CPPFLAGS) $(flags CFLAGS)"
LDFLAGS=$(flags LDFLAGS)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
      -DCMAKE_CXX_FLAGS="$CXXFLAGS" -DCMAKE_C_FLAGS="$CFLAGS" \
      -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"

deb=$(cd "$build" && cpack -G DEB | sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p')
[ -f "$deb" ] || { echo "package.sh: cpack made no package" >&2; exit 1; }
lintian --fail-on error "$deb"
echo "made $deb"
