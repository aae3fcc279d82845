#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The zub3-tools package of another architecture, run under qemu-user on this machine: its
# programs start and list the ports, and its zub3ctl reads and monitors this machine's
# zub3sim on a pseudo-terminal.
#   test_cross.sh <zub3-tools .deb> <this machine's zub3sim>
set -uo pipefail
deb=$1 sim=$2

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

work=$(mktemp -d)
sim_pid=""
cleanup() { [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
export XDG_RUNTIME_DIR=$work XDG_CONFIG_HOME=$work ZUB3_LOCK_DIR=$work LC_ALL=C.UTF-8

arch=$(dpkg-deb -f "$deb" Architecture)
version=$(dpkg-deb -f "$deb" Version)
qemu=qemu-$(dpkg-architecture --host-arch "$arch" --query DEB_HOST_GNU_CPU 2>/dev/null)
command -v "$qemu" >/dev/null || { echo "FAIL: $qemu is missing (Debian package qemu-user)"; exit 1; }
dpkg-deb -x "$deb" "$work/root"
bin=$work/root/usr/bin
# -d unimp: qemu names each system call or ioctl it cannot carry in its log.
run() { timeout 60 "$qemu" -d unimp -D "$work/qemu.log" "$bin/$1" "${@:2}"; }

for program in zub3ctl zub3sim; do
  file -b "$bin/$program" | grep -q "ELF" && ! "$bin/$program" --version >/dev/null 2>&1 \
    || fail "$program is not a program of another architecture: $(file -b "$bin/$program")"
  out=$(run "$program" --version 2>&1)
  [ "$(head -1 <<<"$out")" = "$program (ZUB-3 Manager) $version" ] || fail "$program --version under $qemu: $out"
done

"$sim" </dev/null >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
port=$(awk 'NR == 1 { print $1 }' "$work/sim.out")
[ -n "$port" ] || { cat "$work/sim.err"; echo "FAIL: zub3sim named no port"; exit 1; }

out=$(run zub3ctl ports 2>&1)
grep -q "^$port " <<<"$out" || fail "zub3ctl ports under $qemu does not list $port: $out"

# The line settings are the calls a user-mode emulator is likeliest to lack.
terminal=true
out=$(run zub3ctl read --port "$port" 2>&1)
status=$?
if [ $status -ne 0 ] && grep -q "Unsupported" "$work/qemu.log"; then
  echo "NOTE: $qemu cannot carry $(grep -m1 "Unsupported" "$work/qemu.log"): read and monitor not checked"
  terminal=false
elif [ "$out" != "ID 0, 115200 bit/s" ]; then
  fail "zub3ctl read under $qemu (status $status): $out"
fi
if $terminal; then
  out=$(run zub3ctl monitor --port "$port" --id 0 --speed 115200 --count 3 --format csv 2>/dev/null)
  [ "$(wc -l <<<"$out")" -eq 4 ] && [[ $(sed -n 2p <<<"$out") == *,* ]] \
    || fail "zub3ctl monitor under $qemu: $out"
fi

[ $failures -eq 0 ] && echo "$(basename "$deb") checked under $qemu"
exit $((failures > 0))
