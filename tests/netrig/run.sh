#!/bin/bash
# The real-network rig: the unchanged ipsetter.exe under Wine changes real Linux interfaces.
# Wine loads the stand-in management service (tests/netrig/provider) for CLSID_WbemLocator; it
# asks tests/netrig/agent.py, which reads and changes the interfaces of a client namespace whose
# veth peers sit in a server namespace with a real DHCP server (dnsmasq).
#   bash tests/netrig/run.sh BUILD_DIR     both lanes (main, and the time-out in parallel);
#                                          ends with "netrig: N passed, N failed"
# Root is needed (namespaces). Logs and screenshots: BUILD_DIR/netrig-run.
set -u
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
RUN=$BUILD/netrig-run
SHOTS=$RUN/screenshots
AGENT_PORT=47110
# shellcheck source=scripts/wine-env.sh
source "$ROOT/scripts/wine-env.sh"
# shellcheck source=tests/netrig/provider/register.sh
source "$ROOT/tests/netrig/provider/register.sh"

# ---------------------------------------------------------------- the networks

# net_up LANE: namespaces nrc-LANE-PID (client, where Wine runs) and nrs-LANE-PID (server).
net_up() {
  local lane=$1 dir=$RUN/$1
  CLIENT=nrc-$lane-$$ SERVER=nrs-$lane-$$
  ip netns add "$CLIENT" && ip netns add "$SERVER" || return 1
  mkdir -p "/etc/netns/$CLIENT" "$dir/agent"
  : >"/etc/netns/$CLIENT/resolv.conf"
  printf '127.0.0.1 localhost\n127.0.1.1 %s\n' "$(hostname)" >"/etc/netns/$CLIENT/hosts"
  ip -n "$CLIENT" link set lo up
  ip -n "$SERVER" link set lo up
  local i subnets
  case $lane in
    main) subnets="81 82" ;;
    timeout) subnets="83" ;;
  esac
  i=0
  for n in $subnets; do
    ip -n "$CLIENT" link add "a$i" type veth peer name "s$i" netns "$SERVER"
    ip -n "$SERVER" addr add "10.$n.0.1/24" dev "s$i"
    ip -n "$SERVER" addr add "fd00:$n::1/64" dev "s$i" nodad
    ip -n "$CLIENT" addr add "fd00:$n::20/64" dev "a$i" nodad
    ip -n "$SERVER" link set "s$i" up
    ip -n "$CLIENT" link set "a$i" up
    i=$((i + 1))
  done
  # a0 starts static with gateway and DNS server; in the main lane a1 starts on DHCP.
  ip -n "$CLIENT" addr add "10.${subnets%% *}.0.20/24" dev a0
  ip -n "$CLIENT" -6 route add default via "fd00:${subnets%% *}::1" dev a0
  local agent_args=(--gateway "a0=10.${subnets%% *}.0.1" --dns "a0=10.${subnets%% *}.0.1")
  if [ "$lane" = main ]; then
    agent_args+=(--dhcp a1)
    ip netns exec "$SERVER" dnsmasq --no-daemon --conf-file=/dev/null --no-resolv --no-hosts --port=0 \
      --bind-interfaces --interface=s0 --interface=s1 --except-interface=lo --no-ping \
      --dhcp-authoritative --dhcp-leasefile="$dir/dnsmasq.leases" \
      --dhcp-range=set:n81,10.81.0.100,10.81.0.150,255.255.255.0,1h \
      --dhcp-option=tag:n81,option:router,10.81.0.1 \
      --dhcp-option=tag:n81,option:dns-server,10.81.0.53,10.81.0.54 \
      --dhcp-range=set:n82,10.82.0.100,10.82.0.150,255.255.255.0,1h \
      --dhcp-option=tag:n82,option:router,10.82.0.1 \
      --dhcp-option=tag:n82,option:dns-server,10.82.0.53,10.82.0.54 \
      --log-dhcp --log-facility="$dir/dnsmasq.log" </dev/null >/dev/null 2>&1 &
    DNSMASQ_PID=$!
  fi
  ip netns exec "$CLIENT" timeout -k 5 900 python3 "$ROOT/tests/netrig/agent.py" serve --port "$AGENT_PORT" \
    --state "$dir/agent" --lifetime 880 "${agent_args[@]}" </dev/null >"$dir/agent.out" 2>&1 &
  AGENT_PID=$!
  local t
  for t in $(seq 100); do
    grep -q listening "$dir/agent.out" 2>/dev/null && break
    sleep 0.1
  done
  grep -q listening "$dir/agent.out" || { echo "agent did not start:"; cat "$dir/agent.out"; return 1; }
  if [ "$lane" = main ]; then
    for t in $(seq 150); do
      [ -f "$dir/agent/lease-a1" ] && return 0
      sleep 0.1
    done
    echo "a1 got no lease within 15 s"
    return 1
  fi
}

