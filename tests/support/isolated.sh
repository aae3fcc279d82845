#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs one test case in directories of its own, which it and every program it starts inherit:
# settings, runtime, lock, cache and temporary directories are fresh and go afterwards. HOME
# is an empty directory that must stay empty: a case that writes to the user's home fails
# instead of changing it, and one that reads it finds nothing the user kept.
# With --x11 the case also gets an X server of its own.
#
#   isolated.sh [--x11] PROGRAM [ARGUMENTS...]
set -u

x11=no
if [ "${1-}" = --x11 ]; then
    x11=yes
    shift
fi

# Listing the cases (gtest_discover_tests) needs none of it.
case " $* " in
*" --gtest_list_tests "*) exec "$@" ;;
esac

dir=$(mktemp -d "${TMPDIR:-/tmp}/zub3-test.XXXXXX") || exit 1
xvfb=
cleanup() {
    if [ -n "$xvfb" ]; then
        kill "$xvfb" 2>/dev/null
        wait "$xvfb" 2>/dev/null
    fi
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

mkdir -m 700 "$dir/home" "$dir/config" "$dir/runtime" "$dir/lock" "$dir/cache" "$dir/data" \
    "$dir/state" "$dir/tmp"
export HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" XDG_RUNTIME_DIR="$dir/runtime" \
    ZUB3_LOCK_DIR="$dir/lock" XDG_CACHE_HOME="$dir/cache" XDG_DATA_HOME="$dir/data" \
    XDG_STATE_HOME="$dir/state" TMPDIR="$dir/tmp"

if [ "$x11" = yes ]; then
    # The server picks a free display and writes its number once it is ready: no race with
    # the servers of cases running beside this one. Should it end first, the read sees the
    # pipe's end.
    mkfifo "$dir/display"
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$dir/display" 2>"$dir/xvfb.log" &
    xvfb=$!
    read -r display <"$dir/display"
    if [ -z "$display" ]; then
        echo "isolated.sh: the X server did not start: $(tail -n 1 "$dir/xvfb.log")" >&2
        exit 1
    fi
    export DISPLAY=":$display"
fi

"$@"
status=$?

if [ -n "$(ls -A "$HOME")" ]; then
    echo "isolated.sh: the test wrote to \$HOME: $(ls -A "$HOME" | tr '\n' ' ')" >&2
    [ "$status" -eq 0 ] && status=1
fi
exit "$status"
