#!/bin/bash
# Runs the in-process window checks under Wine and a virtual X server, at 96 and 144 DPI.
#   usage: check.sh BUILD_DIR     (a MinGW build with the target ipsetter_win32_check built)
# Ends with the sum of both runs: "N passed, N failed".
set -uo pipefail
check=$(realpath "$1")/src/win32/ipsetter_win32_check.exe
[ -f "$check" ] || { echo "missing $check" >&2; exit 2; }
source "$(dirname "$0")/wine-common.sh"
status=0 passed=0 failed=0
for dpi in 96 144; do
  wine_setup "$(dirname "$check")/wine-$dpi" "$dpi"
  xvfb_start
  echo "## $dpi DPI"
  timeout 120 "$wine" "$check" >"$WINEPREFIX/../check.txt" 2>/dev/null
  [ $? -eq 0 ] || status=1
  cat "$WINEPREFIX/../check.txt"
  summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$WINEPREFIX/../check.txt" | tail -n 1)
  [ -n "$summary" ] || { summary="0 passed, 1 failed"; echo "no summary at $dpi DPI"; }
  read -r p _ f _ <<<"$summary"
  passed=$((passed + p)) failed=$((failed + f))
  "$WINESERVER" -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; xvfb_pid=""
done
echo "$passed passed, $failed failed"
exit $status
