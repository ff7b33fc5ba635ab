#!/bin/bash
# Builds the Windows Installer package from packaging/ipsetter.wxs with wixl.
#   bash packaging/build_msi.sh EXE OUT.msi [PRODUCT_VERSION]   (default 1.0.0)
# The product code follows from the version (a name-based UUID under the upgrade code), so every
# build of one version installs as the same product; wixl itself picks a new package code.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
exe=$(realpath "${1:?usage: build_msi.sh EXE OUT.msi [VERSION]}")
out=$(realpath -m "${2:?usage: build_msi.sh EXE OUT.msi [VERSION]}")
version=${3:-1.0.0}
upgrade_code=$(sed -n 's/.*UpgradeCode="\([0-9A-F-]*\)".*/\1/p' "$HERE/ipsetter.wxs")
product_code=$(python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
  "$upgrade_code" "$version")
# wixl takes source files relative to where it runs.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/ipsetter.exe"
cp "$HERE/../resources/ipsetter.ico" "$stage/ipsetter.ico"
# The cabinet keeps each file's time: the commit's, not the build's.
[ -n "${SOURCE_DATE_EPOCH:-}" ] && touch -d "@$SOURCE_DATE_EPOCH" "$stage/ipsetter.exe" "$stage/ipsetter.ico"
(cd "$stage" && wixl -a x64 -D "Version=$version" -D "ProductCode=$product_code" -D ExeFile=ipsetter.exe \
  -D IconFile=ipsetter.ico -o "$out" "$HERE/ipsetter.wxs" 2>wixl.log) ||
  { cat "$stage/wixl.log" >&2; exit 1; }
