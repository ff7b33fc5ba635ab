#!/bin/bash
# The WMI layer against Wine's real service: cross-builds tests/wmi/wmi_check.exe (or takes the exe
# given as $1), runs it in a fresh private Wine prefix, first on the host's network, then in a
# network namespace with adapters of known addresses, and checks what it prints against `ip`.
# Prints "N passed, N failed"; exits non-zero when a check failed, 77 when none failed but the
# namespace could not be made (not root).
set -u

repo=$(cd "$(dirname "$0")/../.." && pwd)
out=${WMI_CHECK_DIR:-$repo/build/wmi-check}
mkdir -p "$out/home" "$out/run"
wine=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver
export WINEPREFIX=$out/prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d;winemenubuilder.exe=d"
export HOME=$out/home XDG_CONFIG_HOME=$out/home/.config XDG_DATA_HOME=$out/home/.local/share
export XDG_CACHE_HOME=$out/home/.cache
unset DISPLAY

ns=wmi-check-$$
cleanup() {
  timeout 20 "$WINESERVER" -k 2>/dev/null
  if ip netns list 2>/dev/null | grep -q "^$ns\b"; then ip netns del "$ns"; fi
  rm -rf "/etc/netns/$ns"
}
trap cleanup EXIT

passed=0
failed=0
check() {  # name, then a command that succeeds when the check holds
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $name"
  fi
}
has_line() { grep -qxF -- "$2" "$1"; }
# The index of the adapter whose IpAddress list is printed exactly as $2 (a JSON-like list).
adapter_listing() {
  awk -v want="$2" '$1 == "adapter" && $3 == "IpAddress" && $4 == "ok" && substr($0, index($0, " ok ") + 4) == want { print $2; exit }' "$1"
}
# The index of the adapter whose IpAddress list ends with the string $2.
adapter_ending_with() {
  awk -v want="\"$2\"]" '$1 == "adapter" && $3 == "IpAddress" && $4 == "ok" && substr($0, length($0) - length(want) + 1) == want { print $2; exit }' "$1"
}
mask_of() {  # prefix length -> dotted mask
  local bits=$1 mask="" i octet
  for i in 1 2 3 4; do
    if ((bits >= 8)); then octet=255; bits=$((bits - 8)); else octet=$(((256 - (1 << (8 - bits))) % 256)); bits=0; fi
    mask+=${mask:+.}$octet
  done
  echo "$mask"
}

# --- build -------------------------------------------------------------------------------------
exe=${1:-}
if [ -z "$exe" ]; then
  exe=$out/wmi_check.exe
  x86_64-w64-mingw32-g++-posix -std=c++20 -Wall -Wextra -Wpedantic -Werror -O1 -municode -static \
    -static-libgcc -static-libstdc++ -o "$exe" "$repo/tests/wmi/wmi_check.cpp" "$repo/src/win32/wmi.cpp" \
    "$repo/src/win32/wmi_errors.cpp" -lole32 -loleaut32 -lwbemuuid -luuid || { echo "build failed"; exit 1; }
fi
# The keyboard query looks for these names; they are copies that only sleep.
cp "$exe" "$out/run/wmi_check.exe" && cp "$exe" "$out/run/osk.exe" && cp "$exe" "$out/run/msswchx.exe"
cd "$out/run" || exit 1

rm -rf "$WINEPREFIX"
timeout 120 "$wine" wineboot -i >/dev/null 2>&1
timeout 60 "$WINESERVER" -w

