#!/bin/bash
# Line and function coverage of src/core, src/win32 and src/sim, in two views: all lanes, and the
# real ipsetter.exe alone (the e2e real lane and the rig). As root, after `bash .ci/install-packages.sh`:
#   bash scripts/coverage.sh
# Builds build/coverage-native and build/coverage-mingw with gcov counters (IPSETTER_COVERAGE=ON,
# -O0), runs the unit tests and, one at a time, every Windows lane that runs the program's code:
# window checks, wmi, e2e (sim, timeout, real), netrig (main, timeout). Each Wine lane writes its
# counts under build/coverage/gcda/LANE (GCOV_PREFIX): the programs share objects, and gcov counts
# per object, so only the folder tells whose counts they are. A program writes its counts when it
# exits; one that is killed writes none.
# Report: build/coverage/index.html (all lanes). Ends with the lines "coverage: ..."; exits 1 when a
# lane failed (named in "coverage lane NAME: FAILED") or no figures came out.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
NATIVE=$ROOT/build/coverage-native
MINGW=$ROOT/build/coverage-mingw
OUT=$ROOT/build/coverage
GCDA=$OUT/gcda
LOGS=$OUT/logs
# shellcheck source=scripts/wine-env.sh
source "$ROOT/scripts/wine-env.sh"

not_measured() {
  echo "coverage: not measured ($*)"
  exit 1
}

[ "$(id -u)" = 0 ] || not_measured "needs root for the network namespaces"
command -v gcovr >/dev/null || not_measured "gcovr is not installed"
rm -rf "$GCDA" "$LOGS" "$OUT"/*.json "$OUT"/*.html "$OUT"/*.css
mkdir -p "$GCDA" "$LOGS"
start=$(date +%s)

# ---------------------------------------------------------------- builds

cmake --preset native -B "$NATIVE" -DIPSETTER_COVERAGE=ON >"$LOGS/build-native.log" 2>&1 &&
  cmake --build "$NATIVE" -j2 >>"$LOGS/build-native.log" 2>&1 ||
  { tail -n 30 "$LOGS/build-native.log"; not_measured "native build failed"; }
cmake --preset mingw -B "$MINGW" -DIPSETTER_COVERAGE=ON >"$LOGS/build-mingw.log" 2>&1 &&
  cmake --build "$MINGW" -j2 >>"$LOGS/build-mingw.log" 2>&1 ||
  { tail -n 30 "$LOGS/build-mingw.log"; not_measured "MinGW build failed"; }
echo "coverage: built in $(($(date +%s) - start)) s"

# ---------------------------------------------------------------- lanes

failed_lanes=()
# lane NAME SECONDS COMMAND...: one lane with its counts in $GCDA/NAME (the e2e and rig scripts
# name their own lanes' folders through coverage_lane).
lane() {
  local name=$1 secs=$2 t0 rc prefix=()
  shift 2
  t0=$(date +%s)
  [ -n "${COVERAGE_GCDA:-}" ] && prefix=(env "GCOV_PREFIX=$(wine_path "$GCDA/$name")")
  timeout -k 10 "$secs" "${prefix[@]}" "$@" </dev/null >"$LOGS/$name.log" 2>&1
  rc=$?
  if [ $rc = 0 ]; then
    echo "coverage lane $name: ok ($(($(date +%s) - t0)) s)"
  else
    echo "coverage lane $name: FAILED (rc $rc, $LOGS/$name.log)"
    failed_lanes+=("$name")
  fi
}

find "$NATIVE" -name '*.gcda' -delete
lane unit 600 ctest --test-dir "$NATIVE" -j2
export COVERAGE_GCDA=$GCDA
# The prefix replaces the build folder's own path: each lane's folder mirrors the build folder.
GCOV_PREFIX_STRIP=$(tr -cd / <<<"$MINGW" | wc -c)
export GCOV_PREFIX_STRIP
lane window 400 bash src/win32/tools/check.sh "$MINGW"
WMI_CHECK_DIR=$MINGW/wmi-check lane wmi 300 bash tests/wmi/run.sh "$MINGW/tests/wmi/wmi_check.exe"
E2E_BUILD=$MINGW lane e2e 1200 bash scripts/e2e.sh
lane netrig 900 bash tests/netrig/run.sh "$MINGW"
unset COVERAGE_GCDA GCOV_PREFIX_STRIP
echo "coverage: lanes ran in $(($(date +%s) - start)) s"

# ---------------------------------------------------------------- figures

gcovr_common=(--root "$ROOT" --filter 'src/(core|win32|sim)/' --exclude 'src/win32/tests/' -j 2)
gcovr --json -o "$OUT/unit.json" "${gcovr_common[@]}" --gcov-executable gcov "$NATIVE" \
  >"$LOGS/gcovr-unit.log" 2>&1 || not_measured "gcovr failed on the unit tests"
# gcov wants each .gcda beside its .gcno. Counts of the test programs' own objects are dropped.
all=("$OUT/unit.json") real=()
for dir in "$GCDA"/*/; do
  name=$(basename "$dir")
  find "$dir" -name '*.gcda' -not -path '*/src/*' -delete
  [ -n "$(find "$dir" -name '*.gcda' -print -quit)" ] || { echo "coverage: lane $name left no counts"; continue; }
  (cd "$dir" && find . -name '*.gcda') | while read -r f; do cp "$MINGW/${f%.gcda}.gcno" "$dir/${f%.gcda}.gcno"; done
  gcovr --json -o "$OUT/$name.json" "${gcovr_common[@]}" --gcov-executable x86_64-w64-mingw32-gcov "$dir" \
    >"$LOGS/gcovr-$name.log" 2>&1 || not_measured "gcovr failed on lane $name"
  all+=("$OUT/$name.json")
  case $name in e2e-real | netrig-*) real+=("$OUT/$name.json") ;; esac
