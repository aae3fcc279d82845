# SPDX-License-Identifier: GPL-3.0-or-later
# verify_unit <root> <template in root> <instance>: systemd-analyze verify on an instance of
# a unit template of an installed tree, as systemd would load it there: the programs it
# runs must be in that tree. The machine's own units (the targets every service is ordered
# against) are copied in beside it; a template outside systemd's own folders (another
# prefix) is put where "systemctl link" would make it known. Prints what verify says and
# fails on any word from it, as some faults are only warned about.
verify_unit() {
  local root=$1 template=$2 instance=$3 out rc
  mkdir -p "$root/usr/lib/systemd" "$root/etc/systemd/system"
  cp -an /usr/lib/systemd/system "$root/usr/lib/systemd/"
  case $template in
    /usr/lib/systemd/system/* | /lib/systemd/system/*) ;;
    *) cp "$root$template" "$root/etc/systemd/system/" ;;
  esac
  local name
  name=$(basename "$template")
  out=$(systemd-analyze verify --man=no --root="$root" "${name%@.service}@$instance.service" 2>&1)
  rc=$?
  [ -n "$out" ] && echo "$out"
  [ $rc -eq 0 ] && [ -z "$out" ]
}
