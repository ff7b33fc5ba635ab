#!/bin/bash
# Makes the release into one folder (default build/release): for x64 ipsetter.exe,
# ipsetter-VERSION-win64.zip and ipsetter-VERSION-x64.msi; for x86 ipsetter-x86.exe,
# ipsetter-VERSION-win32.zip and ipsetter-VERSION-x86.msi; and SHA256SUMS. Two runs on the same
# commit give the same exes and ZIPs, byte for byte.
#
#   bash scripts/release.sh [--out DIR] [SIGNING]
#
# SIGNING, with osslsigncode (Authenticode, SHA-256); without it nothing is signed:
#   --pkcs12 FILE [--password-file FILE]   a PKCS#12 file with the certificate and its key
#   --cert PEM --key PEM [--password-file FILE]
#   --timestamp URL                        an RFC 3161 time-stamp server (optional)
# Each exe is signed before it goes into its ZIP and MSI; then the MSI itself is signed.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VERSION=1.00       # the program's own version (its version information)
MSI_VERSION=1.0.0  # the same as Windows Installer writes it: major.minor.build
OUT=$ROOT/build/release
pkcs12='' cert='' key='' password_file='' timestamp=''

usage() {
  sed -n '2,13p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
  exit 2
}
while [ $# -gt 0 ]; do
  case $1 in
    --out) OUT=$(realpath -m "${2:?}"); shift 2 ;;
    --pkcs12) pkcs12=$(realpath "${2:?}"); shift 2 ;;
    --cert) cert=$(realpath "${2:?}"); shift 2 ;;
    --key) key=$(realpath "${2:?}"); shift 2 ;;
    --password-file) password_file=$(realpath "${2:?}"); shift 2 ;;
    --timestamp) timestamp=${2:?}; shift 2 ;;
    *) usage ;;
  esac
done
if [ -n "$pkcs12" ] && [ -n "$cert$key" ]; then
  echo "release: give either --pkcs12 or --cert with --key, not both" >&2
  exit 2
fi
if [ -n "$cert$key" ] && { [ -z "$cert" ] || [ -z "$key" ]; }; then
  echo "release: --cert and --key go together" >&2
  exit 2
fi
signing=$([ -n "$pkcs12$cert" ] && echo yes || echo no)

cd "$ROOT"
bash .ci/install-packages.sh >/dev/null || exit 1
# Every time inside the release comes from the commit, not from the clock.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}
export SOURCE_DATE_EPOCH

mkdir -p "$OUT"
log=$ROOT/build/release-build.log
echo "release: building ipsetter.exe for x64 and x86 (log: $log)"
{ cmake --preset mingw && cmake --build --preset mingw -j2 --target ipsetter &&
  cmake --preset mingw-x86 && cmake --build --preset mingw-x86 -j2 --target ipsetter; } >"$log" 2>&1 ||
  { tail -n 40 "$log"; echo "release: build failed" >&2; exit 1; }
rm -f "$OUT"/ipsetter*.exe "$OUT"/*.zip "$OUT"/*.msi "$OUT"/SHA256SUMS

# sign IN OUT: an Authenticode signature with the given certificate.
sign() {
  local args=(sign -h sha256 -n Ipsetter -in "$1" -out "$2")
  if [ -n "$pkcs12" ]; then args+=(-pkcs12 "$pkcs12"); else args+=(-certs "$cert" -key "$key"); fi
  [ -n "$password_file" ] && args+=(-readpass "$password_file")
  [ -n "$timestamp" ] && args+=(-ts "$timestamp")
  osslsigncode "${args[@]}" >"$ROOT/build/release-sign.log" 2>&1 || { cat "$ROOT/build/release-sign.log" >&2; echo "release: signing $1 failed" >&2; exit 1; }
}
if [ "$signing" = yes ]; then
  command -v osslsigncode >/dev/null || { echo "release: osslsigncode is missing" >&2; exit 1; }
else
  echo "release: no certificate given (--pkcs12, or --cert and --key): nothing is signed"
fi

# One row per architecture: its build folder, the exe's name in the release, the ZIP's suffix.
files=()
while read -r arch tree exe_name zip_suffix; do
  exe=$OUT/$exe_name
  if [ "$signing" = yes ]; then
    sign "$ROOT/build/$tree/src/win32/ipsetter.exe" "$exe"
    echo "release: $exe_name signed${timestamp:+ and time-stamped by $timestamp}"
  else
    cp "$ROOT/build/$tree/src/win32/ipsetter.exe" "$exe"
  fi
  zip=ipsetter-$VERSION-$zip_suffix.zip
  python3 packaging/make_zip.py "$OUT/$zip" "$SOURCE_DATE_EPOCH" \
    ipsetter.exe="$exe" README.md=README.md LICENSE=LICENSE
  msi=ipsetter-$VERSION-$arch.msi
  bash packaging/build_msi.sh "$exe" "$OUT/$msi" "$MSI_VERSION" "$arch"
  if [ "$signing" = yes ]; then
    sign "$OUT/$msi" "$OUT/$msi.signed"
    mv "$OUT/$msi.signed" "$OUT/$msi"
    echo "release: $msi signed"
  fi
  files+=("$exe_name" "$zip" "$msi")
done <<'ROWS'
x64 mingw     ipsetter.exe     win64
x86 mingw-x86 ipsetter-x86.exe win32
ROWS
rm -f "$ROOT/build/release-sign.log"

(cd "$OUT" && sha256sum "${files[@]}" >SHA256SUMS)
echo "release: $OUT"
sed 's/^/  /' "$OUT/SHA256SUMS"
