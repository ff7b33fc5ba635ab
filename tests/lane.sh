#!/bin/bash
# Runs one test lane for CTest (tests/lanes.cmake):
#   lane.sh LOG SECONDS any|root|netns COMMAND...
# The lane's output goes to LOG, then to CTest: no Wine process started by the lane holds CTest's
# pipe open. After SECONDS the lane gets a TERM, so that its traps remove its namespaces and
# wineservers (CTest's own bound, later, kills at once). A lane that needs root or network
# namespaces and cannot have them here is skipped: exit 77, with the reason.
set -u
log=$1 secs=$2 needs=$3
shift 3
mkdir -p "$(dirname "$log")"
skip() {
  echo "skipped: $*" | tee "$log"
  exit 77
}
if [ "$needs" != any ]; then
  [ "$(id -u)" = 0 ] || skip "needs root"
  probe=ipsetter-lane-$$
  if [ "$needs" = netns ]; then
    ip netns add "$probe" 2>/dev/null || skip "ip netns add refused"
    ip netns delete "$probe"
  fi
fi
timeout -k 10 "$secs" "$@" </dev/null >"$log" 2>&1
rc=$?
cat "$log"
[ $rc = 124 ] && echo "lane: stopped after $secs s" | tee -a "$log"
exit $rc
