#!/bin/bash
# The start-up and poll benchmark of ipsetter.exe under Wine (README, "Performance"). As root:
#   bash bench/run.sh [ROUNDS [IDLE_SECONDS]]        defaults: 20 rounds, 60 s idle; about 5 minutes
# (ROUNDS is rounded up to whole cycles of 10, in which each program follows each program as often).
# Builds with the mingw preset (BENCH_BUILD overrides the build folder), then runs bench-driver.exe
# in a network namespace of its own whose DNS answers at once (Wine makes a reverse lookup per
# adapter at every query), with a private Wine prefix and X server. Prints the driver's figures,
# then the program files' sizes and imports. Not a test: it passes or fails nothing.
# BENCH_COMPARE=/abs/other.exe puts another build of the program in the bare floor's place, so that
# two builds alternate in one run (give it another file name: the Linux side finds it by name).
set -u

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT" || exit 1
BUILD=${BENCH_BUILD:-$ROOT/build/mingw}
RUN=$ROOT/build/bench-run
# shellcheck source=scripts/wine-env.sh
source "$ROOT/scripts/wine-env.sh"

# ---------------------------------------------------------------- inside the namespace

# "cpu_ms wake-ups private_kb rss_kb" of the Wine process whose name is $1, one of our prefix.
# Wake-ups: the voluntary context switches of all its threads (each one a sleep ended).
process_stat() {
  local name=$1 p pid=
  for p in /proc/[0-9]*; do
    [ "$(cat "$p/comm" 2>/dev/null)" = "$name" ] || continue
    { tr '\0' '\n' <"$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    pid=${p#/proc/}
    break
  done
  if [ -z "$pid" ]; then
    echo "none"
    return
  fi
  local fields ticks switches private rss
  fields=$(sed 's/^.*) //' "/proc/$pid/stat")
  # utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
  ticks=$(echo "$fields" | awk '{print $12 + $13}')
  switches=$(cat /proc/"$pid"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ {n += $2} END {print n}')
  private=$(awk '/^Private_(Clean|Dirty):/ {n += $2} END {print n}' "/proc/$pid/smaps_rollup")
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
  echo "$((ticks * 1000 / $(getconf CLK_TCK))) $switches $private $rss"
}

# The driver asks for "stat NAME TAG" (see serve_driver_requests).
bench_request() {
  case $1 in
    stat) process_stat "${2%% *}" >"$RUN/sync/stat-${2##* }" ;;
    *) echo "bench: unknown request $1" ;;
  esac
}

