#!/usr/bin/env bash
# Installs what is missing, builds, starts the virtual receiver in demo mode and then the
# tool. Without a display it runs both under Xvfb and saves a screenshot instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build="${BUILD_DIR:-build}"

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT INT TERM

if [ -x "$build/sim/zub3sim" ]; then
  info=$(mktemp)
  "$build/sim/zub3sim" --demo >"$info" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do grep -q COM "$info" && break; sleep 0.1; done
  echo "Virtual receiver: $(grep -m1 COM "$info" || echo 'did not start')"
  echo "In the window: choose that port, line speed 115200, then click the switch (or Read)."
fi

app="$build/app/ZUB3Manager"
if [ ! -x "$app" ]; then
  echo "The window is not built yet; nothing more to start."
  exit 0
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$app"
else
  display=":$((90 + RANDOM % 100))"
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY="$display"
  sleep 1
  "$app" &
  pids+=($!)
  sleep 3
  mkdir -p screenshots
  "$build/scripts/zub3shot" screen screenshots/run.png
  echo "No display: ran under Xvfb; screenshot saved to screenshots/run.png"
fi
