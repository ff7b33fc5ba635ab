#!/bin/bash
# Runs the in-process window checks under Wine and a virtual X server, at 96 and 144 DPI.
#   usage: check.sh BUILD_DIR     (a MinGW build with the target ipsetter_win32_check built)
set -uo pipefail
check=$(realpath "$1")/src/win32/ipsetter_win32_check.exe
[ -f "$check" ] || { echo "missing $check" >&2; exit 2; }
source "$(dirname "$0")/wine-common.sh"
status=0
for dpi in 96 144; do
  wine_setup "$(dirname "$check")/wine-$dpi" "$dpi"
  xvfb_start
  echo "## $dpi DPI"
  timeout 120 "$wine" "$check" >"$WINEPREFIX/../check.txt" 2>/dev/null
  [ $? -eq 0 ] || status=1
  cat "$WINEPREFIX/../check.txt"
  "$WINESERVER" -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; xvfb_pid=""
done
exit $status
