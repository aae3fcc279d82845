#!/usr/bin/env bash
# Builds and prints the poll-cycle figures: the window polling the virtual receiver at each
# line speed and interval, offscreen. An argument sets the polls per run (default 500).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >&2  # the table alone goes to standard output
QT_QPA_PLATFORM=offscreen "${BUILD_DIR:-build}/tests/bench_PollCycle" "$@"
