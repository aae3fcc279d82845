#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What scripts/setup.sh asks apt for under each choice, with every package missing: apt,
# dpkg-query and locale are stand-ins that record or answer, so nothing is installed.
#   test_setup.sh <setup.sh>
set -uo pipefail
setup=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/bin"
cat >"$dir/bin/apt-get" <<'STUB'
#!/bin/sh
echo "$*" >>"$APT_LOG"
STUB
printf '#!/bin/sh\nexit 1\n' >"$dir/bin/dpkg-query"       # nothing is installed
printf '#!/bin/sh\necho de_DE.utf8\n' >"$dir/bin/locale"  # the tests' locale is there
printf '#!/bin/sh\necho 0\n' >"$dir/bin/id"               # root: no sudo
chmod +x "$dir/bin/"*
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# ask <options...>: the packages of the install in $packages, one a line; the status in
# $status.
ask() {
  : >"$dir/apt.log"
  PATH="$dir/bin:$PATH" APT_LOG="$dir/apt.log" bash "$setup" "$@" >"$dir/out" 2>&1
  status=$?
  local install
  install=$(grep "^install " "$dir/apt.log")
  case $install in *-qq*) fail "setup.sh $*: apt-get install hides its progress: $install" ;; esac
  packages=$(tr ' ' '\n' <<<"${install#install }" | grep -v '^-')
}

# choice | packages it must ask for | packages it must not
while IFS='|' read -r options wanted unwanted; do
  # shellcheck disable=SC2086
  ask $options
  [ "$status" -eq 0 ] || fail "setup.sh $options: status $status: $(cat "$dir/out")"
  for p in $wanted; do
    grep -qx "$p" <<<"$packages" || fail "setup.sh $options does not install $p"
  done
  for p in $unwanted; do
    ! grep -qx "$p" <<<"$packages" || fail "setup.sh $options installs $p"
  done
done <<'CASES'
--tools|cmake g++ qt6-base-dev qt6-httpserver-dev qt6-websockets-dev libmosquitto-dev|chromium mosquitto libgtest-dev ser2net python3-websocket systemd xvfb lintian
--tools --tests|qt6-base-dev chromium mosquitto libgtest-dev ser2net python3-websocket systemd|xvfb fonts-noto-cjk lintian
--tests|qt6-base-dev chromium mosquitto libgtest-dev|xvfb lintian
--tools --package|qt6-base-dev lintian dpkg-dev|chromium mosquitto xvfb fonts-noto-cjk
|qt6-base-dev chromium libgtest-dev xvfb fonts-noto-cjk lintian|
CASES

ask --window
[ "$status" -eq 2 ] || fail "setup.sh --window: status $status, not 2"
exit $((failures > 0))
