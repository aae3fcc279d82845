#!/usr/bin/env bash
# Makes the README's pictures under Xvfb: the window monitoring a virtual receiver, and the
# chart beside it (docs/chart.png, when no file is named).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build="${BUILD_DIR:-build}"
out="${1:-docs/window.png}"
mkdir -p "$(dirname "$out")"
xvfb-run -a -s "-screen 0 1024x768x24" "$build/scripts/zub3shot" window "$out"
echo "saved $out"
if [ $# -eq 0 ]; then
  xvfb-run -a -s "-screen 0 1400x800x24" "$build/scripts/zub3shot" chart docs/chart.png
  echo "saved docs/chart.png"
fi
