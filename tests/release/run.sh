#!/bin/bash
# The release, checked as an administrator would use it:
#   - reproducible: scripts/release.sh in two folders gives the same exe and ZIP, and MSIs that
#     differ only in their summary information;
#   - signed: with a throwaway code-signing certificate (PEM pair, and PKCS#12 with a password)
#     the exe and the MSI verify, and the signed exe still passes the program-file checks;
#   - the MSI under Wine's Windows Installer: silent install, upgrade from an older version, a
#     refused downgrade, the installed program's window, silent uninstall leaving nothing.
# Usage (root: the Wine part runs in a network namespace of its own):
#   bash tests/release/run.sh BUILD_DIR      BUILD_DIR holds the MinGW build (peek, checker)
# Ends with "N passed, N failed". Logs: BUILD_DIR/release-run.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
RUN=$BUILD/release-run
passed=0 failed=0

check() {
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then
    echo "ok   $what"
    passed=$((passed + 1))
  else
    echo "FAIL $what"
    failed=$((failed + 1))
  fi
}
same() { [ "$1" = "$2" ]; }

# shellcheck source=scripts/wine-env.sh
source "$ROOT/scripts/wine-env.sh"

if [ "${2:-}" = --in-namespace ]; then
  # ------------------------------------------------ the MSI under Wine (inside the namespace)
  REL=$RUN/a/src/build/release
  MSI=$REL/ipsetter-1.00-x64.msi
  OLD_MSI=$RUN/ipsetter-0.9.0.msi
  SIGNED_MSI=$RUN/signed-pem/ipsetter-1.00-x64.msi
  wine_env "$RUN/wine-env"
  trap wine_cleanup EXIT
  wine_prefix_init || { echo "FAIL Wine prefix"; echo "0 passed, 1 failed"; exit 1; }
  # One display for the whole lane: a Wine session started without one cannot open windows later.
  xvfb_start || { echo "FAIL Xvfb"; echo "0 passed, 1 failed"; exit 1; }
  C=$WINEPREFIX/drive_c
  UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
  msiexec() { wine_run 120 msiexec "$@" >/dev/null 2>&1; }
  # The uninstall entries that name Ipsetter, one "key|DisplayVersion" line each.
  entries() {
    wine_run 30 reg query "$UNINSTALL" /s 2>/dev/null | tr -d '\r' | awk '
      /^HKEY_/ { key = $0 } $1 == "DisplayName" && $3 == "Ipsetter" { named[key] = 1 }
      $1 == "DisplayVersion" { version[key] = $3 }
      END { for (k in named) print k "|" version[k] }'
  }
  value() {  # value KEY NAME
    wine_run 30 reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n { $1 = $2 = ""; sub(/^ +/, ""); print }'
  }
  exe="$C/Program Files/Ipsetter/ipsetter.exe"
  product_code=$(msiinfo export "$MSI" Property | awk '$1 == "ProductCode" { print $2 }' | tr -d '\r')

  # What the installs add to the prefix's files, leaving out Wine's own logs and temporary files,
  # and the installer's cache folder itself, which every Windows has.
  files() {
    find "$C" -not -path "$C/users/*/Temp*" -not -path "$C/windows/temp*" -not -name '*.log' \
      -not -path "$C/windows/Installer" | sort
  }
  files >"$RUN/files-before"
  msiexec /i "$(wine_path "$OLD_MSI")" /qn
  check "an older version (0.9.0) installs silently" same "$(entries | cut -d'|' -f2)" 0.9.0

  msiexec /i "$(wine_path "$MSI")" /qn /l*v "$(wine_path "$RUN/install.log")"
  check "msiexec /i ipsetter-1.00-x64.msi /qn ends with 0" same $? 0
  check "the upgrade leaves one uninstall entry, version 1.0.0" same "$(entries | cut -d'|' -f2)" 1.0.0
  check "the installed exe is the release's" cmp "$exe" "$REL/ipsetter.exe"
  echo "     files the install added:"
  comm -13 "$RUN/files-before" <(files) | sed "s|^$C|     C:|"
  key="$UNINSTALL\\$product_code"
  check "uninstall entry: DisplayName Ipsetter" same "$(value "$key" DisplayName)" Ipsetter
  check "uninstall entry: Publisher" same "$(value "$key" Publisher)" "The Ipsetter developers"
  check "uninstall entry: no modify" same "$(value "$key" NoModify)" 0x1
  check "uninstall entry: no repair" same "$(value "$key" NoRepair)" 0x1
  # Programs and Features takes the icon from the product's registration (ARPPRODUCTICON).
  icon=$(wine_run 30 reg query 'HKLM\Software\Classes\Installer\Products' /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY_/ { key = $0 } $1 == "ProductName" && $3 == "Ipsetter" { p[key] = 1 }
         $1 == "ProductIcon" { $1 = $2 = ""; sub(/^ +/, ""); i[key] = $0 } END { for (k in p) print i[k] }')
  icon_unix=$C/${icon#C:\\}
  icon_unix=${icon_unix//\\//}
  check "the product's icon is registered and cached ($icon)" cmp "$icon_unix" "$ROOT/resources/ipsetter.ico"
  # Wine's installer points ProgramMenuFolder at the user's Start menu even with ALLUSERS=1;
  # Windows points it at the all-users one. The shortcut goes where the installer says.
  menu=$(sed -n 's/^Property(S): ProgramMenuFolder = \(.*\)$/\1/p' "$RUN/install.log" | tr -d '\r' | tail -n 1)
  menu_unix=$C/${menu#C:\\}
  menu_unix=${menu_unix//\\//}
  echo "     (Wine's ProgramMenuFolder: $menu)"
  check "the Start-menu shortcut is in ProgramMenuFolder" test -f "$menu_unix/Ipsetter.lnk"
  check "the shortcut points at the installed exe" grep -qa 'Ipsetter\\ipsetter.exe' "$menu_unix/Ipsetter.lnk"

  # The installed program starts and shows its window.
  wine_run 60 "$exe" >/dev/null 2>&1 &
  app=$!
  wine_run 40 "$BUILD/tools/peek/ipsetter-peek.exe" --close >"$RUN/peek.txt" 2>&1
  wait "$app"
  check "the installed program shows its window titled Ipsetter (and ends on close)" grep -q '^window "Ipsetter"' "$RUN/peek.txt"
  sed 's/^/     /' "$RUN/peek.txt"

  msiexec /i "$(wine_path "$OLD_MSI")" /qn
  check "an older version refuses to install over the newer one" test $? -ne 0
  check "after the refused downgrade: still one entry, 1.0.0" same "$(entries | cut -d'|' -f2)" 1.0.0

  msiexec /x "$(wine_path "$MSI")" /qn
  check "msiexec /x ipsetter-1.00-x64.msi /qn ends with 0" same $? 0
  check "uninstalled: no program folder" test ! -e "$C/Program Files/Ipsetter"
  check "uninstalled: no shortcut" test ! -e "$menu_unix/Ipsetter.lnk"
  check "uninstalled: no uninstall entry" same "$(entries)" ""
  check "uninstalled: Windows Installer keeps no product registration" \
    bash -c "! $WINE_BIN reg query 'HKLM\\Software\\Classes\\Installer\\Products' /s 2>/dev/null | grep -qi Ipsetter"
  left=$(comm -13 "$RUN/files-before" <(files))
  check "uninstalled: no file or folder left that the installs added" same "$left" ""
  [ -n "$left" ] && echo "$left"

  msiexec /i "$(wine_path "$SIGNED_MSI")" /qn
  check "the signed MSI installs silently" same "$(entries | cut -d'|' -f2)" 1.0.0
  check "the installed exe is the signed one" cmp "$exe" "$RUN/signed-pem/ipsetter.exe"
  msiexec /x "$(wine_path "$SIGNED_MSI")" /qn
  check "the signed MSI uninstalls silently" same "$(entries)" ""
  echo "$passed passed, $failed failed"
  exit 0
fi

rm -rf "$RUN"
mkdir -p "$RUN"
cd "$ROOT" || exit 1

# ---------------------------------------------------------------- reproducible
# Two copies of the work tree under folders of different names and depths, built apart.
copy_tree() {
  mkdir -p "$1"
  git -C "$ROOT" ls-files -co --exclude-standard -z | tar -C "$ROOT" --null -T - -cf - | tar -xf - -C "$1"
}
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$ROOT" log -1 --format=%ct)}
A=$RUN/a/src B=$RUN/b/other/folder
copy_tree "$A"
copy_tree "$B"
(cd "$A" && bash scripts/release.sh) >"$RUN/release-a.log" 2>&1 &
pid_a=$!
(cd "$B" && bash scripts/release.sh) >"$RUN/release-b.log" 2>&1
rc_b=$?
wait $pid_a
rc_a=$?
check "release.sh runs in both folders" test $rc_a = 0 -a $rc_b = 0
RA=$A/build/release RB=$B/build/release
check "release.sh says that nothing is signed without a certificate" grep -q "nothing is signed" "$RUN/release-a.log"
check "the folder holds the exe, the ZIP, the MSI and SHA256SUMS" same "$(ls "$RA")" \
  "$(printf '%s\n' SHA256SUMS ipsetter-1.00-win64.zip ipsetter-1.00-x64.msi ipsetter.exe)"
check "SHA256SUMS verifies" bash -c "cd '$RA' && sha256sum -c SHA256SUMS"
check "two builds give the same ipsetter.exe" cmp "$RA/ipsetter.exe" "$RB/ipsetter.exe"
check "two builds give the same ZIP" cmp "$RA/ipsetter-1.00-win64.zip" "$RB/ipsetter-1.00-win64.zip"
echo "     sha256 ipsetter.exe: $(sha256sum <"$RA/ipsetter.exe" | cut -c1-64) / $(sha256sum <"$RB/ipsetter.exe" | cut -c1-64)"
check "the ZIP holds ipsetter.exe, README.md and LICENSE, the exe unchanged" bash -c "
  python3 -c 'import zipfile, sys; z = zipfile.ZipFile(sys.argv[1]); print(*z.namelist()); sys.stdout.flush(); sys.stdout.buffer.write(z.read(\"ipsetter.exe\"))' \
    '$RA/ipsetter-1.00-win64.zip' >'$RUN/zip.out' &&
  [ \"\$(head -n 1 '$RUN/zip.out')\" = 'ipsetter.exe README.md LICENSE' ] &&
  tail -c +\$(( \$(head -n 1 '$RUN/zip.out' | wc -c) + 1 )) '$RUN/zip.out' | cmp - '$RA/ipsetter.exe'"
for side in a b; do
  dir=$RUN/extract-$side
  msi=$([ $side = a ] && echo "$RA" || echo "$RB")/ipsetter-1.00-x64.msi
  msiextract -C "$dir" "$msi" >/dev/null 2>&1
  check "the MSI of build $side carries the same exe" cmp "$dir/Ipsetter/ipsetter.exe" "$RA/ipsetter.exe"
done
tables_differ=()
# msiinfo export writes a table's binary cells as files into the current folder.
cd "$RUN" || exit 1
for t in $(msiinfo tables "$RA/ipsetter-1.00-x64.msi"); do
  cmp -s <(msiinfo export "$RA/ipsetter-1.00-x64.msi" "$t" 2>&1) <(msiinfo export "$RB/ipsetter-1.00-x64.msi" "$t" 2>&1) ||
    tables_differ+=("$t")
done
for stream in $(msiinfo streams "$RA/ipsetter-1.00-x64.msi"); do
  cmp -s <(msiinfo extract "$RA/ipsetter-1.00-x64.msi" "$stream" 2>&1) <(msiinfo extract "$RB/ipsetter-1.00-x64.msi" "$stream" 2>&1) ||
    tables_differ+=("$stream")
done
cd "$ROOT" || exit 1
# The summary stream's name starts with a control character (\005).
differing=$(tr -d '[:cntrl:]' <<<"${tables_differ[*]}")
check "the two MSIs differ in no table or stream but the summary information" \
  same "$differing" "_SummaryInformation SummaryInformation"
echo "     what differs: $differing (wixl writes a new package code and the time):"
diff <(msiinfo suminfo "$RA/ipsetter-1.00-x64.msi") <(msiinfo suminfo "$RB/ipsetter-1.00-x64.msi") | sed -n 's/^[<>]/    &/p'

# ---------------------------------------------------------------- the package's contents
props=$(msiinfo export "$RA/ipsetter-1.00-x64.msi" Property | tr -d '\r')
prop() { awk -F'\t' -v n="$1" '$1 == n { print $2 }' <<<"$props"; }
check "per-machine: ALLUSERS 1" same "$(prop ALLUSERS)" 1
check "ProductVersion 1.0.0" same "$(prop ProductVersion)" 1.0.0
check "the fixed UpgradeCode" same "$(prop UpgradeCode)" "{995D198D-DD5B-471D-8BF4-05C7FEB8354E}"
check "no modify, no repair" same "$(prop ARPNOMODIFY)$(prop ARPNOREPAIR)" 11
check "64-bit package" bash -c "msiinfo suminfo '$RA/ipsetter-1.00-x64.msi' | grep -q '^Template: x64;'"
check "no custom actions" same "$(msiinfo export "$RA/ipsetter-1.00-x64.msi" CustomAction | tail -n +4)" ""
check "one shortcut, in ProgramMenuFolder, to the installed exe" same \
  "$(msiinfo export "$RA/ipsetter-1.00-x64.msi" Shortcut | tail -n +4 | cut -f2,3,5 | tr -d '\r')" \
  "$(printf 'ProgramMenuFolder\tIpsetter\t[#ipsetter.exe]')"

# ---------------------------------------------------------------- signed
sign_dir=$RUN/certificate
mkdir -p "$sign_dir"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$sign_dir/key.pem" -out "$sign_dir/cert.pem" -days 2 \
  -subj "/CN=Ipsetter test signing" -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1
echo "throwaway" >"$sign_dir/password"
openssl pkcs12 -export -inkey "$sign_dir/key.pem" -in "$sign_dir/cert.pem" -out "$sign_dir/cert.p12" \
  -passout "file:$sign_dir/password" >/dev/null 2>&1
check "release.sh unsigned: the exe carries no signature" bash -c "! osslsigncode verify -CAfile '$sign_dir/cert.pem' -in '$RA/ipsetter.exe'"
(cd "$A" && bash scripts/release.sh --out "$RUN/signed-pem" --cert "$sign_dir/cert.pem" --key "$sign_dir/key.pem") \
  >"$RUN/release-signed-pem.log" 2>&1
check "release.sh with --cert and --key" same $? 0
# The PKCS#12 road also names a time-stamp server: a local one (tsa.py).
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$sign_dir/tsa.key" -out "$sign_dir/tsa.pem" -days 2 \
  -subj "/CN=Ipsetter test time-stamping" -addext "extendedKeyUsage=critical,timeStamping" >/dev/null 2>&1
python3 "$ROOT/tests/release/tsa.py" "$sign_dir" "$sign_dir/tsa.port" 2>"$RUN/tsa.log" &
tsa_pid=$!
for _ in $(seq 50); do [ -s "$sign_dir/tsa.port" ] && break; sleep 0.1; done
tsa_url=http://127.0.0.1:$(cat "$sign_dir/tsa.port" 2>/dev/null)
(cd "$A" && bash scripts/release.sh --out "$RUN/signed-p12" --pkcs12 "$sign_dir/cert.p12" \
  --password-file "$sign_dir/password" --timestamp "$tsa_url") >"$RUN/release-signed-p12.log" 2>&1
check "release.sh with --pkcs12, --password-file and --timestamp" same $? 0
kill $tsa_pid 2>/dev/null
for kind in pem p12; do
  for file in ipsetter.exe ipsetter-1.00-x64.msi; do
    osslsigncode verify -CAfile "$sign_dir/cert.pem" -TSA-CAfile "$sign_dir/tsa.pem" -in "$RUN/signed-$kind/$file" \
      >"$RUN/verify-$kind-$file.txt" 2>&1
    check "signed ($kind): $file verifies against the certificate" same $? 0
  done
done
for file in ipsetter.exe ipsetter-1.00-x64.msi; do
  check "signed (p12): $file carries a verified time stamp" \
    grep -q "^Timestamp Server Signature verification: ok" "$RUN/verify-p12-$file.txt"
done
check "the signed ZIP holds the signed exe" bash -c "python3 -c 'import zipfile, sys; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(\"ipsetter.exe\"))' '$RUN/signed-pem/ipsetter-1.00-win64.zip' | cmp - '$RUN/signed-pem/ipsetter.exe'"
msiextract -C "$RUN/extract-signed" "$RUN/signed-pem/ipsetter-1.00-x64.msi" >/dev/null 2>&1
check "the signed MSI carries the signed exe" cmp "$RUN/extract-signed/Ipsetter/ipsetter.exe" "$RUN/signed-pem/ipsetter.exe"
# osslsigncode also writes the PE checksum when it signs or removes a signature; lld, like MSVC's
# link, leaves it 0: set it back before comparing (the field is 88 bytes into the PE header).
signature_removed_gives_release_exe() {
  local out=$RUN/unsigned-again.exe
  rm -f "$out"
  osslsigncode remove-signature -in "$RUN/signed-pem/ipsetter.exe" -out "$out" || return 1
  dd if=/dev/zero of="$out" bs=1 count=4 conv=notrunc seek=$(($(od -An -t u4 -j 60 -N 4 "$out") + 88)) &&
    cmp "$out" "$RA/ipsetter.exe"
}
check "signing changes nothing but the signature and the PE checksum: the same exe once it is removed" \
  signature_removed_gives_release_exe
timeout -k 10 300 bash "$ROOT/tests/program_file/run.sh" "$BUILD" "$RUN/signed-pem/ipsetter.exe" >"$RUN/program-file-signed.log" 2>&1
check "the signed exe passes the program-file checks ($(tail -n 1 "$RUN/program-file-signed.log"))" same $? 0

# ---------------------------------------------------------------- the MSI under Wine
bash "$ROOT/packaging/build_msi.sh" "$RA/ipsetter.exe" "$RUN/ipsetter-0.9.0.msi" 0.9.0
check "an older version's MSI (0.9.0) builds" test -f "$RUN/ipsetter-0.9.0.msi"
NS=ipsetter-release-$$
trap 'netns_delete "$NS"' EXIT
ip netns add "$NS" && ip -n "$NS" link set lo up
mkdir -p "/etc/netns/$NS"
: >"/etc/netns/$NS/resolv.conf"
printf '127.0.0.1 localhost\n127.0.1.1 %s\n' "$(hostname)" >"/etc/netns/$NS/hosts"
ip netns exec "$NS" bash "${BASH_SOURCE[0]}" "$BUILD" --in-namespace >"$RUN/msi.log" 2>&1
cat "$RUN/msi.log" | grep -v ' passed, '
summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$RUN/msi.log" | tail -n 1)
[ -n "$summary" ] || summary="0 passed, 1 failed"
passed=$((passed + ${summary%% passed*}))
f=${summary#*, }
failed=$((failed + ${f%% failed}))
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
