#!/bin/bash
# Checks the program file: version information and icon read back under Wine, and that the exe
# needs no DLL beyond those Windows ships. Usage: tests/program_file/run.sh BUILD_DIR
# Ends with "N passed, N failed".
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=${1:-$ROOT/build/mingw}
EXE=$BUILD/src/win32/ipsetter.exe
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
echo "size: $(stat -c %s "$EXE") bytes"

# shellcheck source=scripts/wine-env.sh
source "$ROOT/scripts/wine-env.sh"
wine_env "$BUILD/program-file-run"
trap wine_cleanup EXIT
wine_prefix_init >/dev/null 2>&1 || { echo "FAIL Wine prefix"; failed=$((failed + 1)); }
out=$(DISPLAY= wine_run 60 "$BUILD/tests/program_file/check-program-file.exe" "$(wine_path "$EXE")" 2>&1)
echo "$out" | grep -v " passed, "
p=$(echo "$out" | sed -n 's/^\([0-9]*\) passed, \([0-9]*\) failed.*/\1/p')
f=$(echo "$out" | sed -n 's/^\([0-9]*\) passed, \([0-9]*\) failed.*/\2/p')
[ -n "$p" ] || { echo "FAIL the checker did not finish"; f=1; p=0; }
echo "$((passed + p)) passed, $((failed + f)) failed"
[ $((failed + f)) -eq 0 ]
