#!/bin/bash
# Checks the program file, x64 or x86: version information, icon and load configuration read back
# under Wine, the DLLs it imports (Windows' own, and no more than these), the functions it imports
# (each on imports.txt, none newer than Windows 7 SP1), and the hardening and reproducibility of
# its PE header.
# Usage: tests/program_file/run.sh BUILD_DIR [EXE]   (EXE: another copy, e.g. a signed one; either
# architecture's checker reads either kind of file)
# Ends with "N passed, N failed".
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=$(cd "${1:-$ROOT/build/mingw}" && pwd)
EXE=${2:-$BUILD/src/win32/ipsetter.exe}
passed=0 failed=0

# Every DLL a stock Windows 10 has in System32; anything else would have to ship beside the exe.
system_dlls="kernel32.dll user32.dll gdi32.dll comctl32.dll shell32.dll ole32.dll oleaut32.dll advapi32.dll
msvcrt.dll ucrtbase.dll shlwapi.dll uxtheme.dll version.dll comdlg32.dll"
imports=$(x86_64-w64-mingw32-objdump -p "$EXE" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
echo "imports: $(echo $imports)"
for dll in $imports; do
  case " $(echo $system_dlls) " in
    *" $dll "* | *" api-ms-win-"*) echo "ok   $dll is a Windows system DLL"; passed=$((passed + 1)) ;;
    *) echo "FAIL $dll is not a Windows system DLL"; failed=$((failed + 1)) ;;
  esac
done
# No DLL beyond these: a new one must be a decision, not a side effect. advapi32 came with the
# stack protector (its canary comes from CryptGenRandom); ole32 loads it into every process anyway.
expected="advapi32.dll comctl32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll user32.dll"
if [ "$(echo $imports)" = "$expected" ]; then
  echo "ok   imports exactly: $expected"; passed=$((passed + 1))
else
  echo "FAIL imports $(echo $imports), expected $expected"; failed=$((failed + 1))
fi
echo "size: $(stat -c %s "$EXE") bytes"

# What each kind of PE must say in its header, one line per kind: Magic, name, Characteristics,
# DllCharacteristics and their names, the load configuration's size (load_config.cpp) and the
# stack-guard canary's fallback (stack_guard.cpp). HIGH_ENTROPY_VA exists for 64-bit images only;
# MinGW's i686 code registers no SEH handler (it unwinds with DWARF tables), so x86 says NO_SEH.
pe_kinds="\
020b x64 0x22 00008160 HIGH_ENTROPY_VA,DYNAMIC_BASE,NX_COMPAT,TERMINAL_SERVICE_AWARE 00000070 5a3c96e1f00d2b47
010b x86 0x122 00008540 DYNAMIC_BASE,NX_COMPAT,NO_SEH,TERMINAL_SERVICE_AWARE 00000048 f00d2b47"
pe_kind() {  # pe_kind FILE: that file's line of pe_kinds
  local magic
  magic=$(x86_64-w64-mingw32-objdump -p "$1" 2>/dev/null | awk '$1 == "Magic" {print $2}')
  awk -v m="$magic" '$1 == m' <<<"$pe_kinds"
}
header=$(x86_64-w64-mingw32-objdump -p "$EXE")
read -r _ arch characteristics dll_characteristics dll_flags lc_expected _ < <(pe_kind "$EXE")
if [ -n "${arch:-}" ]; then
  echo "ok   an $arch image $(awk '$1 == "Magic" {print $3}' <<<"$header")"; passed=$((passed + 1))
else
  echo "FAIL neither a PE32 nor a PE32+ image"; failed=$((failed + 1))
fi
read -r _ actual < <(grep '^Characteristics' <<<"$header")
if [ "$actual" = "$characteristics" ] && grep -q $'^\tlarge address aware$' <<<"$header"; then
  echo "ok   Characteristics $actual: large address aware"; passed=$((passed + 1))
else
  echo "FAIL Characteristics \"$actual\", expected $characteristics, large address aware"; failed=$((failed + 1))