net_down() {
  [ -n "${AGENT_PID:-}" ] && kill "$AGENT_PID" 2>/dev/null && wait "$AGENT_PID" 2>/dev/null
  [ -n "${DNSMASQ_PID:-}" ] && kill -CONT "$DNSMASQ_PID" 2>/dev/null && kill "$DNSMASQ_PID" 2>/dev/null &&
    wait "$DNSMASQ_PID" 2>/dev/null
  local ns
  for ns in ${CLIENT:-} ${SERVER:-}; do
    netns_delete "$ns"
  done
}

# What the kernel holds, for the driver to compare with the window: one JSON file.
kernel_snapshot() {
  local out=$1 dir=$2
  local clients='' pid
  # The DHCP clients running in the client namespace, by interface.
  for pid in $(ip netns pids "$CLIENT" 2>/dev/null); do
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = udhcpc ] || continue
    clients+=" $(tr '\0' '\n' <"/proc/$pid/cmdline" | awk 'p {print; exit} $0 == "-i" {p = 1}')"
  done
  ADDR=$(ip -n "$CLIENT" -j addr show) ROUTE4=$(ip -n "$CLIENT" -j -4 route show default) \
    RESOLV=/etc/netns/$CLIENT/resolv.conf LEASES=$dir/dnsmasq.leases CLIENTS=$clients python3 - "$out" <<'EOF'
import json, os, sys
def text(path):
    try:
        return open(path).read()
    except OSError:
        return ""
json.dump({"addr": json.loads(os.environ["ADDR"] or "[]"), "route4": json.loads(os.environ["ROUTE4"] or "[]"),
           "resolv": text(os.environ["RESOLV"]), "leases": text(os.environ["LEASES"]),
           "clients": os.environ["CLIENTS"].split()}, open(sys.argv[1] + ".tmp", "w"))
os.replace(sys.argv[1] + ".tmp", sys.argv[1])
EOF
}

# The window with a 20 pixel margin, as docs/ shows it.
window_shot() {
  local id
  id=$(xdotool search --onlyvisible --name '^Ipsetter' 2>/dev/null | head -n1)
  [ -n "$id" ] || { import -window root "$1"; return; }
  eval "$(xdotool getwindowgeometry --shell "$id")"
  import -window root -crop "$((WIDTH + 40))x$((HEIGHT + 40))+$((X - 20))+$((Y - 20))" +repage "$1"
}

# What the driver asks of the script (see serve_driver_requests).
lane_request() {
  local dir=$RUN/$LANE
  case $1 in
    xdo) xdotool $2 ;;
    shot) window_shot "$SHOTS/$2.png" ;;
    kernel) kernel_snapshot "$dir/work/kernel.json" "$dir" ;;
    ip) ip $2 ;;  # already inside the client namespace
    dhcp-hold) kill -STOP "$DNSMASQ_PID" ;;
    dhcp-release) kill -CONT "$DNSMASQ_PID" ;;
    agent) ip netns exec "$CLIENT" python3 "$ROOT/tests/netrig/agent.py" ctl --port "$AGENT_PORT" "$2" >/dev/null ;;
    *) echo "script: unknown request $1" ;;
  esac
}

