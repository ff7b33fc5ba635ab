#!/bin/bash
# The release, checked as an administrator would use it, for x64 and x86 alike:
#   - reproducible: scripts/release.sh in two folders gives the same exes and ZIPs, and MSIs that
#     differ only in their summary information;
#   - signed: with a throwaway code-signing certificate (PEM pair, and PKCS#12 with a password)
#     the exes and the MSIs verify, and the signed exes still pass the program-file checks;
#   - each MSI under Wine's Windows Installer (64-bit prefix; x86 under WOW64): silent install,
#     upgrade from an older version, a refused downgrade, the installed program's window, silent
#     uninstall leaving nothing; refused on Windows Vista; one architecture's package replacing
#     the other's of the same version, and refused by the other's newer one.
# Usage (root: the Wine part runs in a network namespace of its own):
#   bash tests/release/run.sh BUILD_DIR      BUILD_DIR holds the MinGW x64 build (peek, checker)
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

# One row per architecture: the exe's name in the release, the ZIP's suffix, the MSI's Template,
# the Program Files folder it installs into under 64-bit Windows, the view of its uninstall entry.
ARCHS="\
x64 ipsetter.exe     win64 x64;1033   Program_Files       native
x86 ipsetter-x86.exe win32 Intel;1033 Program_Files_(x86) wow"
arch_field() { awk -v a="$1" -v f="$2" '$1 == a { gsub(/_/, " ", $f); print $f }' <<<"$ARCHS"; }

# shellcheck source=scripts/wine-env.sh
source "$ROOT/scripts/wine-env.sh"