fi
read -r _ actual < <(grep '^DllCharacteristics' <<<"$header")
names=$(sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p' <<<"$header" | awk 'NF == 1 {print $1}' | paste -sd,)
if [ "$actual" = "$dll_characteristics" ] && [ "$names" = "$dll_flags" ]; then
  echo "ok   DllCharacteristics $actual: $names"; passed=$((passed + 1))
else
  echo "FAIL DllCharacteristics $actual ($names), expected $dll_characteristics ($dll_flags)"; failed=$((failed + 1))
fi
# Windows 7 at the oldest: Vista and XP refuse the file as not a valid Win32 application.
subsystem=$(awk '$1 == "MajorSubsystemVersion" {major = $2} $1 == "MinorSubsystemVersion" {print major "." $2}' <<<"$header")
if [ "$subsystem" = 6.1 ]; then
  echo "ok   subsystem version 6.1"; passed=$((passed + 1))
else
  echo "FAIL subsystem version \"$subsystem\", expected 6.1"; failed=$((failed + 1))
fi
if grep "^Time/Date.*Jan  1 00:00:00 1970" <<<"$header" >/dev/null; then
  echo "ok   no link time in the PE header (time stamp 0)"; passed=$((passed + 1))
else
  echo "FAIL the PE header carries a time stamp: $(echo "$header" | grep '^Time/Date')"; failed=$((failed + 1))
fi
# The load configuration (load_config.cpp), in the data directory with the size of its layout; the
# checker reads its DependentLoadFlags.
read -r lc_rva lc_size < <(awk '/Load Configuration Directory/ {print $3, $4}' <<<"$header")
if [ -n "${lc_expected:-}" ] && [ "$lc_size" = "$lc_expected" ] && [[ $lc_rva =~ [1-9a-f] ]]; then
  echo "ok   load configuration at RVA 0x$lc_rva, 0x${lc_size#0000} bytes"; passed=$((passed + 1))
else
  echo "FAIL load configuration: RVA \"$lc_rva\", size \"$lc_size\", expected \"${lc_expected:-}\""; failed=$((failed + 1))
fi
if [ "${arch:-}" = x86 ]; then
  # NO_SEH holds only while no code links a frame into the SEH chain, which starts at %fs:0.
  seh=$(x86_64-w64-mingw32-objdump -d "$EXE" | grep -cE '%fs:(0x0\b|\()')
  if [ "$seh" = 0 ]; then
    echo "ok   no code reaches the SEH chain (%fs:0)"; passed=$((passed + 1))
  else
    echo "FAIL $seh instructions reach the SEH chain (%fs:0): NO_SEH would end the process at an exception"
    failed=$((failed + 1))
  fi
fi
# The stack protector's own runtime (stack_guard.cpp): seeded by RtlGenRandom, failing fast; libssp's
# seed (CryptAcquireContext, which loads a crypto provider at every start) not linked in.
imported=$(x86_64-w64-mingw32-objdump -p "$EXE" | awk '/DLL Name:/ {dll = tolower($3)} NF == 3 && $1 ~ /^[0-9a-f]+$/ {print dll "!" $3}')
for fn in advapi32.dll!SystemFunction036 kernel32.dll!RaiseFailFastException; do
  if grep -qx "$fn" <<<"$imported"; then
    echo "ok   stack guard: imports $fn"; passed=$((passed + 1))
  else
    echo "FAIL stack guard: $fn not imported"; failed=$((failed + 1))
  fi
done
if grep -q "CryptAcquireContext" <<<"$imported"; then
  echo "FAIL libssp's seed (CryptAcquireContext) is linked in"; failed=$((failed + 1))
else
  echo "ok   libssp's seed (CryptAcquireContext) not linked in"; passed=$((passed + 1))
fi

# What the loader resolves before any of our code runs, the static MinGW runtime's imports included:
# each function on imports.txt and none newer than Windows 7 SP1, no DLL that stock Windows 7 lacks.
# An ordinal import is named #N, and so is on no list.
imports_read=$(x86_64-w64-mingw32-objdump -p "$EXE" | awk '
  /DLL Name:/ { dll = tolower($3); next }
  /^$/ { dll = "" }
  dll != "" && $1 ~ /^[0-9a-f]+$/ && NF >= 2 { print dll "!" (NF >= 3 && $3 != "<none>" ? $3 : "#" $2) }' | sort -u)
verdicts=$(awk 'NR == FNR { if ($0 !~ /^#/ && NF >= 2) since[$1] = $2; next }
  { if (!($1 in since)) { print "unknown " $1; next }
    split(since[$1], v, "."); print ((v[1] > 6 || (v[1] == 6 && v[2] > 1)) ? "newer " : "ok ") $1 " " since[$1] }' \
  "$ROOT/tests/program_file/imports.txt" - <<<"$imports_read")
unknown=$(awk '$1 == "unknown" {print $2}' <<<"$verdicts")
newer=$(awk '$1 == "newer" {print $2 " (" $3 ")"}' <<<"$verdicts")
absent=$(cut -d'!' -f1 <<<"$imports_read" | sort -u | grep -E '^(ucrtbase|api-ms-win-.*|shcore|combase)\.dll$')
if [ -n "$imports_read" ] && [ -z "$unknown" ]; then
  echo "ok   all $(wc -l <<<"$imports_read") imported functions are on imports.txt"; passed=$((passed + 1))
else
  echo "FAIL imports not on imports.txt: $(echo ${unknown:-"(none read)"})"; failed=$((failed + 1))
fi
if [ -n "$imports_read" ] && [ -z "$newer" ]; then
  echo "ok   no import needs more than Windows 7 SP1 (6.1)"; passed=$((passed + 1))
else
  echo "FAIL imports newer than Windows 7 SP1: $(echo $newer)"; failed=$((failed + 1))
fi
if [ -z "$absent" ]; then
  echo "ok   no DLL that stock Windows 7 lacks (ucrtbase, api-ms-win-*, shcore, combase)"; passed=$((passed + 1))
else
  echo "FAIL DLLs that stock Windows 7 lacks: $(echo $absent)"; failed=$((failed + 1))
fi

# shellcheck source=scripts/wine-env.sh
source "$ROOT/scripts/wine-env.sh"
wine_env "$BUILD/program-file-run"
trap wine_cleanup EXIT
wine_prefix_init >/dev/null 2>&1 || { echo "FAIL Wine prefix"; failed=$((failed + 1)); }
out=$(DISPLAY= wine_run 60 "$BUILD/tests/program_file/check-program-file.exe" "$(wine_path "$EXE")" 2>&1)
echo "$out" | grep -v " passed, "

# The stack protector at work, in a program built like this one.
guard_check=$(wine_path "$BUILD/tests/program_file/stack-guard-check.exe")
g1=$(DISPLAY= wine_run 30 "$BUILD/tests/program_file/stack-guard-check.exe" guard 2>/dev/null | tr -d '\r')
g2=$(DISPLAY= wine_run 30 "$BUILD/tests/program_file/stack-guard-check.exe" guard 2>/dev/null | tr -d '\r')
# Two hex digits a byte of the checker's own kind, neither zero nor the fallback.
read -r _ _ _ _ _ _ fallback < <(pe_kind "$BUILD/tests/program_file/stack-guard-check.exe")
if [[ $g1 =~ ^[0-9a-f]{${#fallback}}$ ]] && [ "$g1" != "$g2" ] && [[ $g1 =~ [1-9a-f] ]] && [ "$g1" != "$fallback" ]; then
  echo "ok   the canary is seeded anew at each start ($g1, $g2)"; passed=$((passed + 1))
else
  echo "FAIL the canary is not seeded: \"$g1\", \"$g2\""; failed=$((failed + 1))
fi
# Ended by the fail-fast path: Wine answers RaiseFailFastException with 0xC0000602, Windows too;
# 0xC0000409 where it returns and the process terminates itself.
for mode in smash fortify; do
  level=$(DISPLAY= wine_run 30 cmd /c "$guard_check $mode & echo errorlevel %errorlevel%" 2>/dev/null |
    tr -d '\r' | sed -n 's/^errorlevel //p')
  case $level in
    -1073740286 | -1073740791) echo "ok   $mode: an overrun ends the process at once ($level)"; passed=$((passed + 1)) ;;
    *) echo "FAIL $mode: the overrun was not stopped (errorlevel \"$level\")"; failed=$((failed + 1)) ;;
  esac
done
p=$(echo "$out" | sed -n 's/^\([0-9]*\) passed, \([0-9]*\) failed.*/\1/p')
f=$(echo "$out" | sed -n 's/^\([0-9]*\) passed, \([0-9]*\) failed.*/\2/p')
[ -n "$p" ] || { echo "FAIL the checker did not finish"; f=1; p=0; }
echo "$((passed + p)) passed, $((failed + f)) failed"
[ $((failed + f)) -eq 0 ]
