#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The zub3-serve@ unit as systemd reads it, for an instance, with ExecStart pointing at the
# zub3ctl just built (verify wants the program to exist).
#   test_ServeUnit.sh <unit template .in> <zub3ctl>
set -euo pipefail
if ! command -v systemd-analyze >/dev/null; then
  echo "systemd-analyze is not installed (scripts/setup.sh installs systemd)"
  exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sed "s|@CMAKE_INSTALL_FULL_BINDIR@/zub3ctl|$2|" "$1" > "$dir/zub3-serve@.service"
cd "$dir"
out=$(systemd-analyze verify --man=no "$dir/zub3-serve@COM11.service" 2>&1) || { echo "$out"; exit 1; }
# verify passes some faults with a warning only.
if [ -n "$out" ]; then
  echo "$out"
  exit 1
fi