inside() {
  local sync=$RUN/sync
  mkdir -p "$sync"
  rm -f "$sync"/*
  wine_env "$RUN"
  trap wine_cleanup EXIT
  trap 'exit 1' INT TERM
  wine_server_kill
  wine_prefix_init || { echo "bench: no Wine prefix"; return 1; }
  xvfb_start || return 1
  # One server for the whole run, and Wine's own processes started before the measured ones,
  # with their output nowhere.
  "$WINESERVER" -p
  local b=$BUILD/bench exes
  exes=("$(wine_path "$BUILD/src/win32/ipsetter.exe")" "$(wine_path "${BENCH_COMPARE:-$b/floor-bare.exe}")"
    "$(wine_path "$b/floor-wmi.exe")" "$(wine_path "$b/floor-dlls.exe")" "$(wine_path "$b/floor-window.exe")")
  wine_run 120 "$b/bench-driver.exe" "${exes[@]}" "$(wine_path "$sync")" 1 0 --warm </dev/null >/dev/null 2>&1
  wine_run 1200 "$b/bench-driver.exe" "${exes[@]}" "$(wine_path "$sync")" "$@" </dev/null 2>"$RUN/driver.stderr" |
    serve_driver_requests bench_request "$sync"
}

if [ "${1:-}" = --inside ]; then
  shift
  inside "$@"
  exit $?
fi

# ---------------------------------------------------------------- outside

if [ "$(id -u)" != 0 ]; then
  echo "bench/run.sh must run as root (it makes a network namespace)" >&2
  exit 2
fi
mkdir -p "$RUN"
{ cmake --preset mingw -B "$BUILD" && cmake --build "$BUILD" -j2 --target ipsetter bench-driver floor-bare floor-wmi floor-dlls floor-window; } \
  >"$RUN/build.log" 2>&1 || { tail -n 30 "$RUN/build.log"; echo "bench: build failed"; exit 1; }
command -v dnsmasq >/dev/null || apt-get install -y dnsmasq-base >"$RUN/apt.log" 2>&1 ||
  { echo "bench: dnsmasq is missing and could not be installed"; exit 1; }

# Percent of all cores busy over two seconds.
busy_percent() {
  local a b
  a=($(head -1 /proc/stat))
  sleep 2
  b=($(head -1 /proc/stat))
  local idle=$((b[4] + b[5] - a[4] - a[5])) total=0 i
  for i in 1 2 3 4 5 6 7 8; do total=$((total + b[i] - a[i])); done
  echo $((total > 0 ? 100 * (total - idle) / total : 0))
}

# Other work on the machine is noise: wait for it to calm down (BENCH_WAIT seconds at most).
waited=0 busy=$(busy_percent)
while [ "$busy" -gt 10 ] && [ "$waited" -lt "${BENCH_WAIT:-600}" ]; do
  sleep 20
  waited=$((waited + 22))
  busy=$(busy_percent)
done

NS=ipsetter-bench-$$
DNS_PID=
cleanup() {
  [ -n "$DNS_PID" ] && kill "$DNS_PID" 2>/dev/null && wait "$DNS_PID" 2>/dev/null
  netns_delete "$NS"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Two adapters, each with an IPv4 and an IPv6 address, as the end-to-end tests have them.
ip netns add "$NS"
ip -n "$NS" link add veth0 type veth peer name veth1
ip -n "$NS" addr add 10.79.1.2/24 dev veth0
ip -n "$NS" addr add fd00:79::2/64 dev veth0 nodad
ip -n "$NS" addr add 10.79.2.2/16 dev veth1
ip -n "$NS" addr add fd00:7a::2/64 dev veth1 nodad
for l in lo veth0 veth1; do ip -n "$NS" link set "$l" up; done
# A gateway, so that a Refresh finds the configuration complete at its first poll.
ip -n "$NS" route add default via 10.79.2.1 dev veth1
mkdir -p "/etc/netns/$NS"
printf 'nameserver 127.0.0.1\n' >"/etc/netns/$NS/resolv.conf"
printf '127.0.0.1 localhost\n127.0.1.1 %s\n' "$(hostname)" >"/etc/netns/$NS/hosts"
# A DNS server that answers every lookup at once: private reverse lookups with "no such name",
# the rest with a refusal (it has no upstream).
ip netns exec "$NS" dnsmasq --no-daemon --conf-file=/dev/null --no-resolv --no-hosts --bogus-priv \
  --listen-address=127.0.0.1 --bind-interfaces --port=53 </dev/null >/dev/null 2>&1 &
DNS_PID=$!
sleep 0.3
lookup_start=$(date +%s%N)
ip netns exec "$NS" getent hosts 10.79.1.2 fd00:79::2 >/dev/null
lookup_ms=$((($(date +%s%N) - lookup_start) / 1000000))

echo "== Ipsetter start-up and poll benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(nproc) cores, $busy % busy before the run (waited $waited s), load average $(cut -d' ' -f1-3 /proc/loadavg); $(/usr/lib/wine/wine64 --version 2>/dev/null)"
echo "namespace $NS: two reverse lookups took $lookup_ms ms"
ip netns exec "$NS" bash "$ROOT/bench/run.sh" --inside "$@" | tee "$RUN/output.txt"
rc=${PIPESTATUS[0]}

echo "machine: $(busy_percent) % busy after the run" | tee -a "$RUN/output.txt"
echo "== program files" | tee -a "$RUN/output.txt"
for exe in "$BUILD/src/win32/ipsetter.exe" "$BUILD/bench/floor-dlls.exe"; do
  imports=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {printf " %s", $3}')
  echo "  $(basename "$exe"): $(stat -c %s "$exe") bytes; imports$imports" | tee -a "$RUN/output.txt"
done
exit "$rc"
