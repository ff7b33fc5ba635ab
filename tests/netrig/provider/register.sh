# Sourceable: netrig_register_provider DLL_UNIX_PATH
# Registers the stand-in provider for CLSID_WbemLocator in the current WINEPREFIX (HKLM; Wine ignores
# HKCU here) and reads the registration back. wineboot puts Wine's own provider back: call this after
# every wineboot. Needs WINE_BIN and WINESERVER (scripts/wine-env.sh).
netrig_register_provider() {
  local dll=$1
  local key='HKLM\Software\Classes\CLSID\{4590F811-1D3A-11D0-891F-00AA004B2E24}\InprocServer32'
  local win answer
  if [ -z "${WINEPREFIX:-}" ] || [ -z "${WINE_BIN:-}" ]; then
    echo "netrig_register_provider: WINEPREFIX and WINE_BIN must be set" >&2
    return 1
  fi
  if [ ! -f "$dll" ]; then
    echo "netrig_register_provider: no DLL at $dll" >&2
    return 1
  fi
  win=$(printf 'Z:%s' "$(cd "$(dirname "$dll")" && pwd)/$(basename "$dll")" | tr '/' '\\')
  # Wine's output goes to files: its background processes would hold a pipe open.
  answer=$WINEPREFIX/netrig-reg-query.txt
  if ! timeout -k 5 60 "$WINE_BIN" reg add "$key" /ve /d "$win" /f >/dev/null 2>&1 </dev/null ||
    ! timeout -k 5 60 "$WINE_BIN" reg add "$key" /v ThreadingModel /d Both /f >/dev/null 2>&1 </dev/null; then
    echo "netrig_register_provider: reg add failed" >&2
    return 1
  fi
  if ! timeout -k 5 60 "$WINE_BIN" reg query "$key" >"$answer" 2>&1 </dev/null; then
    echo "netrig_register_provider: reg query failed" >&2
    return 1
  fi
  if ! tr -d '\r' <"$answer" | grep -qiE "^ *\(Default\) +REG_SZ +$(printf '%s' "$win" | sed 's/[][\\.*^$]/\\&/g')\$"; then
    echo "netrig_register_provider: the default value does not name $win:" >&2
    cat "$answer" >&2
    return 1
  fi
  if ! tr -d '\r' <"$answer" | grep -qiE '^ *ThreadingModel +REG_SZ +Both$'; then
    echo "netrig_register_provider: ThreadingModel is not Both" >&2
    return 1
  fi
}
