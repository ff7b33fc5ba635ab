#!/bin/bash
# Builds the Windows Installer package from packaging/ipsetter.wxs with wixl.
#   bash packaging/build_msi.sh EXE OUT.msi [PRODUCT_VERSION [ARCH]]   (default 1.0.0 x64; or x86)
# The product code follows from the version and the architecture (a name-based UUID under the
# upgrade code), so every build of one version installs as the same product; wixl itself picks a
# new package code.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
exe=$(realpath "${1:?usage: build_msi.sh EXE OUT.msi [VERSION [ARCH]]}")
out=$(realpath -m "${2:?usage: build_msi.sh EXE OUT.msi [VERSION [ARCH]]}")
version=${3:-1.0.0}
arch=${4:-x64}
case $arch in
  x64) product_name=$version ;;  # the name of the first releases, which were x64 only
  x86) product_name=x86-$version ;;
  *) echo "build_msi.sh: ARCH is x64 or x86, not $arch" >&2; exit 2 ;;
esac
upgrade_code=$(sed -n 's/.*UpgradeCode="\([0-9A-F-]*\)".*/\1/p' "$HERE/ipsetter.wxs")
product_code=$(python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
  "$upgrade_code" "$product_name")
# wixl takes source files relative to where it runs.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/ipsetter.exe"
cp "$HERE/../resources/ipsetter.ico" "$stage/ipsetter.ico"
# The cabinet keeps each file's time: the commit's, not the build's.
[ -n "${SOURCE_DATE_EPOCH:-}" ] && touch -d "@$SOURCE_DATE_EPOCH" "$stage/ipsetter.exe" "$stage/ipsetter.ico"
(cd "$stage" && wixl -a "$arch" -D "Arch=$arch" -D "Version=$version" -D "ProductCode=$product_code" \
  -D ExeFile=ipsetter.exe -D IconFile=ipsetter.ico -o "$out" "$HERE/ipsetter.wxs" 2>wixl.log) ||
  { cat "$stage/wixl.log" >&2; exit 1; }
# What wixl 0.101 cannot write, set in its tables. Windows 7 SP1 at the oldest, said before anything
# is installed. And the same version of the other architecture is replaced too, like an older one
# (WiX's AllowSameVersionUpgrades; 513 adds msidbUpgradeAttributesVersionMaxInclusive, part of the
# row's key): the installed product of this version and architecture is the package itself, which
# FindRelatedProducts passes over.
q() { msibuild "$out" -q "$1" >/dev/null || { echo "build_msi.sh: msibuild failed: $1" >&2; exit 1; }; }
q "INSERT INTO \`LaunchCondition\` (\`Condition\`, \`Description\`) VALUES ('Installed OR VersionNT > 601 OR (VersionNT = 601 AND ServicePackLevel >= 1)', 'Ipsetter needs Windows 7 Service Pack 1 or later.')"
q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'"
q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('{$upgrade_code}', '$version', 513, 'WIX_UPGRADE_DETECTED')"
