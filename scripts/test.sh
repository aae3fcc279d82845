#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds and runs every test, then names the ten slowest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh "$@"
cd "${BUILD_DIR:-build}"
status=0
ctest --output-on-failure --parallel 2 || status=$?
# Where the suite's time goes, from this run's log (each test's name, then its time).
echo "Slowest tests:"
awk '/^[0-9]+\/[0-9]+ Testing: /{name=$3} /^Test time =/{print $4, name}' \
  Testing/Temporary/LastTest.log | sort -rn | awk 'NR <= 10 {printf "%8.2f s  %s\n", $1, $2}'
exit "$status"