# --- in-process checks ---------------------------------------------------------------------------
timeout 60 "$wine" ./wmi_check.exe unit >unit.txt 2>&1
unit_rc=$?
grep '^FAIL' unit.txt
summary=$(tail -n 1 unit.txt)
if [[ $summary =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
  passed=$((passed + BASH_REMATCH[1]))
  failed=$((failed + BASH_REMATCH[2]))
fi
check "unit checks ran and passed (rc $unit_rc: $summary)" test "$unit_rc" = 0 -a "${BASH_REMATCH[1]:-0}" -gt 0

# --- what every live run must show ---------------------------------------------------------------
common_checks() {
  local f=$1 m
  check "$f: bind cimv2" has_line "$f" 'bind winmgmts:\\.\root\cimv2 ok'
  check "$f: bind default" has_line "$f" 'bind winmgmts: ok'
  check "$f: other namespace" has_line "$f" 'bind winmgmts:\\.\root\nosuch error Invalid namespace (0x8004100E)'
  check "$f: bad query" has_line "$f" 'query bad syntax error Invalid query (0x80041017)'
  check "$f: walk without errors" has_line "$f" 'walk ok'
  check "$f: both adapter queries agree" test "$(sed -n 's/^read count //p' "$f")" = "$(sed -n 's/^all count //p' "$f")"
  check "$f: unknown property" has_line "$f" 'property NoSuchProperty error Not found (0x80041002)'
  for m in EnableStatic SetGateways 'SetDNSServerSearchOrder(list)' 'SetDNSServerSearchOrder()' EnableDHCP; do
    check "$f: $m" has_line "$f" "method $m error Invalid method (0x8004102E)"
  done
  check "$f: keyboard query finds both names" has_line "$f" 'process names before "osk.exe" "msswchx.exe"'
  check "$f: terminate first" has_line "$f" 'terminate 0 error Invalid method (0x8004102E)'
  check "$f: terminate second" has_line "$f" 'terminate 1 error Invalid method (0x8004102E)'
  check "$f: processes" has_line "$f" 'processes ok 2'
  # The method road itself, on methods Wine has: in-parameters put, ReturnValue read back.
  check "$f: CreateKey" has_line "$f" 'call CreateKey ok 0'
  check "$f: SetStringValue" has_line "$f" 'call SetStringValue ok 0'
  check "$f: the value arrived" has_line "$f" 'registry holds "written through WMI"'
  check "$f: a failing ReturnValue" has_line "$f" 'call GetStringValue of a missing key ok 2'
  check "$f: no such method" has_line "$f" 'call NoSuchMethod error Invalid method (0x8004102E)'
  check "$f: no path" has_line "$f" 'call without a path error Invalid object path (0x8004103A)'
  check "$f: no in-parameters" has_line "$f" 'call GetOwner ok 0'
  check "$f: no property read failed" test -z "$(grep -E '^adapter .* error ' "$f")"
  check "$f: DHCPEnabled is true everywhere" test -z "$(grep -E '^adapter [0-9]+ DHCPEnabled ' "$f" | grep -v ' ok true$')"
  check "$f: DHCPEnabled arrives as VT_BOOL" test -z "$(grep -E '^vartype [0-9]+ DHCPEnabled ' "$f" | grep -v ' vt=0x000B ')"
  check "$f: lists arrive as VT_ARRAY|VT_BSTR or VT_NULL" \
    test -z "$(grep -E '^vartype [0-9]+ (IPAddress|IPSubnet|DefaultIPGateway|DNSServerSearchOrder) ' "$f" | grep -v -E ' vt=0x(2008|0001) ')"
}

# --- the host's network --------------------------------------------------------------------------
timeout 60 "$wine" ./wmi_check.exe live >host.txt 2>&1
check "host run ended" test $? = 0
common_checks host.txt
while read -r dev cidr; do
  address=${cidr%/*}
  n=$(adapter_ending_with host.txt "$address")
  check "host: $dev $address is the last IpAddress entry" test -n "$n"
  [ -n "$n" ] || continue
  check "host: $dev mask" grep -qE "^adapter $n IPSubnet ok \[.*\"$(mask_of "${cidr#*/}")\"\]$" host.txt
  gateway=$(ip -4 route show default dev "$dev" 2>/dev/null | awk '{ print $3; exit }')
  if [ -n "$gateway" ]; then
    check "host: $dev gateway $gateway" grep -qF "adapter $n DefaultIPGateway ok [\"$gateway\"" host.txt
    check "host: $dev gateway as VT_ARRAY|VT_BSTR" grep -qE "^vartype $n DefaultIPGateway vt=0x2008 " host.txt
  fi
  dns=$(awk '$1 == "nameserver" { printf "%s\"%s\"", (n++ ? "," : ""), $2 }' /etc/resolv.conf)
  check "host: $dev DNS [$dns]" has_line host.txt "adapter $n DNSServerSearchOrder ok [$dns]"
done < <(ip -4 -o addr show scope global | awk '{ print $2, $4 }')

# --- adapters of known addresses in a network namespace -----------------------------------------
# DNS servers on the namespace's loopback: unreachable ones make Wine's adapter query wait minutes.
if ip netns add "$ns" 2>/dev/null; then
  ip -n "$ns" link add wmiA type veth peer name wmiB
  ip -n "$ns" link set wmiA addrgenmode none
  ip -n "$ns" link set wmiB addrgenmode none
  ip -n "$ns" addr add 10.77.1.5/24 dev wmiA
  ip -n "$ns" addr add fd77::5/64 dev wmiA nodad
  ip -n "$ns" addr add 10.77.2.9/16 dev wmiB
  ip -n "$ns" link set lo up
  ip -n "$ns" link set wmiA up
  ip -n "$ns" link set wmiB up
  ip -n "$ns" route add default via 10.77.1.1 dev wmiA
  mkdir -p "/etc/netns/$ns"
  printf 'nameserver 127.0.0.2\nnameserver 127.0.0.3\nnameserver 127.0.0.4\n' >"/etc/netns/$ns/resolv.conf"
  # Wine's network device process stays in the namespace it was started in.
  timeout 20 "$WINESERVER" -k 2>/dev/null
  sleep 1
  ip netns exec "$ns" timeout 60 "$wine" ./wmi_check.exe live >netns.txt 2>&1
  check "netns run ended" test $? = 0
  common_checks netns.txt
  check "netns: two adapters" has_line netns.txt 'read count 2'
  a=$(adapter_listing netns.txt '["fd77::5","10.77.1.5"]')
  b=$(adapter_listing netns.txt '["10.77.2.9"]')
  check "netns: wmiA lists IPv6 before IPv4" test -n "$a"
  check "netns: wmiB lists its one address" test -n "$b"
  dns='["127.0.0.2","127.0.0.3","127.0.0.4"]'
  for line in "adapter ${a:-X} IPSubnet ok [\"64\",\"255.255.255.0\"]" \
    "adapter ${a:-X} DefaultIPGateway ok [\"10.77.1.1\"]" \
    "adapter ${a:-X} DNSServerSearchOrder ok $dns" \
    "adapter ${b:-X} IPSubnet ok [\"255.255.0.0\"]" \
    "adapter ${b:-X} DefaultIPGateway ok null" \
    "adapter ${b:-X} DNSServerSearchOrder ok $dns" \
    "vartype ${a:-X} IPAddress vt=0x2008 cim=0x2008 hr=0x00000000" \
    "vartype ${b:-X} DefaultIPGateway vt=0x0001 cim=0x2008 hr=0x00000000"; do
    check "netns: $line" has_line netns.txt "$line"
  done
  timeout 20 "$WINESERVER" -k 2>/dev/null
else
  echo "skipped: no network namespace (needs root and iproute2)"
  skipped=1
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ] || exit 1
[ -z "${skipped:-}" ] || exit 77
