#!/bin/bash
# Installs what is missing, builds everything and runs every test: the unit tests (native, then
# again under AddressSanitizer and UndefinedBehaviorSanitizer), then the lanes of the Windows builds,
# each a CTest test with its label (tests/lanes.cmake): the window checks, the program file, the
# release, WMI, the end-to-end tests under Wine and Xvfb, the real-network rig, and last the
# coverage figures from a gcov build of their own (scripts/coverage.sh); then those of the 32-bit
# build (label x86), where its preset exists. Lane logs: build/logs.
# Ends with ctest's summary lines and the lanes' own, the end-to-end total last.
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

build() {
  cmake --preset "$1" >"$LOGS/configure-$1.log" 2>&1 || { cat "$LOGS/configure-$1.log"; fail "configure $1"; }
  cmake --build --preset "$1" -j2 >"$LOGS/build-$1.log" 2>&1 || { tail -n 60 "$LOGS/build-$1.log"; fail "build $1"; }
}

for preset in native native-sanitize; do
  build "$preset"
  ctest --preset "$preset" -j2 >"$LOGS/ctest-$preset.log" 2>&1
  rc=$?
  grep -E "tests passed|tests failed|Total Test time" "$LOGS/ctest-$preset.log" | sed "s/^/[$preset] /"
  [ $rc -eq 0 ] || { grep -E "\(Failed\)|\(Timeout\)|\*\*\*" "$LOGS/ctest-$preset.log" | head -n 40; fail "unit tests failed ($preset)"; }
done

trees=(mingw)
cmake --list-presets 2>/dev/null | grep -q '"mingw-x86"' && trees+=(mingw-x86)
for preset in "${trees[@]}"; do
  build "$preset"
  echo "[$preset] built: $(cd "build/$preset" && find . -name '*.exe' -printf '%p ')"
done

# The lanes of each tree, two at a time where their locks allow (tests/lanes.cmake); a failure of
# the coverage lane alone fails nothing (said below).
status=0 failed_tests=""
for preset in "${trees[@]}"; do
  ctest --test-dir "build/$preset" -j2 2>&1 | tee "$LOGS/ctest-$preset.log"
  rc=${PIPESTATUS[0]}
  failed=$(awk '/^The following tests FAILED:/ {f = 1; next} f && /^\t/ {print $3; next} {f = 0}' "$LOGS/ctest-$preset.log")
  failed_tests+=" $failed"
  if [ $rc -ne 0 ] && [ "$(echo $failed)" != coverage ]; then status=1; fi
done

# A lane's last "N passed, N failed", or why it has none.
lane() {
  local log=$LOGS/$2.log summary skipped
  summary=$(grep -oE '[0-9]+ passed, [0-9]+ failed$' "$log" 2>/dev/null | tail -n 1)
  skipped=$(grep -m1 '^skipped: ' "$log" 2>/dev/null)
  if [ -n "$summary" ]; then
    echo "$1: $summary${skipped:+ ($skipped)}"
  elif [ -n "$skipped" ]; then
    echo "$1: $skipped"
  else
    echo "$1: 0 passed, 1 failed (no summary, see $log)"
  fi
}

echo
echo "== Summary =="
for preset in native native-sanitize "${trees[@]}"; do
  grep -E "tests passed|tests failed" "$LOGS/ctest-$preset.log" | tail -n 1 | sed "s/^/[$preset] /"
done
for name in window program-file release wmi netrig; do lane "$name" "$name"; done
if grep -qE "^coverage: src/(core|win32) " "$LOGS/coverage.log"; then
  grep -E "^coverage: src/(core|win32) " "$LOGS/coverage.log" | sed 's/; lines [0-9].*//'
else
  grep -m1 -E "^(coverage: not measured|skipped: )" "$LOGS/coverage.log" ||
    echo "coverage: not measured (scripts/coverage.sh gave no figures; see $LOGS/coverage.log)"
fi
coverage_only=""
for name in $(sed -n 's/^coverage lane \([a-z0-9-]*\): FAILED.*/\1/p' "$LOGS/coverage.log"); do
  [[ " $failed_tests " =~ \ $name(-[a-z]+)?\  ]] || coverage_only+=" $name"
done
[ -z "$coverage_only" ] || echo "coverage: on the gcov build only, these lanes failed:$coverage_only (see $LOGS/coverage.log)"
if [[ " ${trees[*]} " == *" mingw-x86 "* ]]; then
  for name in window program-file e2e-wow64 e2e-win32; do lane "x86 $name" "x86-$name"; done
fi
passed=0 failed=0
for name in sim timeout real; do
  line=$(lane "e2e $name" "e2e-$name")
  echo "$line"
  if [[ $line =~ :\ ([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
    passed=$((passed + BASH_REMATCH[1])) failed=$((failed + BASH_REMATCH[2]))
  fi
done
echo "$passed passed, $failed failed"
exit $status
