#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the README's pictures under Xvfb: the window monitoring a virtual receiver
# (docs/window.png), the same at device pixel ratios 1.5 and 2 (docs/window@1.5x.png,
# docs/window@2x.png) and in English (docs/window-en.png), and beside the window the chart
# (docs/chart.png) and the sticks panel (docs/sticks.png). A file argument makes only the
# first, there.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build="${BUILD_DIR:-build}"
shot() {  # shot FILE SCALE [ARGS...]
  local out=$1 scale=$2
  shift 2
  mkdir -p "$(dirname "$out")"
  QT_SCALE_FACTOR=$scale xvfb-run -a -s "-screen 0 1920x1200x24" \
    "$build/tools/zub3shot" window "$out" "$@"
  echo "saved $out"
}
if [ $# -gt 0 ]; then
  shot "$1" 1
  exit
fi
shot docs/window.png 1
shot docs/window@1.5x.png 1.5
shot docs/window@2x.png 2
shot docs/window-en.png 1 --lang en
for panel in chart sticks; do
  xvfb-run -a -s "-screen 0 1400x800x24" "$build/tools/zub3shot" $panel docs/$panel.png
  echo "saved docs/$panel.png"
done
