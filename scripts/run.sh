#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, starts the virtual receiver in demo mode and then the
# tool. Without a display it shows the main job instead: the command line reads the
# receiver and monitors it for two seconds, and a screenshot shows the window monitoring it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build="${BUILD_DIR:-build}"

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT
# Ctrl+C ends the script, not just the step it is in (zub3ctl ends a monitor with status 0).
trap "exit 130" INT
trap "exit 143" TERM

port=""
if [ -x "$build/sim/zub3sim" ]; then
  info=$(mktemp)
  "$build/sim/zub3sim" --demo >"$info" 2>&1 </dev/null &
  pids+=($!)
  for _ in $(seq 50); do grep -q COM "$info" && break; sleep 0.1; done
  port=$(grep -m1 -o 'COM[0-9]*' "$info" || true)
  echo "Virtual receiver: $(grep -m1 COM "$info" || echo 'did not start')"
  rm -f "$info"
fi

app="$build/app/ZUB3Manager"
if [ ! -x "$app" ]; then
  echo "The window is not built yet; nothing more to start."
  exit 0
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  [ -n "$port" ] && echo "In the window: choose $port, line speed 115200, then click the switch (or Read)."
  "$app"
  exit 0
fi

if [ -z "$port" ]; then
  echo "No display and no virtual receiver: nothing to show." >&2
  exit 1
fi
ctl="$build/cli/zub3ctl"
echo
echo "No display: the receiver from the command line, then the window, under Xvfb."
echo "\$ zub3ctl read --port $port"
"$ctl" read --port "$port"
echo "\$ zub3ctl monitor --port $port --duration 2 --interval 100"
"$ctl" monitor --port "$port" --duration 2 --interval 100
mkdir -p screenshots
xvfb-run -a -s "-screen 0 1024x768x24" "$build/tools/zub3shot" window screenshots/run.png "$port"
echo "Screenshot of the window monitoring $port (port chosen, Read, switch on): screenshots/run.png"
