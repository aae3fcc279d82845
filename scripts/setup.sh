#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build, the tests and a run need.
# Quiet when all is present; runs apt-get update only when something is missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev libgl-dev libglx-dev libxcb1-dev
  qt6-charts-dev libqt6opengl6-dev qt6-l10n-tools
  libpng-dev zlib1g-dev
  libgtest-dev
  fonts-noto-cjk
  xvfb xauth
  desktop-file-utils appstream help2man man-db file dpkg-dev lintian
  python3-serial ser2net
  locales
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
