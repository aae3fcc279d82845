#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The zub3-serve@ unit as an install makes it, verified by systemd in the installed tree
# (so that ExecStart must name the zub3ctl installed there), for a COM name and for a
# device path as systemd-escape names it, under the packages' prefix and another one.
#   test_ServeUnit.sh <build dir>
set -uo pipefail
if ! command -v systemd-analyze >/dev/null; then
  echo "systemd-analyze is not installed (scripts/setup.sh installs systemd)"
  exit 77
fi
build=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0
# shellcheck source=tests/support/verify_unit.sh
source "$(dirname "$0")/support/verify_unit.sh"

for prefix in /usr /opt/zub3; do
  root=$dir/root${prefix//\//-}
  if ! DESTDIR=$root cmake --install "$build" --prefix "$prefix" --component tools >"$dir/install.log" 2>&1; then
    cat "$dir/install.log"
    echo "FAIL: install under $prefix"
    failures=$((failures + 1))
    continue
  fi
  for instance in COM11 "$(systemd-escape --path /dev/serial0)"; do
    verify_unit "$root" "$prefix/lib/systemd/system/zub3-serve@.service" "$instance" \
      || { echo "FAIL: zub3-serve@$instance under $prefix"; failures=$((failures + 1)); }
  done
done
exit $((failures > 0))
