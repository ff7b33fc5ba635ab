# Sourceable helpers for running Windows programs under Wine in a private prefix with a private
# X server. Usage:
#   source scripts/wine-env.sh
#   wine_env /abs/build/dir/prefix-name   # sets WINEPREFIX, HOME, XDG_* under that dir
#   wine_arch win32                        # a 32-bit prefix (default win64, which runs 32-bit
#                                          # programs too, through WOW64)
#   wine_prefix_init [WINDOWS_VERSION]     # wineboot, fonts, Managed=N, e.g. win7 (idempotent)
#   xvfb_start; ...; xvfb_stop
#   wine_cleanup                           # wineserver -k for every prefix used, Xvfb stopped
# Every Wine call goes through wine_run, which wraps it in `timeout`.

export WINESERVER=/usr/lib/wine/wineserver
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d;winemenubuilder.exe=d"

WINE_ENV_PREFIXES=${WINE_ENV_PREFIXES:-}
XVFB_PID=${XVFB_PID:-}

wine_arch() {
  export WINEARCH=$1
  WINE_BIN=/usr/lib/wine/wine64
  [ "$1" = win32 ] && WINE_BIN=/usr/lib/wine/wine
  return 0
}
wine_arch win64

# wine_env DIR: a private prefix at DIR/wine with HOME and XDG dirs beside it.
wine_env() {
  local dir=$1
  mkdir -p "$dir/home" "$dir/xdg/config" "$dir/xdg/data" "$dir/xdg/cache" "$dir/xdg/runtime"
  chmod 700 "$dir/xdg/runtime"
  export WINEPREFIX=$dir/wine
  export HOME=$dir/home
  export XDG_CONFIG_HOME=$dir/xdg/config XDG_DATA_HOME=$dir/xdg/data
  export XDG_CACHE_HOME=$dir/xdg/cache XDG_RUNTIME_DIR=$dir/xdg/runtime
  case " $WINE_ENV_PREFIXES " in
    *" $WINEPREFIX "*) ;;
    *) WINE_ENV_PREFIXES="$WINE_ENV_PREFIXES $WINEPREFIX" ;;
  esac
}

# wine_run SECONDS PROGRAM ARGS...: one Wine program, killed after SECONDS.
wine_run() {
  local secs=$1
  shift
  timeout -k 5 "$secs" "$WINE_BIN" "$@"
}

wine_server_kill() {
  WINEPREFIX=${1:-$WINEPREFIX} timeout 20 "$WINESERVER" -k 2>/dev/null || true
}

wine_server_wait() {
  timeout 60 "$WINESERVER" -w 2>/dev/null || true
}

# Creates the prefix once. Runs without DISPLAY (faster); the caller may wrap this in
# `ip netns exec` so the prefix's device process lives in a namespace.
wine_prefix_init() {
  local version=${1:-}
  if [ "$(cat "$WINEPREFIX/.e2e-ready" 2>/dev/null)" != "$WINEARCH $version" ]; then
    rm -rf "$WINEPREFIX"
    DISPLAY= wine_run 120 wineboot -i >/dev/null 2>&1 || { echo "wineboot failed" >&2; return 1; }
    wine_server_wait
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    local reg=$WINEPREFIX/drive_c/e2e-x11.reg
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n' >"$reg"
    [ -z "$version" ] || printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine]\r\n"Version"="%s"\r\n' "$version" >>"$reg"
    DISPLAY= wine_run 60 regedit /S 'C:\e2e-x11.reg' >/dev/null 2>&1 || { echo "regedit failed" >&2; return 1; }
    wine_server_wait
    echo "$WINEARCH $version" >"$WINEPREFIX/.e2e-ready"
  fi
}

# serve_driver_requests HANDLER SYNC_DIR: reads a driver's output and runs what it asks for. A line
# "@@CMD <n> <verb> <args>" calls `HANDLER verb args`, then touches SYNC_DIR/done-<n> (the driver
# waits for it); "@@END" ends the reading; every other line is printed.
serve_driver_requests() {
  local handler=$1 sync=$2 line n rest verb args
  while IFS= read -r line; do
    [ -f "$sync/started" ] || touch "$sync/started"
    line=${line%$'\r'}
    case $line in
      "@@END") break ;;
      "@@CMD "*)
        rest=${line#@@CMD }
        n=${rest%% *}
        rest=${rest#"$n" }
        verb=${rest%% *}
        args=${rest#"$verb"}
        "$handler" "$verb" "${args# }"
        touch "$sync/done-$n"
        ;;
      *) printf '%s\n' "$line" ;;
    esac
  done
}

# run_driver SECS HANDLER SYNC_DIR STDERR_FILE PROGRAM ARGS...: runs a driver under Wine and serves
# its requests; its exit code is the result. On a busy machine a driver twice ended before its first
# line, with nothing on stderr and nothing done: such a start is said in the log and made once more.
run_driver() {
  local secs=$1 handler=$2 sync=$3 err=$4 attempt rc=1
  shift 4
  for attempt in 1 2; do
    rm -f "$sync/started"
    wine_run "$secs" "$@" 2>"$err" | serve_driver_requests "$handler" "$sync"
    rc=${PIPESTATUS[0]}
    [ -f "$sync/started" ] && return "$rc"
    echo "# the driver ended with $rc before its first line (start $attempt)"
    wine_server_kill
  done
  return "$rc"
}

# coverage_lane NAME: under scripts/coverage.sh (COVERAGE_GCDA set), a gcov build's programs write
# their counts into COVERAGE_GCDA/NAME, one folder per lane, so that lanes can be told apart.
coverage_lane() {
  [ -n "${COVERAGE_GCDA:-}" ] || return 0
  mkdir -p "$COVERAGE_GCDA/$1"
  GCOV_PREFIX=$(wine_path "$COVERAGE_GCDA/$1")
  export GCOV_PREFIX
}

# Unix path -> the Z: path Wine programs see.
wine_path() {
  printf 'Z:%s' "$1" | tr '/' '\\'
}

# Starts Xvfb on a free display (1024x768x24) and exports DISPLAY.
xvfb_start() {
  local fifo
  fifo=$(mktemp -u /tmp/e2e-xvfb.XXXXXX)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  local display
  if ! read -r -t 20 display <"$fifo"; then
    rm -f "$fifo"
    echo "Xvfb did not start" >&2
    xvfb_stop
    return 1
  fi
  rm -f "$fifo"
  export DISPLAY=:$display
}

xvfb_stop() {
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
  fi
}

# netns_delete NS: ends what still runs in the network namespace NS, removes it and its files.
netns_delete() {
  if ip netns list 2>/dev/null | grep -qw "$1"; then
    ip netns pids "$1" 2>/dev/null | while read -r pid; do kill "$pid" 2>/dev/null; done
    ip netns delete "$1"
  fi
  rm -rf "/etc/netns/$1"
}

wine_cleanup() {
  local p
  for p in $WINE_ENV_PREFIXES; do
    wine_server_kill "$p"
  done
  xvfb_stop
}
