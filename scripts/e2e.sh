#!/bin/bash
# End-to-end tests under Wine and Xvfb. No stdin needed; the real lane needs root (it builds a
# network namespace):
#   timeout 600 scripts/e2e.sh            build, then every lane; ends with "N passed, N failed"
#   scripts/e2e.sh --no-build --lanes sim,real    these lanes of a build made before
#   E2E_FRESH=1 scripts/e2e.sh            recreate the Wine prefixes first
#   scripts/e2e.sh plumbing               only the plumbing check with the stand-in window
#   E2E_ONLY=startup scripts/e2e.sh --lanes sim   sim scenarios named *startup*
# Lanes, each with its own Wine prefix, wineserver and Xvfb (single instance is per wineserver):
#   sim      ipsetter-sim.exe scenarios, with xdotool keystrokes and screenshots
#   timeout  the 105 s time-out scenario, in parallel with the others
#   real     ipsetter.exe against Wine's WMI, inside a network namespace built here
# The Wine they run in:
#   --wine-arch win32         a 32-bit prefix (by default a 64-bit one, which runs a 32-bit build
#                             through WOW64); its lanes live apart, in <build>/e2e-run-win32
#   --windows-version win7    the Windows version Wine reports
#   --osk EXE                 the stand-in keyboard put into System32 (the build's tests/e2e/osk.exe;
#                             a 32-bit build in a 64-bit prefix needs the 64-bit one, as on Windows)
# Build dir: build/e2e-mingw (E2E_BUILD overrides); screenshots in <run>/LANE/screenshots.
set -u

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${E2E_BUILD:-$ROOT/build/e2e-mingw}
# shellcheck source=scripts/wine-env.sh
source "$ROOT/scripts/wine-env.sh"

usage() {
  sed -n '2,19p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
  exit 2
}
# The options reach the lanes' own processes through the environment.
lanes=sim,timeout,real build=1 inner=
while [ $# -gt 0 ]; do
  case $1 in
    --lane) inner=${2:?}; shift 2 ;;
    --lanes) lanes=${2:?}; shift 2 ;;
    --no-build) build=; shift ;;
    --wine-arch) export E2E_WINEARCH=${2:?}; shift 2 ;;
    --windows-version) export E2E_WINDOWS=${2:?}; shift 2 ;;
    --osk) E2E_OSK=$(realpath "${2:?}") && export E2E_OSK; shift 2 ;;
    plumbing) lanes=plumbing; shift ;;
    *) usage ;;
  esac
done
RUN=$BUILD/e2e-run
[ "${E2E_WINEARCH:-win64}" = win64 ] || RUN+=-$E2E_WINEARCH

# Values of the namespace the real lane runs in; the driver expects what Wine must report.
NS_IP0=10.77.1.2 NS_IP1=10.77.2.2 NS_MASK=255.255.255.0 NS_GW=10.77.2.1
NS_DNS1=10.77.1.53 NS_DNS2=10.77.1.54

# ---------------------------------------------------------------- one lane (runs in its own process)

# What the driver asks of the script (see serve_driver_requests).
lane_request() {
  case $1 in
    xdo) xdotool $2 ;;
    shot) import -window root "$RUN/$LANE/screenshots/$2.png" ;;
    route-add) ip route add default via "$NS_GW" dev veth1 ;;
    *) echo "script: unknown request $1" ;;
  esac
}

