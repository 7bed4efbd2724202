#!/usr/bin/env bash
# Starts or stops a private Wine session: a fresh 32-bit prefix, a private Xvfb display and a
# persistent wineserver, all under one folder. The test run makes one per run (ctest fixture).
#   wine-session.sh start DIR...  make DIR/prefix anew, start Xvfb, write DIR/env
#   wine-session.sh stop DIR...   stop the wineserver and Xvfb of DIR
#   wine-session.sh prefix DIR    make DIR/prefix if it is missing, on the current $DISPLAY
set -euo pipefail
cmd=${1:?start|stop|prefix}
# start and stop take several folders: the test run has one session per display (see wine-run.sh);
# they start side by side.
if [ $# -gt 2 ] && { [ "$cmd" = start ] || [ "$cmd" = stop ]; }; then
  pids=()
  for folder in "${@:2}"; do
    "$0" "$cmd" "$folder" & pids+=($!)
  done
  status=0
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
  exit "$status"
fi
dir=$(mkdir -p "${2:?session folder}" && cd "$2" && pwd)

export WINEPREFIX="$dir/prefix"
export WINEDEBUG=-all
export WINEARCH=win32
export WINEDLLOVERRIDES="mscoree,mshtml="

# Wine draws the caption buttons (minimise, maximise, close) as letters of its symbol font
# Marlett. Debian's fonts-wine puts it in /usr/share/wine/fonts, a folder this Wine never reads
# (no face from it is listed); the prefix's own Fonts folder it does read.
marlett=/usr/share/wine/fonts/marlett.ttf

fail() {
  echo "wine-session: $*" >&2
  stop_session
  exit 1
}

stop_session() {
  if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
  if [ -f "$dir/xvfb.pid" ]; then
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$dir/xvfb.pid"
  fi
}

# A prefix with the code page 936 locale and Marlett.
make_prefix() {
  [ -f "$marlett" ] || fail "$marlett is missing: install fonts-wine (scripts/bootstrap.sh)"
  env LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 wineboot -i >/dev/null 2>&1 </dev/null
  wineserver -w >/dev/null 2>&1 </dev/null
  cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"
}

# Starts Xvfb, which picks a free display number itself and reports it on the given descriptor
# once it accepts clients; exports DISPLAY.
start_xvfb() {
  rm -f "$dir/display.txt"
  exec 7> "$dir/display.txt"
  Xvfb -displayfd 7 -screen 0 1280x1024x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 </dev/null &
  local pid=$!
  echo "$pid" > "$dir/xvfb.pid"
  exec 7>&-
  local number=""
  for _ in $(seq 600); do
    number=$(head -n1 "$dir/display.txt" 2>/dev/null || true)
    [[ $number =~ ^[0-9]+$ ]] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  if ! [[ $number =~ ^[0-9]+$ ]]; then
    local why="gave no display number within 30 s"
    kill -0 "$pid" 2>/dev/null || why="ended without giving a display number"
    fail "Xvfb $why; no display for the tests. Its log ($dir/xvfb.log):
$(tail -n 20 "$dir/xvfb.log" 2>/dev/null)"
  fi
  export DISPLAY=":$number"
}

case "$cmd" in
  stop)
    stop_session
    ;;
  start)
    stop_session
    rm -rf "$WINEPREFIX" "$dir/env"
    start_xvfb
    make_prefix
    # No window manager under Xvfb: let Wine draw the captions itself.
    wineserver -p >/dev/null 2>&1 </dev/null
    # The first Wine program of a server starts its services (winedevice and friends); start
    # them here with no terminal or pipe attached, so that no test's output pipe is held open.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 </dev/null
    {
      echo "export WINEPREFIX='$WINEPREFIX'"
      echo "export DISPLAY='$DISPLAY'"
    } > "$dir/env"
    ;;
  prefix)
    : "${DISPLAY:?prefix makes the prefix on the current display}"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      make_prefix
    elif [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ]; then
      [ -f "$marlett" ] || fail "$marlett is missing: install fonts-wine (scripts/bootstrap.sh)"
      cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
    ;;
  *) echo "usage: $0 start|stop|prefix DIR" >&2; exit 2 ;;
esac