done
[ ${#real[@]} -gt 0 ] || not_measured "no counts from the real ipsetter.exe"

merge() {  # merge NAME TRACEFILES...: NAME-summary.json
  local name=$1 args=() f
  shift
  for f in "$@"; do args+=(--add-tracefile "$f"); done
  gcovr "${args[@]}" --root "$ROOT" --json-summary -o "$OUT/$name-summary.json" >>"$LOGS/gcovr-merge.log" 2>&1
}
merge all "${all[@]}" || not_measured "gcovr could not merge all lanes"
merge real "${real[@]}" || not_measured "gcovr could not merge the real exe's lanes"
args=()
for f in "${all[@]}"; do args+=(--add-tracefile "$f"); done
gcovr "${args[@]}" --root "$ROOT" --html-details -o "$OUT/index.html" >>"$LOGS/gcovr-merge.log" 2>&1 ||
  echo "coverage: no HTML report (see $LOGS/gcovr-merge.log)"

python3 - "$OUT/all-summary.json" "$OUT/real-summary.json" <<'EOF'
import json, sys
views = [{f["filename"]: f for f in json.load(open(path))["files"]} for path in sys.argv[1:]]
def fig(f, kind):
    if f is None:
        return "-"
    covered, total = f[kind + "_covered"], f[kind + "_total"]
    return f"{covered}/{total} {100.0 * covered / total:5.1f} %" if total else f"{covered}/{total}"
print(f"{'file':34} {'lines, all lanes':>18} {'lines, real exe':>18} {'functions, all':>16} {'functions, real':>16}")
for name in sorted(views[0]):
    a, r = views[0][name], views[1].get(name)
    print(f"{name:34} {fig(a, 'line'):>18} {fig(r, 'line'):>18} {fig(a, 'function'):>16} {fig(r, 'function'):>16}")
def total(view, folder, kind):
    return [sum(f[f"{kind}_{k}"] for n, f in view.items() if n.startswith(folder)) for k in ("covered", "total")]
def pct(c, t):
    return f"{100.0 * c / t:.1f} %" if t else "-"
for folder in ("src/core/", "src/win32/", "src/sim/"):
    (la, lt), (ra, rt) = total(views[0], folder, "line"), total(views[1], folder, "line")
    (fa, ft), (ga, gt) = total(views[0], folder, "function"), total(views[1], folder, "function")
    print(f"coverage: {folder[:-1]} {pct(la, lt)} lines (all lanes), {pct(ra, rt)} (real exe); "
          f"functions {pct(fa, ft)}, {pct(ga, gt)}; lines {la}/{lt}, {ra}/{rt}")
EOF
echo "coverage: $(($(date +%s) - start)) s in all; report in $OUT/index.html"
[ ${#failed_lanes[@]} = 0 ]
