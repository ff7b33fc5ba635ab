#!/bin/bash
# Runs a built ipsetter.exe under Wine in a private prefix and a virtual X server, and saves a
# screenshot of the screen once the window shows.
#   usage: screenshot.sh EXE OUT.png [DPI] [EXTRA_ARGS...]
# The prefix lives beside the exe (wine-<dpi>); it is made on first use.
set -euo pipefail

exe=$(realpath "$1"); out=$(realpath -m "$2"); dpi=${3:-96}; shift $(( $# < 3 ? $# : 3 ))
work=$(dirname "$exe")/wine-$dpi
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
export WINESERVER=/usr/lib/wine/wineserver WINELOADER=/usr/lib/wine/wine64
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d;winemenubuilder.exe=d"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_CACHE_HOME=$work/home/.cache XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
wine=/usr/lib/wine/wine64

xvfb_pid=""
cleanup() {
  "$WINESERVER" -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  (unset DISPLAY; timeout 120 "$wine" wineboot -i >/dev/null 2>&1)
  timeout 60 "$WINESERVER" -w
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n' \
    "$dpi" > "$work/settings.reg"
  (unset DISPLAY; timeout 60 "$wine" regedit /S "$(winepath=; echo "$work/settings.reg")" >/dev/null 2>&1)
  timeout 60 "$WINESERVER" -w
fi

exec 3< <(true)
display_file=$work/display
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n1 "$display_file")

timeout 60 "$wine" "$exe" "$@" >"$work/stdout.txt" 2>"$work/stderr.txt" &
for _ in $(seq 150); do
  if xwininfo -root -tree 2>/dev/null | grep -q '"Ipsetter'; then break; fi
  sleep 0.1
done
sleep "${SETTLE:-1.5}"
import -window root "$out"
xwininfo -root -tree | grep '"Ipsetter' || echo "no Ipsetter window" >&2