run_lane() {
  local lane=$1 dir=$RUN/$1
  LANE=$lane
  rm -rf "$dir/screenshots"
  mkdir -p "$dir/work" "$dir/sync" "$dir/screenshots"
  rm -f "$dir/sync"/done-* "$dir/work"/*.rec
  wine_arch "${E2E_WINEARCH:-win64}"
  wine_env "$dir"
  coverage_lane "e2e-$lane"
  trap 'wine_cleanup' EXIT
  trap 'exit 1' INT TERM
  wine_server_kill
  wine_prefix_init "${E2E_WINDOWS:-}" || { echo "0 passed, 1 failed"; return 1; }
  xvfb_start || { echo "0 passed, 1 failed"; return 1; }

  local driver exe args=()
  driver=$(wine_path "$BUILD/tests/e2e/e2e-driver.exe")
  case $lane in
    plumbing) exe=$(wine_path "$BUILD/tests/e2e/e2e-plumbing-window.exe") ;;
    sim | timeout)
      exe=$(wine_path "$BUILD/src/simexe/ipsetter-sim.exe")
      [ -n "${E2E_ONLY:-}" ] && args=("$E2E_ONLY")
      ;;
    real)
      # The keyboard must come from System32, the only place Windows has one (none in SysWOW64);
      # a planted one beside the program must not run.
      mkdir -p "$dir/app"
      cp "$BUILD/src/win32/ipsetter.exe" "$BUILD/tests/e2e/osk.exe" "$dir/app/"
      cp "${E2E_OSK:-$BUILD/tests/e2e/osk.exe}" "$WINEPREFIX/drive_c/windows/system32/osk.exe" || return 1
      rm -f "$WINEPREFIX/drive_c/windows/syswow64/osk.exe"
      exe=$(wine_path "$dir/app/ipsetter.exe")
      # Wine lists veth1 before veth0: the address and mask shown are veth0's (the last), the
      # gateway veth1's, as the reading gathers values over all adapters.
      args=("$NS_IP0" "$NS_MASK" "$NS_DNS1" "$NS_DNS2" "$NS_GW")
      ;;
  esac
  local limit=300
  [ "$lane" = timeout ] && limit=260
  run_driver "$limit" lane_request "$dir/sync" "$dir/driver.stderr" \
    "$driver" "$lane" "$exe" "$(wine_path "$dir/work")" "$(wine_path "$dir/sync")" "${args[@]}"
}

if [ -n "$inner" ]; then
  run_lane "$inner"
  exit $?
fi

# ---------------------------------------------------------------- orchestration

has_lane() { [[ ,$lanes, == *,$1,* ]]; }
if has_lane real && [ "$(id -u)" != 0 ]; then
  echo "scripts/e2e.sh: the real lane must run as root (it builds a network namespace)" >&2
  exit 2
fi

build() {
  cmake --preset mingw -B "$BUILD" >"$RUN.build.log" 2>&1 &&
    cmake --build "$BUILD" -j2 >>"$RUN.build.log" 2>&1
}

mkdir -p "$RUN"
if [ -n "$build" ] && ! build; then
  tail -30 "$RUN.build.log"
  echo "build failed"
  echo "0 passed, 1 failed"
  exit 1
fi
if [ -n "${E2E_FRESH:-}" ]; then
  for p in "$RUN"/*/wine; do [ -d "$p" ] && wine_server_kill "$p"; done
  rm -rf "$RUN"/sim "$RUN"/timeout "$RUN"/real "$RUN"/plumbing
fi

NS=ipsetter-e2e-$$
TIMEOUT_PID=
SCRIPT_PASSED=0 SCRIPT_FAILED=0

cleanup() {
  [ -n "$TIMEOUT_PID" ] && kill "$TIMEOUT_PID" 2>/dev/null && wait "$TIMEOUT_PID" 2>/dev/null
  netns_delete "$NS"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

check() {
  if [ "$1" = 0 ]; then
    SCRIPT_PASSED=$((SCRIPT_PASSED + 1))
    echo "PASS $2"
  else
    SCRIPT_FAILED=$((SCRIPT_FAILED + 1))
    echo "FAIL $2"
  fi
}

lane_log() { printf '%s/%s.log' "$RUN" "$1"; }
one_lane() { "$0" --lane "$1" 2>&1 | tee "$(lane_log "$1")"; }

real_lane() {
  echo "== lane real (network namespace $NS)"
  ip netns add "$NS"
  ip -n "$NS" link add veth0 type veth peer name veth1
  ip -n "$NS" addr add "$NS_IP0/24" dev veth0
  ip -n "$NS" addr add fd00:77::2/64 dev veth0 nodad
  ip -n "$NS" addr add "$NS_IP1/16" dev veth1
  ip -n "$NS" addr add fd00:78::2/64 dev veth1 nodad
  for l in lo veth0 veth1; do ip -n "$NS" link set "$l" up; done
  mkdir -p "/etc/netns/$NS"
  # Nobody answers at these DNS addresses: the host name must resolve locally and lookups must
  # give up fast, or Wine's first WMI query waits on DNS for half a minute.
  printf 'nameserver %s\nnameserver %s\noptions timeout:1 attempts:1\n' "$NS_DNS1" "$NS_DNS2" \
    >"/etc/netns/$NS/resolv.conf"
  printf '127.0.0.1 localhost\n127.0.1.1 %s\n' "$(hostname)" >"/etc/netns/$NS/hosts"
  # Global addresses only: the kernel adds link-local ones by itself once the links are up.
  addresses() { ip -n "$NS" -o addr show scope global | awk '{print $2, $3, $4}'; }
  before=$(addresses)
  # Wine's device process lives in the namespace of the prefix's first program: all of the
  # lane, wineboot included, runs inside it.
  ip netns exec "$NS" "$0" --lane real 2>&1 | tee "$(lane_log real)"
  after=$(addresses)
  [ "$before" = "$after" ] && [ "$(echo "$before" | wc -l)" = 4 ]
  check $? "real: adapters unchanged after the Apply (ip addr in the namespace before and after)"
  [ "$before" = "$after" ] || printf 'before:\n%s\nafter:\n%s\n' "$before" "$after"
  [ "$(ip -n "$NS" route show default)" != "" ]
  check $? "real: the default route the Refresh saw is in place"
}

start=$(date +%s)
# The time-out scenario mostly waits: it runs beside the other lanes.
if has_lane timeout && [ "$lanes" != timeout ]; then
  "$0" --lane timeout >"$(lane_log timeout)" 2>&1 &
  TIMEOUT_PID=$!
fi
for lane in ${lanes//,/ }; do
  case $lane in
    real) real_lane ;;
    timeout) [ -n "$TIMEOUT_PID" ] || { echo "== lane timeout"; one_lane timeout; } ;;
    sim | plumbing) echo "== lane $lane"; one_lane "$lane" ;;
    *) usage ;;
  esac
done
if [ -n "$TIMEOUT_PID" ]; then
  wait "$TIMEOUT_PID"
  TIMEOUT_PID=
  echo "== lane timeout"
  cat "$(lane_log timeout)"
fi

echo "== summary ($(($(date +%s) - start)) s; screenshots in $RUN/LANE/screenshots)"
passed=$SCRIPT_PASSED failed=$SCRIPT_FAILED
has_lane real && echo "script: $SCRIPT_PASSED passed, $SCRIPT_FAILED failed"
for lane in ${lanes//,/ }; do
  summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$(lane_log "$lane")" | tail -1)
  if [ -z "$summary" ]; then
    summary="0 passed, 1 failed"
    echo "$lane: no summary from the driver (see $RUN/$lane/driver.stderr)"
  fi
  echo "$lane: $summary"
  p=${summary%% passed*}
  f=${summary#*, }
  f=${f%% failed}
  passed=$((passed + p))
  failed=$((failed + f))
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
