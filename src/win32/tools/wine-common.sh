# Sourced: a private Wine prefix and a virtual X server for one run, cleaned up on exit.
#   wine_setup DIR DPI   makes (once) the prefix DIR/prefix with fonts, Managed=N and LogPixels=DPI
#   xvfb_start           starts Xvfb on a free display and exports DISPLAY
wine=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver WINELOADER=/usr/lib/wine/wine64 WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d;winemenubuilder.exe=d"
xvfb_pid=""

wine_cleanup() {
  [ -n "${WINEPREFIX:-}" ] && "$WINESERVER" -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
}
trap wine_cleanup EXIT

wine_setup() {
  local work=$1 dpi=$2
  export WINEPREFIX=$work/prefix HOME=$work/home XDG_RUNTIME_DIR=$work/run
  export XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share XDG_CACHE_HOME=$work/home/.cache
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  (unset DISPLAY; timeout 120 "$wine" wineboot -i >/dev/null 2>&1)
  timeout 60 "$WINESERVER" -w
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n' \
    "$dpi" >"$work/settings.reg"
  (unset DISPLAY; timeout 60 "$wine" regedit /S "$work/settings.reg" >/dev/null 2>&1)
  timeout 60 "$WINESERVER" -w
}

xvfb_start() {
  local display_file
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
  export DISPLAY=:$(head -n1 "$display_file")
  rm -f "$display_file"
}
