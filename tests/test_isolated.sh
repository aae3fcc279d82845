#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The launcher every test case runs under (support/isolated.sh): its exit status is the
# case's, a case that writes to its home directory fails, and no two cases share a directory.
#
#   test_isolated.sh LAUNCHER
set -u
launcher=$1
fail() {
    echo "test_isolated: $*" >&2
    exit 1
}

sh "$launcher" true || fail "a passing case failed"
sh "$launcher" sh -c 'exit 3'
[ $? -eq 3 ] || fail "a failing case's status was not kept"

out=$(sh "$launcher" sh -c 'touch "$HOME/.zub3rc"' 2>&1) && fail "a case that wrote to HOME passed"
case $out in
*'$HOME'*.zub3rc*) ;;
*) fail "the message does not name what was written: $out" ;;
esac

# Each directory a case is given is fresh, private, and gone afterwards.
seen=$(sh "$launcher" sh -c '
    for d in "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$ZUB3_LOCK_DIR" "$TMPDIR"; do
        [ -d "$d" ] && [ -z "$(ls -A "$d")" ] || exit 1
        touch "$d/mark"
    done
    rm "$HOME/mark"
    echo "$XDG_CONFIG_HOME"') || fail "a case did not start in empty directories"
[ ! -e "$seen" ] || fail "a case's directories outlived it: $seen"
sh "$launcher" sh -c '[ ! -e "$XDG_CONFIG_HOME/mark" ] && [ "$XDG_CONFIG_HOME" != "'"$seen"'" ]' ||
    fail "two cases shared a settings directory"
