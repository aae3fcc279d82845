#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a staging directory as a package would (prefix /usr) and checks
# that the desktop, man and the shell find everything there and that the programs start.
#   test_package.sh <build dir> <staging dir> [--window <make_icons> <app id>] <program>...
# --window: the build has the window, and with it the desktop entry, icons and metainfo.
set -uo pipefail
build=$1 staging=$2
shift 2
window=false
if [ "${1:-}" = --window ]; then
  window=true make_icons=$2 app_id=$3
  shift 3
fi
programs=("$@")
source_dir=$(dirname "$0")/..

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
packages=(zub3-tools)
expected=()
if $window; then
  packages+=(zub3-manager)
  expected+=(share/applications/zub3-manager.desktop "share/metainfo/$app_id.metainfo.xml")
  for size in 16 32 48 64 128 256; do
    expected+=("share/icons/hicolor/${size}x$size/apps/zub3-manager.png")
  done
fi
for package in "${packages[@]}"; do
  expected+=("share/doc/$package/copyright" "share/doc/$package/changelog.gz" "share/lintian/overrides/$package")
done
for program in "${programs[@]}"; do
  [ "$program" = zub3ctl ] && expected+=("lib/systemd/system/zub3-serve@.service")
  expected+=("bin/$program" "share/man/man1/$program.1.gz")
  [ "$program" = ZUB3Manager ] || expected+=("share/bash-completion/completions/$program")
done
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$root" && find . -type f -printf '%P\n' | sort) \
  || fail "installed files differ from the expected ones (< expected, > installed)"
# Outside /usr only the service's options, a configuration file of the administrator's.
[ -z "$(cd "$staging" && find . -type f ! -path './usr/*' ! -path ./etc/default/zub3-serve)" ] \
  || fail "files outside /usr"

for program in "${programs[@]}"; do
  [ -x "$root/bin/$program" ] || fail "bin/$program is not executable"
done

drawn=$(mktemp -d)
trap 'rm -rf "$drawn"' EXIT
if $window; then
  # The icons: each the size its directory names, as make_icons draws it.
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
  # Notes (I:) are allowed: the ID's .invalid domain is not one appstreamcli knows.
  validation=$(appstreamcli validate --pedantic --no-net "$root/share/metainfo/$app_id.metainfo.xml")
  [ $? -eq 0 ] && ! grep -q '^[EWP]:' <<<"$validation" || { echo "$validation"; fail "appstreamcli validate --pedantic"; }
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
fi

# --- the licence: the whole GPL 3 text, and the package saying so in Debian's format ---
grep -q "^ *GNU GENERAL PUBLIC LICENSE\$" "$source_dir/COPYING" && grep -q "^ *Version 3, 29 June 2007\$" "$source_dir/COPYING" \
  && grep -q "^ *END OF TERMS AND CONDITIONS\$" "$source_dir/COPYING" || fail "COPYING is not the GPL version 3"
for package in "${packages[@]}"; do
  copyright=$root/share/doc/$package/copyright
  grep -q "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\$" "$copyright" \
    && grep -q "^License: GPL-3.0-or-later\$" "$copyright" && grep -q "/usr/share/common-licenses/GPL-3" "$copyright" \
    || fail "$package's copyright file does not give GPL-3.0-or-later in the machine-readable format"
done
! $window || grep -q "<project_license>GPL-3.0-or-later</project_license>" "$root/share/metainfo/$app_id.metainfo.xml" \
  || fail "the metainfo does not give the project's licence"

# --- man finds each page and renders it without a warning ---
for program in "${programs[@]}"; do
  MANPATH="$root/share/man" man -w "$program" >/dev/null 2>&1 || fail "man does not find $program's page"
done
for page in "$root"/share/man/man1/*.1.gz; do
  warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man -l $(basename "$page"): $warnings"
  MANWIDTH=80 man -E UTF-8 -l "$page" 2>/dev/null | grep -q "^SYNOPSIS" || fail "$(basename "$page") has no SYNOPSIS"
done

# --- each page has the sections a reader looks for and names every option --help names ---
export PATH="$root/bin:$PATH"
page() { MANWIDTH=1000 man -E ascii -l "$root/share/man/man1/$1.1.gz" 2>/dev/null; }
for program in "${programs[@]}"; do
  text=$(page "$program")
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES "SEE ALSO"; do
    grep -qx "$section" <<<"$text" || fail "$program's page has no $section"
  done
  case $program in
    zub3ctl) help=$(for c in "" ports read write monitor serve check; do zub3ctl $c --help; done) ;;
    # The window's --help needs no display: none is given.
    ZUB3Manager) help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 10 ZUB3Manager --help) ;;
    *) help=$($program --help) ;;
  esac
  [ $? -eq 0 ] || fail "$program --help exits with $?"
  [ -n "$help" ] || fail "$program --help prints nothing"
  for option in $(grep -o -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u); do
    grep -q -- "$option" <<<"$text" || fail "$program's page does not name $option"
  done
done

# zub3ctl(1) describes every field of a record as monitor writes it.
if [[ " ${programs[*]} " == *" zub3ctl "* ]]; then
  export XDG_RUNTIME_DIR=$drawn ZUB3_LOCK_DIR=$drawn
  zub3sim </dev/null >"$drawn/sim.out" 2>&1 &
  sim=$!
  for _ in $(seq 50); do [ -s "$drawn/sim.out" ] && break; sleep 0.1; done
  port=$(awk 'NR == 1 { print $1 }' "$drawn/sim.out")
  header=$(zub3ctl monitor --port "$port" --id 0 --speed 115200 --count 1 --format csv --hex | head -1)
  kill "$sim"; wait "$sim" 2>/dev/null
  records=$(page zub3ctl | sed -n '/^RECORDS$/,/^EXIT STATUS$/p')
  [ -n "$header" ] || fail "no record from zub3ctl monitor against zub3sim: $(cat "$drawn/sim.out")"
  for field in ${header//,/ }; do
    grep -q "^ *\(.*, \)\?$field\b" <<<"$records" || fail "zub3ctl's page does not describe the field $field"
  done
fi

# --- bash completes commands and option values from the installed scripts ---
complete_line() {
  bash -c 'source /usr/share/bash-completion/bash_completion; source "$1/$2"; shift
           COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
           _$1; echo "${COMPREPLY[*]}"' _ "$root/share/bash-completion/completions" "$@"
}
for case in "zub3ctl mon|monitor" "zub3ctl monitor --format |text csv jsonl" "zub3ctl ports --|--json --check --help" "zub3ctl che|check" \
            "zub3sim --speed |115200 625000 1250000" "zub3sim --fault-s|--fault-short" \
            "zub3sim --fault-noise --fault-d|--fault-delay"; do
  words=${case%|*} expected=${case#*|}
  [[ " ${programs[*]} " == *" ${words%% *} "* ]] || continue
  read -ra args <<<"$words"
  [[ $words == *" " ]] && args+=("")
  got=$(complete_line "${args[@]}")
  [ "$got" = "$expected" ] || fail "completing '$words' offers '$got', not '$expected'"
done

# The window as the menu starts it, on the offscreen platform: still up after a moment means
# it found its libraries and plugins and came through start-up.
if $window; then
  QT_QPA_PLATFORM=offscreen timeout 3 $exec_line >"$drawn/window.log" 2>&1
  status=$?
  [ $status -eq 124 ] || { cat "$drawn/window.log"; fail "the window ended with status $status within 3 s"; }
fi

[ $failures -eq 0 ] && echo "staging install in $staging checked"
exit $((failures > 0))
