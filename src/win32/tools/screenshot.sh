#!/bin/bash
# Runs a built ipsetter.exe under Wine and a virtual X server and saves a picture of the window
# once it shows.   usage: screenshot.sh EXE OUT.png [DPI]
# The prefix (wine-DPI) lives beside the exe and is made on first use.
set -euo pipefail
exe=$(realpath "$1"); out=$(realpath -m "$2"); dpi=${3:-96}
source "$(dirname "$0")/wine-common.sh"
work=$(dirname "$exe")/wine-$dpi
wine_setup "$work" "$dpi"
xvfb_start

timeout 60 "$wine" "$exe" >"$work/stdout.txt" 2>"$work/stderr.txt" &
geometry=""
for _ in $(seq 150); do
  geometry=$(xwininfo -root -tree 2>/dev/null | grep '"Ipsetter' || true)
  [ -n "$geometry" ] && break
  sleep 0.1
done
[ -n "$geometry" ] || { echo "no Ipsetter window" >&2; exit 1; }
sleep "${SETTLE:-1.5}"
echo "$geometry"
# The window with a 20 pixel margin.
read -r w h x y < <(echo "$geometry" | sed -E 's/.* ([0-9]+)x([0-9]+)\+(-?[0-9]+)\+(-?[0-9]+) .*/\1 \2 \3 \4/')
import -window root -crop "$((w + 40))x$((h + 40))+$((x - 20))+$((y - 20))" +repage "$out"
