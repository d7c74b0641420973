#!/bin/sh
# Runs a Windows test executable under Wine on a virtual display of its own
# and serves its screenshot requests: the test writes <name>.request into the
# screenshot folder, and this script answers with <name>.png of the whole
# screen (the test waits for it). Without Xvfb the test runs with
# TALVO_NO_DISPLAY=1 and skips what needs windows.
#
# The windows run in a Wine prefix of their own beside the screenshots, set
# up once: a virtual desktop (so Wine draws the title bars) and font links
# from the dialog fonts to the CJK fonts of the system, so Japanese and
# Chinese texts render.
#   run-with-display.sh <screenshot dir> <wine-run> <exe> [args...]
set -u
shots=$1; winerun=$2; shift 2
mkdir -p "$shots"
rm -f "$shots"/*.request

if ! command -v Xvfb >/dev/null 2>&1 || ! command -v import >/dev/null 2>&1; then
  TALVO_NO_DISPLAY=1 exec "$winerun" "$@"
fi

WINEPREFIX="$(cd "$shots/.." && pwd)/wineprefix"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# A free display number; another run may take the same one at the same
# moment, in which case this Xvfb dies and the next number is tried.
n=91
xvfb=
while [ $n -lt 140 ]; do
  if [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; then n=$((n + 1)); continue; fi
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  xvfb=$!
  i=0
  while [ ! -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb" 2>/dev/null && [ $i -lt 100 ]; do
    sleep 0.1; i=$((i + 1))
  done
  if kill -0 "$xvfb" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then break; fi
  kill "$xvfb" 2>/dev/null
  xvfb=
  n=$((n + 1))
done
if [ -z "$xvfb" ]; then
  echo "run-with-display: no virtual display could be started" >&2
  TALVO_NO_DISPLAY=1 exec "$winerun" "$@"
fi
export DISPLAY=":$n"

# The prefix is made by the loader the executable needs (32 or 64 bit).
loader=$("$winerun" --loader "$1") || exit 1
WINELOADER=$loader
export WINELOADER
if [ ! -f "$WINEPREFIX/.talvo-ui-ready" ]; then
  "$loader" wineboot -i >/dev/null 2>&1
  link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
  cjk='NotoSansCJK-Regular.ttc,Noto Sans CJK JP\0NotoSansCJK-Regular.ttc,Noto Sans CJK SC'
  for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "MS Sans Serif"; do
    "$loader" reg add "$link" /v "$face" /t REG_MULTI_SZ /d "$cjk" /f >/dev/null 2>&1
  done
  "$loader" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  "$loader" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.talvo-ui-ready"
fi

(
  while kill -0 "$xvfb" 2>/dev/null; do
    for req in "$shots"/*.request; do
      [ -e "$req" ] || continue
      name=$(basename "$req" .request)
      import -window root "png:$shots/$name.tmp" >/dev/null 2>&1 && mv "$shots/$name.tmp" "$shots/$name.png"
      rm -f "$req"
    done
    sleep 0.1
  done
) &
watcher=$!

TALVO_SCREENSHOT_DIR="$shots" "$winerun" "$@"
rc=$?
wineserver -k >/dev/null 2>&1
kill "$watcher" 2>/dev/null
kill "$xvfb" 2>/dev/null
wait 2>/dev/null
exit $rc
