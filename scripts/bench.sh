#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds and prints the poll-loop figures: the window (on the xcb platform under Xvfb, and
# offscreen), a bare C++ loop (the floor) and a pyserial loop poll one virtual receiver
# process side by side, at each line speed and interval. An argument sets the polls per
# run (default 300; the whole run then takes about four minutes). It starts with the same
# receiver shared by ser2net on the loopback: pyserial's RFC 2217 client, the window and
# zub3ctl. Then zub3ctl serve beside a plain Python server (pyserial, websockets,
# paho-mqtt), rounds taking turns: the poll period, CPU, records per client and latency
# with 0, 50 and 200 WebSocket clients and with MQTT on, serve under a slowloris beside
# serve alone, and the time from a press to the page in headless Chromium.
# BENCH_ONLY=network, local or serve runs only that part; BENCH_ONLY=moving only
# the window alone beside the chart and the recording, and the chart's memory.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >&2
scripts/build.sh >&2  # the tables alone go to standard output
exec xvfb-run -a -s "-screen 0 1280x1024x24" \
  /usr/bin/python3 bench/bench.py "${BUILD_DIR:-build}" "$@"