# One lane, already inside its client namespace: prefix, provider, Xvfb, the driver.
run_lane() {
  local lane=$1 dir=$RUN/$1
  LANE=$lane
  mkdir -p "$dir/work" "$dir/sync" "$dir/app" "$SHOTS"
  rm -f "$dir/sync"/done-* "$dir/work"/*
  wine_env "$dir"
  coverage_lane "netrig-$lane"
  trap 'wine_cleanup' EXIT
  trap 'exit 1' INT TERM
  wine_server_kill
  wine_prefix_init || { echo "0 passed, 1 failed"; return 1; }
  netrig_register_provider "$BUILD/tests/netrig/provider/netrig_wbem.dll" || { echo "0 passed, 1 failed"; return 1; }
  xvfb_start || { echo "0 passed, 1 failed"; return 1; }
  cp "$BUILD/src/win32/ipsetter.exe" "$dir/app/"
  local sys32=$WINEPREFIX/drive_c/windows/system32
  cp "$BUILD/tests/netrig/netrig-keyboard.exe" "$sys32/osk.exe"
  cp "$BUILD/tests/netrig/netrig-keyboard.exe" "$sys32/msswchx.exe"
  # UI Automation's notification, which Wine lacks, recorded: for ipsetter.exe alone.
  cp "$BUILD/tests/netrig/uiautomationcore.dll" "$sys32/uiautomationcore.dll"
  rm -f "$WINEPREFIX/drive_c/netrig-uia.log"
  timeout -k 5 60 "$WINE_BIN" reg add 'HKCU\Software\Wine\AppDefaults\ipsetter.exe\DllOverrides' \
    /v uiautomationcore /d native /f >/dev/null 2>&1 </dev/null
  # The time-out lane runs at 144 DPI: the real program's start and its DPI change at run time.
  local dpi=96
  [ "$lane" = timeout ] && dpi=144
  timeout -k 5 60 "$WINE_BIN" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d $dpi /f \
    >/dev/null 2>&1 </dev/null
  export NETRIG_AGENT=127.0.0.1:$AGENT_PORT
  if [ "$lane" = main ]; then
    # The stand-in's own strictness, also against the live agent, before the program meets it.
    NETRIG_RECORD=$dir/work/provider-check.rec wine_run 120 \
      "$(wine_path "$BUILD/tests/netrig/provider/netrig_provider_check.exe")" live \
      </dev/null >"$RUN/provider.log" 2>"$dir/provider-check.stderr"
    grep -E "^FAIL" "$RUN/provider.log"
  fi
  export NETRIG_RECORD=$dir/work/provider.rec
  # Bounds far above a run's length (main about 4 minutes on a busy machine, timeout about 3).
  local limit=600
  [ "$lane" = timeout ] && limit=400
  run_driver "$limit" lane_request "$dir/sync" "$dir/driver.stderr" \
    "$(wine_path "$BUILD/tests/netrig/netrig-driver.exe")" "$lane" \
    "$(wine_path "$dir/app/ipsetter.exe")" "$(wine_path "$dir/work")" "$(wine_path "$dir/sync")"
}

lane() {
  local lane=$1
  CLIENT='' SERVER='' AGENT_PID='' DNSMASQ_PID=''
  trap 'net_down' EXIT
  trap 'exit 1' INT TERM
  rm -rf "${RUN:?}/$lane/agent" "$RUN/$lane/dnsmasq."*
  if ! net_up "$lane"; then
    echo "network set-up failed"
    echo "0 passed, 1 failed"
    return 1
  fi
  # Everything Wine of the lane, wineboot included, starts inside the client namespace.
  export CLIENT SERVER DNSMASQ_PID
  ip netns exec "$CLIENT" bash "${BASH_SOURCE[0]}" "$BUILD" --in-namespace "$lane"
}

if [ "${2:-}" = --in-namespace ]; then
  run_lane "$3"
  exit $?
fi
if [ "${2:-}" = --lane ]; then
  lane "$3"
  exit $?
fi

[ "$(id -u)" = 0 ] || { echo "tests/netrig/run.sh must run as root (network namespaces)" >&2; exit 2; }
mkdir -p "$RUN"
rm -rf "$SHOTS"
start=$(date +%s)
bash "${BASH_SOURCE[0]}" "$BUILD" --lane timeout >"$RUN/timeout.log" 2>&1 &
timeout_pid=$!
echo "== lane main"
bash "${BASH_SOURCE[0]}" "$BUILD" --lane main 2>&1 | tee "$RUN/main.log"
wait "$timeout_pid"
echo "== lane timeout"
cat "$RUN/timeout.log"
passed=0 failed=0
for l in provider main timeout; do
  summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$RUN/$l.log" | tail -1)
  [ -n "$summary" ] || { summary="0 passed, 1 failed"; echo "$l: no summary (see $RUN/$l/driver.stderr)"; }
  echo "$l: $summary"
  p=${summary%% passed*} f=${summary#*, }
  passed=$((passed + p)) failed=$((failed + ${f%% failed}))
done
echo "== netrig: $(($(date +%s) - start)) s, screenshots in $SHOTS"
echo "netrig: $passed passed, $failed failed"
[ "$failed" = 0 ]
