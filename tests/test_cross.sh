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
sim_pid="" ser2net_pid=""
cleanup() { kill $sim_pid $ser2net_pid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
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

machine() { readelf -h "$1" 2>/dev/null | sed -n 's/^ *Machine: *//p'; }
for program in zub3ctl zub3sim; do
  [ -n "$(machine "$bin/$program")" ] && [ "$(machine "$bin/$program")" != "$(machine /bin/sh)" ] \
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

# read and monitor: the receiver's ID and speed, and three records.
read_and_monitor() {
  out=$(run zub3ctl read --port "$1" 2>&1)
  status=$?
  [ "$out" = "ID 0, 115200 bit/s" ] || { fail "zub3ctl read --port $1 under $qemu (status $status): $out"; return; }
  out=$(run zub3ctl monitor --port "$1" --id 0 --speed 115200 --count 3 --format csv 2>"$work/err")
  [ "$(wc -l <<<"$out")" -eq 4 ] && [[ $(sed -n 2p <<<"$out") == *,* ]] \
    || fail "zub3ctl monitor --port $1 under $qemu: $out $(cat "$work/err")"
}

# The line settings are the calls a user-mode emulator is likeliest to lack: the termios2
# ioctls that set any bit rate. (qemu also logs rseq, which the C library does without.)
ioctl_name() {
  case $1 in
    *802c542a) echo TCGETS2 ;; *402c542b) echo TCSETS2 ;;
    *402c542c) echo TCSETSW2 ;; *402c542d) echo TCSETSF2 ;; *) echo "$1" ;;
  esac
}
out=$(run zub3ctl read --port "$port" 2>&1)
lacking=$(sed -n 's/^Unsupported ioctl: cmd=\(0x[0-9a-f]*\)$/\1/p' "$work/qemu.log" | head -1)
if [ "$out" != "ID 0, 115200 bit/s" ] && [ -n "$lacking" ]; then
  echo "NOTE: $qemu cannot carry the terminal ioctl $(ioctl_name "$lacking") ($lacking): $out"
  # The same pseudo-terminal shared by ser2net: the network port needs no terminal call.
  listen=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  device=$(awk 'NR == 1 { print $2 }' "$work/sim.out")
  printf 'connection: &zub3\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%s\n  connector: serialdev,%s,115200n81,local\n' \
    "$listen" "$device" >"$work/ser2net.yaml"
  /usr/sbin/ser2net -n -d -P "$work/ser2net.pid" -c "$work/ser2net.yaml" >"$work/ser2net.log" 2>&1 &
  ser2net_pid=$!
  for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$listen") 2>/dev/null && break; sleep 0.1; done
  sleep 0.2  # ser2net lets go of the device after that probe
  echo "NOTE: read and monitor through ser2net instead (rfc2217://127.0.0.1:$listen)"
  read_and_monitor "rfc2217://127.0.0.1:$listen"
else
  read_and_monitor "$port"
fi

[ $failures -eq 0 ] && echo "$(basename "$deb") checked under $qemu"
exit $((failures > 0))
