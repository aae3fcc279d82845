#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# platform/'s Windows files cross-built with MinGW-w64 and run under Wine, in a Wine prefix,
# server and receiver of this run's own: COM5 of the prefix is a zub3sim's pseudo-terminal.
#   test_windows.sh <source dir> <zub3sim>
# Exit 77 (skipped) without the cross compiler or Wine (scripts/setup.sh --windows).
set -uo pipefail
source=$1 sim=$2
for tool in x86_64-w64-mingw32-g++-posix wine wineserver; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing (scripts/setup.sh --windows)"; exit 77; }
done
[ -d /usr/src/googletest ] || { echo "skipped: /usr/src/googletest is missing"; exit 77; }

work=$(mktemp -d)
sim_pid=""
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
cleanup() {
  wineserver -k 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

cmake -S "$source/tests/windows" -B "$work/build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$source/packaging/windows/mingw-w64.cmake" >"$work/cmake.log" 2>&1 &&
  cmake --build "$work/build" --parallel 2 >>"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log"; echo "FAIL: the Windows units do not build"; exit 1; }

XDG_RUNTIME_DIR=$work ZUB3_LOCK_DIR=$work "$sim" </dev/null >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
pts=$(awk 'NR == 1 { print $2 }' "$work/sim.out")
[ -c "$pts" ] || { cat "$work/sim.out"; echo "FAIL: zub3sim named no pseudo-terminal"; exit 1; }

# Wine points comN at what its registry maps once its server starts afresh.
wineboot -i >"$work/wine.log" 2>&1 || { cat "$work/wine.log"; echo "FAIL: wineboot"; exit 1; }
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$pts" /f >>"$work/wine.log" 2>&1
wineserver -w
exe=$work/build/test_platform_win.exe
timeout 120 wine "$exe" --gtest_filter=-TerminationSignals.* || exit 1
timeout 60 wine "$exe" --gtest_filter=TerminationSignals.* >"$work/ctrl.out" 2>&1 &
run=$!
for _ in $(seq 300); do grep -q "waiting for Ctrl+C" "$work/ctrl.out" && break; sleep 0.1; done
kill -INT $(ps -o pid= --ppid "$run") 2>/dev/null
wait "$run"
status=$?
cat "$work/ctrl.out"
exit $status
