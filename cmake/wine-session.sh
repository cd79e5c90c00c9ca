#!/bin/sh
# Starts and stops the Wine session of a build folder, for the CTest fixtures of
# cmake/WineTests.cmake:
#   wine-session.sh start <build folder> [<name> [fresh]]
#                     Xvfb on a free display, the prefix, a persistent wineserver with Wine's
#                     services, the fonts
#   wine-session.sh stop <build folder> [<name>]
#                     stops the wineserver and Xvfb
# <name> is the session's folder in the build folder, "wine" unless given (cmake/wine-run.sh
# finds another one through VELQUOR_WINE_SESSION). With "fresh" the prefix is made anew on every
# start and left to settle (Wine's first boot can leave a second services.exe behind, which
# makes driver installs erratic), and Wine's X11 driver is told that no window manager runs
# (Managed=N), so that a closed window is not waited for. The screen is 1280x1024 unless
# VELQUOR_WINE_SCREEN names another size (the scaling tests' window at 300 % needs more).
#
# Everything started here has its input and output redirected: Wine's services outlive the
# process that starts them, and a service holding CTest's output pipe would hold the test for
# ever. The session's files live in <build>/wine (see cmake/wine-run.sh).
set -u

if [ $# -lt 2 ] || [ $# -gt 4 ]; then
    echo "usage: wine-session.sh start|stop <build folder> [<name> [fresh]]" >&2
    exit 2
fi
action=$1
session=$2/${3:-wine}
fresh=${4:-}
export WINEPREFIX="$session/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="

stop_session() {
    wineserver -k </dev/null >/dev/null 2>&1
    if [ -s "$session/xvfb.pid" ]; then
        pid=$(cat "$session/xvfb.pid")
        # Only our own Xvfb: the pid must still belong to an Xvfb process.
        if [ "$(cat /proc/"$pid"/comm 2>/dev/null)" = Xvfb ]; then
            kill "$pid" 2>/dev/null
            n=0
            while [ -d /proc/"$pid" ] && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
        fi
    fi
    rm -f "$session/xvfb.pid" "$session/display"
}

case $action in
start)
    mkdir -p "$session"
    stop_session

    # Xvfb picks a free display number itself and writes it to the file behind -displayfd.
    rm -f "$session/display.number"
    Xvfb -displayfd 3 -screen 0 "${VELQUOR_WINE_SCREEN:-1280x1024}x24" -nolisten tcp \
        3>"$session/display.number" </dev/null >/dev/null 2>&1 &
    echo $! >"$session/xvfb.pid"
    n=0
    while [ ! -s "$session/display.number" ] && [ $n -lt 100 ]; do sleep 0.1; n=$((n + 1)); done
    if [ ! -s "$session/display.number" ]; then
        echo "wine-session: Xvfb did not start" >&2
        stop_session
        exit 1
    fi
    number=$(tr -dc 0-9 <"$session/display.number")
    rm -f "$session/display.number"
    echo ":$number" >"$session/display"
    export DISPLAY=":$number"

    if [ "$fresh" = fresh ]; then
        rm -rf "$WINEPREFIX"
        if ! wine wineboot -i </dev/null >/dev/null 2>&1; then
            echo "wine-session: wineboot -i fails in $WINEPREFIX" >&2
            stop_session
            exit 1
        fi
        wineserver -k </dev/null >/dev/null 2>&1
        wineserver -w </dev/null >/dev/null 2>&1
        wine wineboot </dev/null >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
        wineserver -k </dev/null >/dev/null 2>&1
        wineserver -w </dev/null >/dev/null 2>&1
    fi

    # The first start creates the prefix (about 10 s); later starts take about 2 s.
    wineserver -p </dev/null >/dev/null 2>&1
    if ! wine cmd /c exit </dev/null >/dev/null 2>&1; then
        echo "wine-session: wine does not start in $WINEPREFIX" >&2
        stop_session
        exit 1
    fi

    # Wine's own fonts, so that dialogs are laid out the same on every machine.
    fonts="$WINEPREFIX/drive_c/windows/Fonts"
    mkdir -p "$fonts"
    for f in /usr/share/wine/fonts/*.ttf; do
        [ -f "$f" ] && cp -p "$f" "$fonts/"
    done
    echo "wine-session: display :$number, prefix $WINEPREFIX"
    ;;
stop)
    stop_session
    echo "wine-session: stopped"
    ;;
*)
    echo "wine-session: unknown action $action" >&2
    exit 2
    ;;
esac
