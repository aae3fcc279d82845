#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs, from Debian's packages, what the build, the tests and a run need.
# Quiet when all is present; runs apt-get update only when something is missing.
#   setup.sh                  everything: the window, the tests, the sanitizers, the packages
#   setup.sh --tools          the tools-only build (-DZUB3_WINDOW=OFF -DBUILD_TESTING=OFF):
#                             zub3ctl and zub3sim on a computer without a display
#   setup.sh --tools --tests  that build with its tests (a browser, an MQTT broker, ser2net,
#                             GoogleTest); --tests alone is the same
#   setup.sh --tools --package  that build and the checks of its package
#                             (scripts/package.sh --tools)
#   setup.sh --cross ARCH     the tools-only build for another Debian architecture (arm64)
#                             and its smoke test under qemu-user
#   setup.sh --windows        the cross tools, Wine and NSIS, then Qt and the other
#                             libraries built for Windows into a cache
#                             (scripts/setup-windows.sh; an hour or more, once)
set -euo pipefail

tools=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-httpserver-dev qt6-websockets-dev libmosquitto-dev
)
# What only the tests need: the tools' tests, and so the window's too.
tests=(
  python3 libgtest-dev
  man-db bash-completion ser2net
  locales
  mosquitto mosquitto-clients chromium python3-websocket systemd
)
window=(
  libgl-dev libglx-dev libxcb1-dev
  qt6-charts-dev libqt6opengl6-dev qt6-l10n-tools qt6-translations-l10n
  libpng-dev zlib1g-dev
  fonts-noto-cjk
  xvfb xauth
  desktop-file-utils appstream
  python3-serial python3-websockets python3-paho-mqtt
  clang libclang-rt-14-dev
)
# The packages' checks.
packaging=(file dpkg-dev lintian)
# The Windows build: MinGW-w64, Wine to run it, NSIS for the installer; Qt's sources.
windows=(
  g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 nsis googletest
  ninja-build dpkg-dev xvfb xauth qt6-l10n-tools qt6-translations-l10n
)

usage="setup.sh: give nothing, --tools with --tests or --package, --tests, --cross ARCH or --windows"
cross=""
packages=()
if [ $# -eq 0 ]; then
  packages=("${tools[@]}" "${tests[@]}" "${window[@]}" "${packaging[@]}")
elif [ "$1" = --windows ]; then
  packages=("${tools[@]}" "${windows[@]}")
elif [ "$1" = --cross ]; then
  cross=${2:?setup.sh: --cross needs a Debian architecture, such as arm64}
  [ $# -eq 2 ] || { echo "$usage" >&2; exit 2; }
  # The build machine's Qt runs moc; the other architecture's is linked.
  packages=("${tools[@]}" "${tests[@]}" "${packaging[@]}" qemu-user "crossbuild-essential-$cross"
            "qt6-base-dev:$cross" "qt6-httpserver-dev:$cross" "qt6-websockets-dev:$cross"
            "libmosquitto-dev:$cross")
else
  packages=("${tools[@]}")
  for option in "$@"; do
    case $option in
      --tools) ;;
      --tests) packages+=("${tests[@]}") ;;
      --package) packages+=("${packaging[@]}") ;;
      *) echo "setup.sh: unknown option '$option'" >&2; echo "$usage" >&2; exit 2 ;;
    esac
  done
fi

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
# Its packages install beside this machine's (multiarch) once dpkg knows the architecture.
if [ -n "$cross" ] && ! dpkg --print-foreign-architectures | grep -qx "$cross"; then
  echo "setup: adding the architecture $cross to dpkg"
  $sudo dpkg --add-architecture "$cross"
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  # With its progress: a download of hundreds of MiB in silence looks hung.
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The records' tests run the programs under a locale that writes decimal commas.
if [[ " ${packages[*]} " == *" locales "* ]] && ! locale -a | grep -qix 'de_DE.utf8'; then
  echo "setup: generating the de_DE.UTF-8 locale"
  grep -qx 'de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi

if [ "${1:-}" = --windows ]; then
  # apt-get source needs source entries beside the binary ones.
  if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "setup: adding Debian's source entries"
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
        | $sudo tee /etc/apt/sources.list.d/zub3-deb-src.sources >/dev/null
    else
      sed -n 's/^deb /deb-src /p' /etc/apt/sources.list \
        | $sudo tee /etc/apt/sources.list.d/zub3-deb-src.list >/dev/null
    fi
    $sudo apt-get update -qq
  fi
  exec "$(dirname "$0")/setup-windows.sh"
fi
