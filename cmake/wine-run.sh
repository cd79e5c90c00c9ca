#!/bin/sh
# Runs a Windows program under Wine, with the Wine prefix and the X display of the build folder
# the program lies in. Used as CMAKE_CROSSCOMPILING_EMULATOR (cmake/mingw-w64.cmake), so CTest
# runs every cross-built test through it; works by hand too:
#   sh cmake/wine-run.sh /tmp/build-win64/tests/win32/velquor_hid_win32_tests.exe --gtest_brief=1
#
# The build folder is the nearest folder above the program that holds CMakeCache.txt (or
# VELQUOR_WINE_BUILD_DIR). Its Wine session (cmake/wine-session.sh, started by the CTest
# fixture) lives in <build>/wine, or in VELQUOR_WINE_SESSION when that is set: the prefix, and
# the number of the Xvfb display. Without a
# running session the program still runs (on the caller's DISPLAY, if any): a short-lived server
# is started first, with its output sent away, so that Wine's services can't hold the
# caller's output pipe open.
set -u

if [ $# -lt 1 ]; then
    echo "usage: wine-run.sh program.exe [arguments...]" >&2
    exit 2
fi

build_dir=${VELQUOR_WINE_BUILD_DIR:-}
if [ -z "$build_dir" ]; then
    case $1 in
        /*) dir=$(dirname -- "$1") ;;
        *) dir=$(dirname -- "$PWD/$1") ;;
    esac
    while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do
        dir=$(dirname -- "$dir")
    done
    [ -f "$dir/CMakeCache.txt" ] || dir=$PWD
    build_dir=$dir
fi

session=${VELQUOR_WINE_SESSION:-$build_dir/wine}
export WINEPREFIX="$session/prefix"
export WINEDEBUG=-all
# No Mono or Gecko: Wine would otherwise offer to download them while it creates the prefix.
export WINEDLLOVERRIDES="mscoree=;mshtml="
# The session's Xvfb, while it runs.
if [ -s "$session/display" ] && [ -s "$session/xvfb.pid" ] &&
   [ "$(cat /proc/"$(cat "$session/xvfb.pid")"/comm 2>/dev/null)" = Xvfb ]; then
    DISPLAY=$(cat "$session/display")
    export DISPLAY
fi

# Without a server for the prefix, start one that ends 5 s after its last program, and Wine's
# services with it, all with their output sent away. With one running (the session's), this
# check costs a few milliseconds and changes nothing.
mkdir -p "$session"
if wineserver -p5 </dev/null >/dev/null 2>&1; then
    wine cmd /c exit </dev/null >/dev/null 2>&1
fi

exec wine "$@" </dev/null
