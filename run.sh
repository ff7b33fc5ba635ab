#!/bin/bash
# Builds ipsetter.exe and runs it under Wine.
# With a display ($DISPLAY set) its window opens there; the script ends when it is closed.
# Without one, the script starts a virtual X server, runs the program, prints what its window
# shows, saves a screenshot to build/run/ipsetter.png and closes the window again.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cd "$ROOT"
OUT=$ROOT/build/run
mkdir -p "$OUT"

bash .ci/install-packages.sh || exit 1
echo "run.sh: building ipsetter.exe (log: build/run/build.log)"
{ cmake --preset mingw && cmake --build --preset mingw -j2 --target ipsetter ipsetter-peek; } >"$OUT/build.log" 2>&1 ||
  { tail -n 40 "$OUT/build.log"; echo "run.sh: build failed"; exit 1; }
EXE=$ROOT/build/mingw/src/win32/ipsetter.exe
PEEK=$ROOT/build/mingw/tools/peek/ipsetter-peek.exe

# shellcheck source=scripts/wine-env.sh
source "$ROOT/scripts/wine-env.sh"
wine_env "$OUT"
trap wine_cleanup EXIT
echo "run.sh: preparing a private Wine prefix in build/run/wine"
wine_prefix_init || exit 1

if [ -n "${DISPLAY:-}" ]; then
  echo "run.sh: ipsetter.exe is running on display $DISPLAY; close its window to end"
  wine_run 86400 "$EXE"
  exit 0
fi

echo "run.sh: no display: starting a virtual X server (Xvfb, 1024x768)"
xvfb_start || exit 1
wine_run 120 "$EXE" &
app=$!
echo "run.sh: ipsetter.exe started; what its window shows (read from the window itself):"
wine_run 60 "$PEEK" || { echo "run.sh: the window did not appear"; exit 1; }
import -window root "$OUT/ipsetter.png" && echo "run.sh: screenshot of the screen saved to build/run/ipsetter.png"
wine_run 30 "$PEEK" --close >/dev/null
if wait "$app"; then
  echo "run.sh: window closed, ipsetter.exe ended normally"
else
  echo "run.sh: ipsetter.exe ended with code $?"
fi
