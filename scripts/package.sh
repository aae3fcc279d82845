#!/usr/bin/env bash
# Installs what is missing, builds, and makes the Debian package in build/ (or $BUILD_DIR),
# then checks it with lintian, which must report no errors. Arguments go to the build step
# (scripts/build.sh). Install the package with
#   sudo apt install ./build/zub3-manager_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh "$@"
build="${BUILD_DIR:-build}"
deb=$(cd "$build" && cpack -G DEB | sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p')
[ -f "$deb" ] || { echo "package.sh: cpack made no package" >&2; exit 1; }
lintian --fail-on error "$deb"
echo "made $deb"
