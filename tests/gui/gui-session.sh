#!/bin/sh
# The desktop the GUI tests run on: a virtual X display and a fresh Wine
# prefix with CJK fonts, shared by every test of one CTest run.
#
#   gui-session.sh start <dir> <exe>    start Xvfb on a free display, make the prefix
#                                       with the Wine loader <exe> needs (32 or 64 bit)
#   gui-session.sh run <dir> <exe> ...  run a Windows executable on that desktop
#   gui-session.sh stop <dir>           stop Wine and Xvfb, remove the prefix
#
# CTest runs start and stop as the set-up and clean-up of the fixture
# "talvo_gui_session"; tests/gui/CMakeLists.txt wires the tests to it.
# <dir> holds session.env (display, prefix, Xvfb's process ID), the logs
# and the prefix itself. The executables write their screenshots to
# <dir>/../screenshots, passed to them as TALVO_GUI_SHOT_DIR.
set -u

die() {
    echo "gui-session: $*" >&2
    exit 1
}

[ $# -ge 2 ] || die "usage: gui-session.sh start <dir> <exe> | run <dir> <exe> [args...] | stop <dir>"
action=$1
dir=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
winerun="$here/../../scripts/wine-run"

# Windows path of a Unix path: Wine maps the Unix root to drive Z:.
winpath() {
    printf 'Z:%s' "$1" | tr '/' '\\'
}

# Xvfb is ready once its socket exists (and, where xdpyinfo is installed,
# once it answers).
ready() {
    [ -e "/tmp/.X11-unix/X$n" ] || return 1
    command -v xdpyinfo >/dev/null 2>&1 || return 0
    DISPLAY=":$n" xdpyinfo >/dev/null 2>&1
}

start() {
    command -v Xvfb >/dev/null 2>&1 ||
        die "Xvfb not found: the GUI tests need a virtual X display (Debian package xvfb)"
    [ $# -ge 1 ] || die "start: no executable to choose the Wine loader by"
    # A 64-bit prefix needs the 64-bit loader; a 32-bit one runs only 32-bit
    # programs. The session's programs come from one build, so one file decides.
    loader=$("$winerun" --loader "$1") || exit 1
    [ -x "$loader" ] || die "$loader not found (Wine for this build's machine type)"
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    # A session left over from an interrupted run goes first.
    [ -f "$dir/session.env" ] && stop_session
    rm -rf "$dir/prefix" "$dir/session.env"

    # A free display number: no lock file and no socket. Another run may
    # take the same number at the same moment; then Xvfb ends at once and
    # the next number is tried.
    n=70
    xvfb=""
    while [ -z "$xvfb" ]; do
        while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do
            n=$((n + 1))
        done
        [ $n -lt 400 ] || die "no free X display number between 70 and 400"
        # Detached from CTest's output pipes, so CTest does not wait for it.
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >"$dir/xvfb.log" 2>&1 &
        xvfb=$!
        i=0
        until ready; do
            i=$((i + 1))
            if ! kill -0 "$xvfb" 2>/dev/null; then
                echo "gui-session: Xvfb could not take display :$n; trying the next" >&2
                cat "$dir/xvfb.log" >&2
                xvfb=""
                n=$((n + 1))
                break
            fi
            if [ $i -gt 200 ]; then
                kill "$xvfb" 2>/dev/null
                cat "$dir/xvfb.log" >&2
                die "Xvfb did not start on display :$n within 20 s"
            fi
            sleep 0.1
        done
    done

    WINEPREFIX="$dir/prefix"
    DISPLAY=":$n"
    WINELOADER=$loader
    export WINEPREFIX DISPLAY WINELOADER WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    {
        echo "DISPLAY=:$n"
        echo "WINEPREFIX=$WINEPREFIX"
        echo "XVFB_PID=$xvfb"
        echo "WINELOADER=$loader"
    } >"$dir/session.env"

    # One persistent wine server for the whole session, its output away from
    # CTest's pipes; every later wine process of the session connects to it.
    wineserver -p </dev/null >"$dir/wineserver.log" 2>&1
    "$loader" wineboot -i </dev/null >"$dir/wineboot.log" 2>&1 || die "wineboot failed (see $dir/wineboot.log)"

    # A virtual desktop: Wine draws the window frames itself and keeps the
    # focus and the foreground window without a window manager.
    reg() { "$loader" reg add "$@" /f </dev/null >>"$dir/wineboot.log" 2>&1 || die "wine reg add $1 /v $3 failed"; }
    reg 'HKCU\Software\Wine\Explorer' /v Desktop /d Default
    reg 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024

    # CJK glyphs: the dialog and message-box faces fall back to Noto Sans CJK
    # for characters they lack, and the faces Japanese and Chinese programs
    # name are replaced by it outright.
    link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
    cjk='NotoSansCJK-Regular.ttc,Noto Sans CJK JP\0NotoSansCJK-Regular.ttc,Noto Sans CJK SC'
    for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "Microsoft Sans Serif" "MS Sans Serif" \
        "Segoe UI" "Arial"; do
        reg "$link" /v "$face" /t REG_MULTI_SZ /d "$cjk"
    done
    repl='HKCU\Software\Wine\Fonts\Replacements'
    for face in "MS UI Gothic" "MS Gothic" "MS PGothic" "Meiryo" "Yu Gothic UI"; do
        reg "$repl" /v "$face" /d "Noto Sans CJK JP"
    done
    for face in "SimSun" "NSimSun" "Microsoft YaHei" "Microsoft YaHei UI" "SimHei"; do
        reg "$repl" /v "$face" /d "Noto Sans CJK SC"
    done
    # The caption buttons are drawn with Wine's Marlett, which this Wine
    # build does not find on its own (the close box would show an "r").
    for f in /usr/share/wine/fonts/marlett.ttf /usr/lib/wine/fonts/marlett.ttf; do
        if [ -f "$f" ]; then
            cp "$f" "$WINEPREFIX/drive_c/windows/Fonts/" && break
        fi
    done
    # Start the session afresh, so the first program opens the virtual desktop
    # with these settings in place.
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    wineserver -p </dev/null >>"$dir/wineserver.log" 2>&1
    echo "gui-session: display :$n, prefix $WINEPREFIX"
}

load() {
    [ -f "$dir/session.env" ] ||
        die "no GUI session in $dir: the fixture talvo_gui_session did not start (run the test through CTest)"
    # shellcheck disable=SC1091
    . "$dir/session.env"
    kill -0 "$XVFB_PID" 2>/dev/null || die "the session's Xvfb (process $XVFB_PID) is gone"
    export DISPLAY WINEPREFIX WINELOADER WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

run() {
    [ $# -ge 1 ] || die "run: no executable"
    load
    shots="$(cd "$dir/.." && pwd)/screenshots"
    mkdir -p "$shots"
    TALVO_GUI_SHOT_DIR=$(winpath "$shots")
    export TALVO_GUI_SHOT_DIR
    # The output goes through a file: the first Windows program of the
    # session starts Wine's desktop process, which inherits the program's
    # standard handles and lives until the session stops, so CTest would
    # wait for those pipes until its time-out.
    log="$dir/run-$$.log"
    "$winerun" "$@" </dev/null >"$log" 2>&1
    rc=$?
    cat "$log"
    rm -f "$log"
    return $rc
}

stop_session() {
    if [ -f "$dir/session.env" ]; then
        # shellcheck disable=SC1091
        . "$dir/session.env"
        WINEPREFIX=$WINEPREFIX wineserver -k >/dev/null 2>&1
        WINEPREFIX=$WINEPREFIX wineserver -w >/dev/null 2>&1
        # Only our own Xvfb: the ID could have been reused since an interrupted run.
        if [ "$(cat "/proc/$XVFB_PID/comm" 2>/dev/null)" = Xvfb ]; then
            kill "$XVFB_PID" 2>/dev/null
        fi
        rm -f "$dir/session.env"
    fi
    rm -rf "$dir/prefix"
}

case "$action" in
start) start "$@" ;;
run)
    run "$@"
    exit $?
    ;;
stop)
    dir=$(cd "$dir" 2>/dev/null && pwd) || exit 0
    stop_session
    ;;
*) die "unknown action '$action'" ;;
esac
