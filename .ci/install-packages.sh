#!/bin/bash
# Installs the Debian packages the build and the tests need (listed in .ci/packages), only those
# missing, so that a machine that has them all needs no network.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
missing=()
while read -r pkg; do
  [ -n "$pkg" ] || continue
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done <"$here/packages"
if [ ${#missing[@]} -eq 0 ]; then
  echo "packages: all present"
  exit 0
fi
echo "packages: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "packages: not root; run as root or install them: apt-get install -y ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# The 32-bit Wine runs the x86 build's programs.
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -q </dev/null
apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