if [ "${2:-}" = --in-namespace ]; then
  # ------------------------------------------------ the MSIs under Wine (inside the namespace)
  REL=$RUN/a/src/build/release
  wine_env "$RUN/wine-env"
  trap wine_cleanup EXIT
  wine_prefix_init || { echo "FAIL Wine prefix"; echo "0 passed, 1 failed"; exit 1; }
  # One display for the whole lane: a Wine session started without one cannot open windows later.
  xvfb_start || { echo "FAIL Xvfb"; echo "0 passed, 1 failed"; exit 1; }
  C=$WINEPREFIX/drive_c
  msiexec() { wine_run 120 msiexec "$@" >/dev/null 2>&1; }
  # The uninstall entries that name Ipsetter, one "VIEW PRODUCT_CODE DisplayVersion" line each; a
  # 32-bit package's entry is in the WOW64 view.
  entries() {
    local view key
    for view in native wow; do
      key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
      [ $view = wow ] && key='HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall'
      wine_run 30 reg query "$key" /s 2>/dev/null | tr -d '\r' | awk -v view=$view '
        /^HKEY_/ { n = split($0, part, /\\/); key = part[n] } $1 == "DisplayName" && $3 == "Ipsetter" { named[key] = 1 }
        $1 == "DisplayVersion" { version[key] = $3 }
        END { for (k in named) print view, k, version[k] }'
    done
  }
  value() {  # value KEY NAME
    wine_run 30 reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n { $1 = $2 = ""; sub(/^ +/, ""); print }'
  }
  code() { msiinfo export "$1" Property | awk '$1 == "ProductCode" { print $2 }' | tr -d '\r'; }
  entry() { echo "$(arch_field "$1" 6) $(code "$2") $3"; }  # entry ARCH MSI VERSION: what entries says
  exe_of() { echo "$C/$(arch_field "$1" 5)/Ipsetter/ipsetter.exe"; }
  msi_of() { echo "$REL/ipsetter-1.00-$1.msi"; }
  old_of() { echo "$RUN/ipsetter-0.9.0-$1.msi"; }

  # What the installs add to the prefix's files, leaving out Wine's own logs and temporary files,
  # and the installer's cache folder itself, which every Windows has.
  files() {
    find "$C" -not -path "$C/users/*/Temp*" -not -path "$C/windows/temp*" -not -name '*.log' \
      -not -path "$C/windows/Installer" | sort
  }
  files >"$RUN/files-before"
  for arch in x64 x86; do
    msi=$(msi_of $arch) old=$(old_of $arch) exe=$(exe_of $arch) folder=$(arch_field $arch 5)
    msiexec /i "$(wine_path "$old")" /qn
    check "$arch: an older version (0.9.0) installs silently" same "$(entries)" "$(entry $arch "$old" 0.9.0)"

    msiexec /i "$(wine_path "$msi")" /qn /l*v "$(wine_path "$RUN/install-$arch.log")"
    check "$arch: msiexec /i ipsetter-1.00-$arch.msi /qn ends with 0" same $? 0
    check "$arch: the upgrade leaves one uninstall entry, version 1.0.0" same "$(entries)" "$(entry $arch "$msi" 1.0.0)"
    check "$arch: the installed exe is the release's, in $folder" cmp "$exe" "$REL/$(arch_field $arch 2)"
    echo "     files the install added:"
    comm -13 "$RUN/files-before" <(files) | sed "s|^$C|     C:|"
    key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
    [ $arch = x86 ] && key='HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall'
    key="$key\\$(code "$msi")"
    check "$arch: uninstall entry: DisplayName Ipsetter" same "$(value "$key" DisplayName)" Ipsetter
    check "$arch: uninstall entry: Publisher" same "$(value "$key" Publisher)" "The Ipsetter developers"
    check "$arch: uninstall entry: no modify" same "$(value "$key" NoModify)" 0x1
    check "$arch: uninstall entry: no repair" same "$(value "$key" NoRepair)" 0x1
    # Programs and Features takes the icon from the product's registration (ARPPRODUCTICON).
    icon=$(wine_run 30 reg query 'HKLM\Software\Classes\Installer\Products' /s 2>/dev/null | tr -d '\r' |
      awk '/^HKEY_/ { key = $0 } $1 == "ProductName" && $3 == "Ipsetter" { p[key] = 1 }
           $1 == "ProductIcon" { $1 = $2 = ""; sub(/^ +/, ""); i[key] = $0 } END { for (k in p) print i[k] }')
    icon_unix=$C/${icon#C:\\}
    icon_unix=${icon_unix//\\//}
    check "$arch: the product's icon is registered and cached ($icon)" cmp "$icon_unix" "$ROOT/resources/ipsetter.ico"
    # Wine's installer points ProgramMenuFolder at the user's Start menu even with ALLUSERS=1;
    # Windows points it at the all-users one. The shortcut goes where the installer says.
    menu=$(sed -n 's/^Property(S): ProgramMenuFolder = \(.*\)$/\1/p' "$RUN/install-$arch.log" | tr -d '\r' | tail -n 1)
    menu_unix=$C/${menu#C:\\}
    menu_unix=${menu_unix//\\//}
    echo "     (Wine's ProgramMenuFolder: $menu)"
    check "$arch: the Start-menu shortcut is in ProgramMenuFolder" test -f "$menu_unix/Ipsetter.lnk"
    check "$arch: the shortcut points at the installed exe in $folder" grep -qa "$folder\\\\Ipsetter\\\\ipsetter.exe" "$menu_unix/Ipsetter.lnk"

    # The installed program starts and shows its window.
    wine_run 60 "$exe" >/dev/null 2>&1 &
    app=$!
    wine_run 40 "$BUILD/tools/peek/ipsetter-peek.exe" --close >"$RUN/peek-$arch.txt" 2>&1
    wait "$app"
    check "$arch: the installed program shows its window titled Ipsetter (and ends on close)" grep -q '^window "Ipsetter"' "$RUN/peek-$arch.txt"
    sed 's/^/     /' "$RUN/peek-$arch.txt"

    msiexec /i "$(wine_path "$old")" /qn
    check "$arch: an older version refuses to install over the newer one" test $? -ne 0
    check "$arch: after the refused downgrade: still one entry, 1.0.0" same "$(entries)" "$(entry $arch "$msi" 1.0.0)"

    msiexec /x "$(wine_path "$msi")" /qn
    check "$arch: msiexec /x ipsetter-1.00-$arch.msi /qn ends with 0" same $? 0
    check "$arch: uninstalled: no program folder" test ! -e "$C/$folder/Ipsetter"
    check "$arch: uninstalled: no shortcut" test ! -e "$menu_unix/Ipsetter.lnk"
    check "$arch: uninstalled: no uninstall entry" same "$(entries)" ""
    check "$arch: uninstalled: Windows Installer keeps no product registration" \
      bash -c "! $WINE_BIN reg query 'HKLM\\Software\\Classes\\Installer\\Products' /s 2>/dev/null | grep -qi Ipsetter"
    left=$(comm -13 "$RUN/files-before" <(files))
    check "$arch: uninstalled: no file or folder left that the installs added" same "$left" ""
    [ -n "$left" ] && echo "$left"

    signed=$RUN/signed-pem/ipsetter-1.00-$arch.msi
    msiexec /i "$(wine_path "$signed")" /qn
    check "$arch: the signed MSI installs silently" same "$(entries)" "$(entry $arch "$signed" 1.0.0)"
    check "$arch: the installed exe is the signed one" cmp "$exe" "$RUN/signed-pem/$(arch_field $arch 2)"
    msiexec /x "$(wine_path "$signed")" /qn
    check "$arch: the signed MSI uninstalls silently" same "$(entries)" ""
  done

  # Windows Vista: each package refuses before it installs anything (its launch condition).
  wine_run 30 reg add 'HKCU\Software\Wine' /v Version /d vista /f >/dev/null 2>&1
  for arch in x64 x86; do
    msiexec /i "$(wine_path "$(msi_of $arch)")" /qn
    check "$arch: on Windows Vista the MSI refuses to install" test $? -ne 0
    check "$arch: on Windows Vista nothing is installed" same "$(entries)$(comm -13 "$RUN/files-before" <(files))" ""
  done
  wine_run 30 reg add 'HKCU\Software\Wine' /v Version /d win7 /f >/dev/null 2>&1

  # One Ipsetter per machine, on Windows 7 SP1 (Wine's win7): a package replaces the installed
  # one of the other architecture of the same version, and the other's older package is refused.
  msiexec /i "$(wine_path "$(msi_of x64)")" /qn
  check "x64 and x86: on Windows 7 SP1 the x64 MSI installs" same "$(entries)" "$(entry x64 "$(msi_of x64)" 1.0.0)"
  for pair in "x64 x86" "x86 x64"; do
    read -r from to <<<"$pair"
    msiexec /i "$(wine_path "$(msi_of $to)")" /qn
    check "$to over $from: msiexec /i ipsetter-1.00-$to.msi /qn ends with 0" same $? 0
    check "$to over $from: one uninstall entry, the $to product's" same "$(entries)" "$(entry $to "$(msi_of $to)" 1.0.0)"
    check "$to over $from: the $to exe installed, the $from folder gone" \
      bash -c "cmp '$(exe_of $to)' '$REL/$(arch_field $to 2)' && test ! -e '$C/$(arch_field $from 5)/Ipsetter'"
  done
  msiexec /i "$(wine_path "$(old_of x86)")" /qn
  check "x86 0.9.0 over x64 1.0.0: refused" test $? -ne 0
  check "x86 0.9.0 over x64 1.0.0: the x64 product stays" same "$(entries)" "$(entry x64 "$(msi_of x64)" 1.0.0)"
  msiexec /x "$(wine_path "$(msi_of x64)")" /qn
  check "x64 and x86: uninstalled, no file or folder left" same "$(entries)$(comm -13 "$RUN/files-before" <(files))" ""
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
check "the folder holds the exes, the ZIPs, the MSIs and SHA256SUMS" same "$(ls "$RA")" \
  "$(printf '%s\n' SHA256SUMS ipsetter-1.00-win32.zip ipsetter-1.00-win64.zip ipsetter-1.00-x64.msi \
    ipsetter-1.00-x86.msi ipsetter-x86.exe ipsetter.exe)"
check "SHA256SUMS verifies, one line per file" \
  bash -c "cd '$RA' && sha256sum -c SHA256SUMS && [ \$(wc -l <SHA256SUMS) = 6 ]"
# msiextract puts the x64 package's Program Files at the top, the x86 one's into "Program Files".
extracted() { find "$1" -type f -name ipsetter.exe; }
# msiinfo export writes a table's binary cells as files into the current folder.
cd "$RUN" || exit 1
while read -r arch exe zip_suffix template _; do
  zip=ipsetter-1.00-$zip_suffix.zip msi=ipsetter-1.00-$arch.msi
  check "$arch: two builds give the same $exe" cmp "$RA/$exe" "$RB/$exe"
  check "$arch: two builds give the same ZIP" cmp "$RA/$zip" "$RB/$zip"
  echo "     sha256 $exe: $(sha256sum <"$RA/$exe" | cut -c1-64) / $(sha256sum <"$RB/$exe" | cut -c1-64)"
  check "$arch: $zip holds ipsetter.exe, README.md and LICENSE, the exe unchanged" bash -c "
    python3 -c 'import zipfile, sys; z = zipfile.ZipFile(sys.argv[1]); print(*z.namelist()); sys.stdout.flush(); sys.stdout.buffer.write(z.read(\"ipsetter.exe\"))' \
      '$RA/$zip' >'$RUN/zip.out' &&
    [ \"\$(head -n 1 '$RUN/zip.out')\" = 'ipsetter.exe README.md LICENSE' ] &&
    tail -c +\$(( \$(head -n 1 '$RUN/zip.out' | wc -c) + 1 )) '$RUN/zip.out' | cmp - '$RA/$exe'"
  for side in a b; do
    dir=$RUN/extract-$arch-$side
    msiextract -C "$dir" "$([ $side = a ] && echo "$RA" || echo "$RB")/$msi" >/dev/null 2>&1
    check "$arch: the MSI of build $side carries the same exe" cmp "$(extracted "$dir")" "$RA/$exe"
  done
  tables_differ=()
  for t in $(msiinfo tables "$RA/$msi"); do
    cmp -s <(msiinfo export "$RA/$msi" "$t" 2>&1) <(msiinfo export "$RB/$msi" "$t" 2>&1) || tables_differ+=("$t")
  done
  for stream in $(msiinfo streams "$RA/$msi"); do
    cmp -s <(msiinfo extract "$RA/$msi" "$stream" 2>&1) <(msiinfo extract "$RB/$msi" "$stream" 2>&1) ||
      tables_differ+=("$stream")
  done
  # The summary stream's name starts with a control character (\005).
  differing=$(tr -d '[:cntrl:]' <<<"${tables_differ[*]}")
  check "$arch: the two MSIs differ in no table or stream but the summary information" \
    same "$differing" "_SummaryInformation SummaryInformation"
  echo "     what differs: $differing (wixl writes a new package code and the time):"
  diff <(msiinfo suminfo "$RA/$msi") <(msiinfo suminfo "$RB/$msi") | sed -n 's/^[<>]/    &/p'

  # ---------------------------------------------------------------- the package's contents
  props=$(msiinfo export "$RA/$msi" Property | tr -d '\r')
  prop() { awk -F'\t' -v n="$1" '$1 == n { print $2 }' <<<"$props"; }
  check "$arch: per-machine: ALLUSERS 1" same "$(prop ALLUSERS)" 1
  check "$arch: ProductVersion 1.0.0" same "$(prop ProductVersion)" 1.0.0
  check "$arch: the fixed UpgradeCode, the same for both" same "$(prop UpgradeCode)" "{995D198D-DD5B-471D-8BF4-05C7FEB8354E}"
  check "$arch: no modify, no repair" same "$(prop ARPNOMODIFY)$(prop ARPNOREPAIR)" 11
  check "$arch: Template $template" bash -c "msiinfo suminfo '$RA/$msi' | grep -qx 'Template: $template'"
  check "$arch: no custom actions" same "$(msiinfo export "$RA/$msi" CustomAction | tail -n +4)" ""
  check "$arch: one shortcut, in ProgramMenuFolder, to the installed exe" same \
    "$(msiinfo export "$RA/$msi" Shortcut | tail -n +4 | cut -f2,3,5 | tr -d '\r')" \
    "$(printf 'ProgramMenuFolder\tIpsetter\t[#ipsetter.exe]')"
  check "$arch: launch conditions: no downgrade; Windows 7 SP1 or later" same \
    "$(msiinfo export "$RA/$msi" LaunchCondition | tail -n +4 | tr -d '\r')" \
    "$(printf '%s\t%s\n' 'NOT WIX_DOWNGRADE_DETECTED' 'A newer version of Ipsetter is already installed.' \
      'Installed OR VersionNT > 601 OR (VersionNT = 601 AND ServicePackLevel >= 1)' \
      'Ipsetter needs Windows 7 Service Pack 1 or later.')"
  check "$arch: older versions and the same version are replaced (513), newer ones detected (2)" same \
    "$(msiinfo export "$RA/$msi" Upgrade | tail -n +4 | cut -f2,3,5,7 | tr -d '\r' | sort)" \
    "$(printf '%s\n' $'\t1.0.0\t513\tWIX_UPGRADE_DETECTED' $'1.0.0\t\t2\tWIX_DOWNGRADE_DETECTED' | sort)"
done <<<"$ARCHS"
cd "$ROOT" || exit 1

# ---------------------------------------------------------------- signed
sign_dir=$RUN/certificate
mkdir -p "$sign_dir"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$sign_dir/key.pem" -out "$sign_dir/cert.pem" -days 2 \
  -subj "/CN=Ipsetter test signing" -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1
echo "throwaway" >"$sign_dir/password"
openssl pkcs12 -export -inkey "$sign_dir/key.pem" -in "$sign_dir/cert.pem" -out "$sign_dir/cert.p12" \
  -passout "file:$sign_dir/password" >/dev/null 2>&1
check "release.sh unsigned: the exes carry no signature" bash -c "
  ! osslsigncode verify -CAfile '$sign_dir/cert.pem' -in '$RA/ipsetter.exe' &&
  ! osslsigncode verify -CAfile '$sign_dir/cert.pem' -in '$RA/ipsetter-x86.exe'"
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
# osslsigncode also writes the PE checksum when it signs or removes a signature; lld, like MSVC's
# link, leaves it 0: set it back before comparing (the field is 88 bytes into the PE header).
signature_removed_gives_release_exe() {  # EXE
  local out=$RUN/unsigned-again.exe
  rm -f "$out"
  osslsigncode remove-signature -in "$RUN/signed-pem/$1" -out "$out" || return 1
  dd if=/dev/zero of="$out" bs=1 count=4 conv=notrunc seek=$(($(od -An -t u4 -j 60 -N 4 "$out") + 88)) &&
    cmp "$out" "$RA/$1"
}
while read -r arch exe zip_suffix _; do
  for kind in pem p12; do
    for file in $exe ipsetter-1.00-$arch.msi; do
      osslsigncode verify -CAfile "$sign_dir/cert.pem" -TSA-CAfile "$sign_dir/tsa.pem" -in "$RUN/signed-$kind/$file" \
        >"$RUN/verify-$kind-$file.txt" 2>&1
      check "$arch: signed ($kind): $file verifies against the certificate" same $? 0
    done
  done
  for file in $exe ipsetter-1.00-$arch.msi; do
    check "$arch: signed (p12): $file carries a verified time stamp" \
      grep -q "^Timestamp Server Signature verification: ok" "$RUN/verify-p12-$file.txt"
  done
  check "$arch: the signed ZIP holds the signed exe" bash -c "python3 -c 'import zipfile, sys; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(\"ipsetter.exe\"))' '$RUN/signed-pem/ipsetter-1.00-$zip_suffix.zip' | cmp - '$RUN/signed-pem/$exe'"
  msiextract -C "$RUN/extract-signed-$arch" "$RUN/signed-pem/ipsetter-1.00-$arch.msi" >/dev/null 2>&1
  check "$arch: the signed MSI carries the signed exe" cmp "$(extracted "$RUN/extract-signed-$arch")" "$RUN/signed-pem/$exe"
  check "$arch: signing changes nothing but the signature and the PE checksum: the same exe once it is removed" \
    signature_removed_gives_release_exe "$exe"
  timeout -k 10 300 bash "$ROOT/tests/program_file/run.sh" "$BUILD" "$RUN/signed-pem/$exe" >"$RUN/program-file-signed-$arch.log" 2>&1
  rc=$?
  check "$arch: the signed exe passes the program-file checks ($(tail -n 1 "$RUN/program-file-signed-$arch.log"))" same $rc 0
done <<<"$ARCHS"

# ---------------------------------------------------------------- the MSIs under Wine
for arch in x64 x86; do
  bash "$ROOT/packaging/build_msi.sh" "$RA/$(arch_field $arch 2)" "$RUN/ipsetter-0.9.0-$arch.msi" 0.9.0 $arch
  check "$arch: an older version's MSI (0.9.0) builds" test -f "$RUN/ipsetter-0.9.0-$arch.msi"
done
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
