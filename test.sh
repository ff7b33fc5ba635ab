#!/bin/bash
# Installs what is missing, builds everything and runs every test:
#   unit tests (native, then again under AddressSanitizer and UndefinedBehaviorSanitizer),
#   the Windows cross build, the release (reproducible, signed, the MSI under Wine's installer),
#   the end-to-end tests under Wine and Xvfb, the real-network rig; then the lanes that run the
#   program's code again on a gcov build, for the coverage figures (scripts/coverage.sh).
# Ends with the runners' own summary lines.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cd "$ROOT"
LOGS=$ROOT/build/logs
mkdir -p "$LOGS"

fail() {
  echo "test.sh: $*" >&2
  exit 1
}

bash .ci/install-packages.sh || fail "could not install the packages"

unit() {
  local preset=$1
  cmake --preset "$preset" >"$LOGS/configure-$preset.log" 2>&1 || { cat "$LOGS/configure-$preset.log"; fail "configure $preset"; }
  cmake --build --preset "$preset" -j2 2>&1 | tail -n 40 >"$LOGS/build-$preset.log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || { cat "$LOGS/build-$preset.log"; fail "build $preset"; }
  ctest --preset "$preset" -j2 >"$LOGS/ctest-$preset.log" 2>&1
  local rc=$?
  grep -E "tests passed|tests failed|Total Test time" "$LOGS/ctest-$preset.log" | sed "s/^/[$preset] /"
  if [ $rc -ne 0 ]; then
    grep -E "\(Failed\)|\(Timeout\)|\*\*\*" "$LOGS/ctest-$preset.log" | head -n 40
    fail "unit tests failed ($preset)"
  fi
}

unit native
unit native-sanitize

cmake --preset mingw >"$LOGS/configure-mingw.log" 2>&1 || { cat "$LOGS/configure-mingw.log"; fail "configure mingw"; }
cmake --build --preset mingw -j2 >"$LOGS/build-mingw.log" 2>&1 || { tail -n 60 "$LOGS/build-mingw.log"; fail "build mingw"; }
echo "[mingw] built: $(cd build/mingw && find . -name '*.exe' -printf '%p ' )"

ctest --test-dir build/mingw >"$LOGS/ctest-mingw.log" 2>&1
mingw_rc=$?
grep -E "tests passed|tests failed" "$LOGS/ctest-mingw.log" | sed "s/^/[mingw] /"

timeout -k 10 400 bash src/win32/tools/check.sh "$ROOT/build/mingw" >"$LOGS/window.log" 2>&1
window_rc=$?
grep -E "^##|FAIL|passed, " "$LOGS/window.log"
window_summary=$(awk '/^[0-9]+ passed, [0-9]+ failed/ {p += $1; f += $3; n++} END {if (n == 2) printf "%d passed, %d failed", p, f; else printf "0 passed, 1 failed"}' "$LOGS/window.log")

timeout -k 10 300 bash tests/program_file/run.sh "$ROOT/build/mingw" >"$LOGS/program-file.log" 2>&1
pf_rc=$?
cat "$LOGS/program-file.log"

timeout -k 10 600 bash tests/release/run.sh "$ROOT/build/mingw" >"$LOGS/release.log" 2>&1
release_rc=$?
grep -E "FAIL|passed, " "$LOGS/release.log"

timeout -k 10 300 bash tests/wmi/run.sh "$ROOT/build/mingw/tests/wmi/wmi_check.exe" >"$LOGS/wmi.log" 2>&1
wmi_rc=$?
grep -E "FAIL|passed, " "$LOGS/wmi.log"

E2E_BUILD=$ROOT/build/mingw timeout -k 10 1200 bash scripts/e2e.sh 2>&1 | tee "$LOGS/e2e.log"
e2e_rc=${PIPESTATUS[0]}

timeout -k 10 900 bash tests/netrig/run.sh "$ROOT/build/mingw" >"$LOGS/netrig.log" 2>&1
netrig_rc=$?
grep -E "^(==|FAIL)|passed, " "$LOGS/netrig.log"

# Coverage: the lanes again on a gcov build of their own, for the figures. The tests are the lanes
# above, on the release build; a lane that fails only on the slower -O0 build is said, not failed.
timeout -k 10 2400 bash scripts/coverage.sh >"$LOGS/coverage.log" 2>&1
grep -E "^coverage lane|^coverage: (lane|built|lanes)" "$LOGS/coverage.log"
declare -A lane_rc=([unit]=0 [window]=$window_rc [wmi]=$wmi_rc [e2e]=$e2e_rc [netrig]=$netrig_rc)
coverage_only=""
for lane in $(sed -n 's/^coverage lane \([a-z0-9-]*\): FAILED.*/\1/p' "$LOGS/coverage.log"); do
  [ "${lane_rc[$lane]:-0}" -eq 0 ] && coverage_only+=" $lane"
done

echo
echo "== Summary =="
for preset in native native-sanitize; do
  grep -E "tests passed|tests failed" "$LOGS/ctest-$preset.log" | tail -n 1
done
grep -E "tests passed|tests failed" "$LOGS/ctest-mingw.log" | tail -n 1
echo "window: $window_summary"
echo "program-file: $(tail -n 1 "$LOGS/program-file.log")"
echo "release: $(grep -E '^[0-9]+ passed, ' "$LOGS/release.log" | tail -n 1)"
echo "wmi: $(grep -E 'passed, ' "$LOGS/wmi.log" | tail -n 1)"
grep -E "^netrig: [0-9]+ passed" "$LOGS/netrig.log" | tail -n 1 || echo "netrig: 0 passed, 1 failed"
if grep -qE "^coverage: src/(core|win32) " "$LOGS/coverage.log"; then
  grep -E "^coverage: src/(core|win32) " "$LOGS/coverage.log" | sed 's/; lines [0-9].*//'
else
  grep -E "^coverage: not measured" "$LOGS/coverage.log" ||
    echo "coverage: not measured (scripts/coverage.sh gave no figures; see $LOGS/coverage.log)"
fi
[ -z "$coverage_only" ] || echo "coverage: on the gcov build only, these lanes failed:$coverage_only (see $LOGS/coverage.log)"
tail -n 1 "$LOGS/e2e.log"
[ "$mingw_rc" -eq 0 ] || exit "$mingw_rc"
[ "$window_rc" -eq 0 ] || exit "$window_rc"
[ "$pf_rc" -eq 0 ] || exit "$pf_rc"
[ "$release_rc" -eq 0 ] || exit "$release_rc"
[ "$wmi_rc" -eq 0 ] || exit "$wmi_rc"
[ "$netrig_rc" -eq 0 ] || exit "$netrig_rc"
exit "$e2e_rc"
