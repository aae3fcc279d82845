#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the packages from a build and checks them as dpkg sees them: what each depends on
# and holds, and, in a root of their own, an upgrade from the single zub3-manager package
# of 1.1.0 (which held the tools too), a fresh install and a clean removal.
#   test_debs.sh <build dir> <work dir>
set -uo pipefail
build=$1 work=$2

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$work"
mkdir -p "$work"
if ! (cd "$build" && cpack -G DEB -B "$work") >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
tools=$(ls "$work"/zub3-tools_*.deb)
manager=$(ls "$work"/zub3-manager_*.deb 2>/dev/null)
version=$(dpkg-deb -f "$tools" Version)
files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort; }

# --- what each package needs: the tools no GUI library and no fonts ---
depends=$(dpkg-deb -f "$tools" Depends)
grep -q "libqt6core6" <<<"$depends" || fail "zub3-tools does not depend on Qt Core: $depends"
gui=$(grep -oiE "libqt6(gui|widgets|charts|opengl)[^,]*|qt6-qpa[^,]*|fonts-[^,]*|libpng[^,]*|libx[^,]*" <<<"$depends")
[ -z "$gui" ] || fail "zub3-tools depends on $gui"
for field in Breaks Replaces; do
  [ "$(dpkg-deb -f "$tools" $field)" = "zub3-manager (<< 1.2.0~)" ] \
    || fail "zub3-tools' $field is '$(dpkg-deb -f "$tools" $field)'"
done
tool_files=$(files "$tools")
for file in /usr/bin/zub3ctl /usr/bin/zub3sim /usr/share/man/man1/zub3ctl.1.gz /etc/default/zub3-serve; do
  grep -qx "$file" <<<"$tool_files" || fail "zub3-tools does not hold $file"
done
! grep -E "ZUB3Manager|/icons/|/applications/|/metainfo/" <<<"$tool_files" || fail "zub3-tools holds the window's files"
# The service's options are the administrator's: an upgrade keeps them.
[ "$(dpkg-deb -I "$tools" conffiles)" = /etc/default/zub3-serve ] || fail "zub3-tools' conffiles: $(dpkg-deb -I "$tools" conffiles)"

# Debian's tools strip the compiler's notes along with the symbols.
unpacked=$work/unpacked
dpkg-deb -x "$tools" "$unpacked"
[ -n "$manager" ] && dpkg-deb -x "$manager" "$unpacked"
for program in "$unpacked"/usr/bin/*; do
  ! readelf -S "$program" | grep -q "\.comment" || fail "$(basename "$program") keeps a .comment section"
done

# The service as the package installs it: systemd must find the program it runs there.
if command -v systemd-analyze >/dev/null; then
  # shellcheck source=tests/support/verify_unit.sh
  source "$(dirname "$0")/support/verify_unit.sh"
  service_root=$work/service-root
  dpkg-deb -x "$tools" "$service_root"
  for instance in COM11 "$(systemd-escape --path /dev/serial0)"; do
    verify_unit "$service_root" /usr/lib/systemd/system/zub3-serve@.service "$instance" \
      || fail "zub3-serve@$instance does not verify as zub3-tools installs it"
  done
else
  fail "systemd-analyze is not installed (scripts/setup.sh installs systemd)"
fi

if [ -n "$manager" ]; then
  depends=$(dpkg-deb -f "$manager" Depends)
  for need in "zub3-tools (= $version)" libqt6widgets6 fonts-noto-cjk qt6-qpa-plugins; do
    grep -qF "$need" <<<"$depends" || fail "zub3-manager does not depend on $need: $depends"
  done
  both=$(comm -12 <(files "$manager") <(echo "$tool_files"))
  [ -z "$both" ] || fail "files in both packages: $both"
  grep -qx /usr/bin/ZUB3Manager < <(files "$manager") || fail "zub3-manager does not hold the window"
fi

# --- in a root of their own; Depends are forced, as the root has no libraries ---
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
in_root() { dpkg --root="$root" --force-depends --force-not-root --log=/dev/null "$@" >>"$work/dpkg.log" 2>&1; }
status() { dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Status} ${Version}' "$1" 2>/dev/null; }

new=("$tools")
if [ -n "$manager" ]; then
  new+=("$manager")
  # The single package of 1.1.0 held every file that the two hold now.
  old=$work/old
  cp -a "$unpacked" "$old"
  rm -rf "$old/usr/share/doc/zub3-tools" "$old/usr/share/lintian"
  mkdir "$old/DEBIAN"
  printf '%s\n' "Package: zub3-manager" "Version: 1.1.0" "Architecture: $(dpkg-deb -f "$tools" Architecture)" \
    "Maintainer: $(dpkg-deb -f "$tools" Maintainer)" "Description: the single package of 1.1.0" >"$old/DEBIAN/control"
  dpkg-deb --root-owner-group -b "$old" "$work/zub3-manager_1.1.0.deb" >/dev/null
  in_root -i "$work/zub3-manager_1.1.0.deb" || fail "installing the package of 1.1.0"
fi
# As apt unpacks an upgrade: the old package is deconfigured while zub3-tools takes its files.
in_root --auto-deconfigure -i "${new[@]}" || { cat "$work/dpkg.log"; fail "installing ${new[*]##*/}"; }
for deb in "${new[@]}"; do
  package=$(dpkg-deb -f "$deb" Package)
  [ "$(status "$package")" = "install ok installed $version" ] || fail "$package: $(status "$package")"
done
owner=$(dpkg --root="$root" -S /usr/bin/zub3ctl 2>/dev/null)
[ "$owner" = "zub3-tools: /usr/bin/zub3ctl" ] || fail "/usr/bin/zub3ctl belongs to '$owner'"

in_root --purge zub3-manager zub3-tools || { cat "$work/dpkg.log"; fail "removing the packages"; }
left=$(cd "$root" && find . ! -type d ! -path "./var/lib/dpkg/*")
[ -z "$left" ] || fail "left after removal: $left"

[ $failures -eq 0 ] && echo "packages in $work checked: ${new[*]##*/}"
exit $((failures > 0))
