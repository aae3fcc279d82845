#!/usr/bin/env bash
# Makes the README's picture of the window, monitoring a virtual receiver, under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build="${BUILD_DIR:-build}"
out="${1:-docs/window.png}"
mkdir -p "$(dirname "$out")"
xvfb-run -a -s "-screen 0 1024x768x24" "$build/scripts/zub3shot" window "$out"
echo "saved $out"
