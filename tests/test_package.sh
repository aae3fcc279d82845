#!/usr/bin/env bash
# Installs the build into a staging directory as a package would (prefix /usr) and checks
# that the desktop, man and the shell find everything there and that the programs start.
#   test_package.sh <build dir> <staging dir> <make_icons> <app id> <program>...
set -uo pipefail
build=$1 staging=$2 make_icons=$3 app_id=$4
shift 4
programs=("$@")

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$staging"
if ! DESTDIR="$staging" cmake --install "$build" --prefix /usr >"$staging.log" 2>&1; then
  cat "$staging.log"
  echo "FAIL: the staging install"
  exit 1
fi
root=$staging/usr

# --- every file where it is looked for, and nothing else (no tests, no tools) ---
expected=(share/applications/zub3-manager.desktop "share/metainfo/$app_id.metainfo.xml"
          share/man/man1/ZUB3Manager.1.gz
          share/doc/zub3-manager/copyright share/doc/zub3-manager/changelog.gz)
for size in 16 32 48 64 128 256; do
  expected+=("share/icons/hicolor/${size}x$size/apps/zub3-manager.png")
done
for program in "${programs[@]}"; do
  expected+=("bin/$program")
  [ "$program" = ZUB3Manager ] || expected+=("share/man/man1/$program.1.gz")
done
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$root" && find . -type f -printf '%P\n' | sort) \
  || fail "installed files differ from the expected ones (< expected, > installed)"
[ -z "$(find "$staging" -mindepth 1 -maxdepth 1 ! -name usr)" ] || fail "files outside /usr"

for program in "${programs[@]}"; do
  [ -x "$root/bin/$program" ] || fail "bin/$program is not executable"
done

# The icons: each the size its directory names, as make_icons draws it.
drawn=$(mktemp -d)
trap 'rm -rf "$drawn"' EXIT
"$make_icons" --app "$drawn" || fail "make_icons --app"
for size in 16 32 48 64 128 256; do
  icon=share/icons/hicolor/${size}x$size/apps/zub3-manager.png
  file "$root/$icon" | grep -q "PNG image data, $size x $size, 8-bit/color RGBA" \
    || fail "$icon: $(file -b "$root/$icon")"
  cmp -s "$drawn/${size}x$size/apps/zub3-manager.png" "$root/$icon" \
    || fail "$icon is not what make_icons draws now: run make_icons --app packaging/icons/hicolor"
done

# --- the desktop entry and the metainfo ---
desktop=$root/share/applications/zub3-manager.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/share/metainfo/$app_id.metainfo.xml" >/dev/null \
  || { appstreamcli validate --no-net "$root/share/metainfo/$app_id.metainfo.xml"; fail "appstreamcli validate"; }
entry() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(entry Name)" = "ZUB-3 Manager" ] || fail "Name is '$(entry Name)'"
[ -n "$(entry 'Name\[ja\]')" ] && [ -n "$(entry 'Comment\[ja\]')" ] || fail "no Japanese Name or Comment"
[ -f "$root/share/icons/hicolor/48x48/apps/$(entry Icon).png" ] || fail "Icon=$(entry Icon) is not installed"
exec_line=$(entry Exec)
[ -x "$root/bin/${exec_line%% *}" ] || fail "Exec=$exec_line is not an installed program"
for program in "${programs[@]}"; do
  grep -q "<binary>$program</binary>" "$root/share/metainfo/$app_id.metainfo.xml" \
    || fail "the metainfo does not name $program"
done

# --- man finds each page and renders it without a warning ---
for program in "${programs[@]}"; do
  MANPATH="$root/share/man" man -w "$program" >/dev/null 2>&1 || fail "man does not find $program's page"
done
for page in "$root"/share/man/man1/*.1.gz; do
  warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man -l $(basename "$page"): $warnings"
  MANWIDTH=80 man -E UTF-8 -l "$page" 2>/dev/null | grep -q "^SYNOPSIS" || fail "$(basename "$page") has no SYNOPSIS"
done

# --- the programs start from the staging tree ---
export PATH="$root/bin:$PATH"
help=$(zub3sim --help) || fail "zub3sim --help exits with $?"
grep -q "^Usage: zub3sim" <<<"$help" || fail "zub3sim --help: no usage"
man -E ascii -l "$root/share/man/man1/zub3sim.1.gz" 2>/dev/null | grep -q -- '--fault-any-speed' \
  || fail "zub3sim's page lacks its options"
if [[ " ${programs[*]} " == *" zub3ctl "* ]]; then
  zub3ctl --help >/dev/null || fail "zub3ctl --help exits with $?"
fi

# The window as the menu starts it, on the offscreen platform: still up after a moment means
# it found its libraries and plugins and came through start-up.
QT_QPA_PLATFORM=offscreen timeout 3 $exec_line >"$drawn/window.log" 2>&1
status=$?
[ $status -eq 124 ] || { cat "$drawn/window.log"; fail "the window ended with status $status within 3 s"; }

[ $failures -eq 0 ] && echo "staging install in $staging checked"
exit $((failures > 0))
