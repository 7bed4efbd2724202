#!/usr/bin/env bash
# Starts or stops a private Wine session: a fresh 32-bit prefix, a private Xvfb display and a
# persistent wineserver, all under one folder. The test run makes one per run (ctest fixture).
#   wine-session.sh start DIR     make DIR/prefix anew, start Xvfb, write DIR/env
#   wine-session.sh stop DIR      stop the wineserver and Xvfb of DIR
set -euo pipefail
cmd=${1:?start|stop}
dir=$(mkdir -p "${2:?session folder}" && cd "$2" && pwd)

export WINEPREFIX="$dir/prefix"
export WINEDEBUG=-all
export WINEARCH=win32
export WINEDLLOVERRIDES="mscoree,mshtml="


stop_session() {
  if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
  if [ -f "$dir/xvfb.pid" ]; then
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$dir/xvfb.pid"
  fi
}

case "$cmd" in
  stop)
    stop_session
    ;;
  start)
    stop_session
    rm -rf "$WINEPREFIX" "$dir/env"
    # Xvfb picks a free display number itself and reports it on the given descriptor.
    exec 7> "$dir/display.txt"
    Xvfb -displayfd 7 -screen 0 1280x1024x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 </dev/null &
    echo $! > "$dir/xvfb.pid"
    exec 7>&-
    for _ in $(seq 100); do [ -s "$dir/display.txt" ] && break; sleep 0.05; done
    display=":$(head -n1 "$dir/display.txt")"
    export DISPLAY=$display
    env LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 wineboot -i >/dev/null 2>&1 </dev/null
    # No window manager under Xvfb: let Wine draw the captions itself.
    wineserver -w >/dev/null 2>&1 </dev/null
    wineserver -p >/dev/null 2>&1 </dev/null
    # The first Wine program of a server starts its services (winedevice and friends); start
    # them here with no terminal or pipe attached, so that no test's output pipe is held open.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 </dev/null
    {
      echo "export WINEPREFIX='$WINEPREFIX'"
      echo "export DISPLAY='$display'"
    } > "$dir/env"
    ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
