#!/bin/bash
# Runs a built ipsetter.exe (or ipsetter-sim.exe with its scenario) under Wine and a virtual X
# server and saves a picture of the window once it shows.
#   usage: screenshot.sh EXE OUT.png [DPI [ARGUMENT...]]
# The prefix (wine-DPI) lives beside the exe and is made on first use.
set -euo pipefail
exe=$(realpath "$1"); out=$(realpath -m "$2"); dpi=${3:-96}
shift $(($# < 3 ? $# : 3))
source "$(dirname "$0")/wine-common.sh"
work=$(dirname "$exe")/wine-$dpi
wine_setup "$work" "$dpi"
xvfb_start

timeout 60 "$wine" "$exe" "$@" >"$work/stdout.txt" 2>"$work/stderr.txt" &
# Mapped only once the load has placed and filled it.
id=""
for _ in $(seq 150); do
  id=$(xdotool search --onlyvisible --name '^Ipsetter' 2>/dev/null | head -n1 || true)
  [ -n "$id" ] && break
  sleep 0.1
done
[ -n "$id" ] || { echo "no Ipsetter window" >&2; exit 1; }
sleep "${SETTLE:-1.5}"
eval "$(xdotool getwindowgeometry --shell "$id")"
echo "window ${WIDTH}x${HEIGHT} at ${X},${Y}"
# The window with a 20 pixel margin.
import -window root -crop "$((WIDTH + 40))x$((HEIGHT + 40))+$((X - 20))+$((Y - 20))" +repage "$out"
