#!/usr/bin/env bash
# Runs a Windows program under Wine in the session named by PELLORAN_WINE_SESSION
# (see wine-session.sh), with code page 936. Used as CMake's cross-compiling emulator.
set -euo pipefail
session=${PELLORAN_WINE_SESSION:?PELLORAN_WINE_SESSION names the Wine session folder}
# Window tests need a display, a foreground and a focus of their own. The test run has three
# sessions, each with its Xvfb display and wineserver, and ctest hands each window test one of them
# (resource "displays", ids 0 to 2: tests/displays.json); display 0 is the session named above,
# which the other tests share.
display_id=""
if [ -n "${CTEST_RESOURCE_GROUP_0_DISPLAYS:-}" ]; then
  display_id=${CTEST_RESOURCE_GROUP_0_DISPLAYS#id:}
  display_id=${display_id%%,*}
  [ "$display_id" = 0 ] || session="$session-display$display_id"
  unset CTEST_RESOURCE_GROUP_COUNT CTEST_RESOURCE_GROUP_0 CTEST_RESOURCE_GROUP_0_DISPLAYS
fi
if [ ! -f "$session/env" ]; then
  echo "wine-run: no Wine session in $session (start it with scripts/wine-session.sh start)" >&2
  exit 125
fi
# Set on their own: a failure before them must not let Wine fall back to ~/.wine.
export WINEDEBUG=-all
export WINEARCH=win32
export WINEDLLOVERRIDES="mscoree,mshtml="

# A window test run without ctest's allocation (ctest without the preset) waits for display 0.
lock=()
if [ -n "${PELLORAN_NEEDS_DISPLAY:-}" ] && [ -z "$display_id" ]; then
  lock=(flock "$session/display.lock")
fi
unset PELLORAN_NEEDS_DISPLAY
# --env: runs a test driver (not a Windows program) with PELLORAN_WINE_SESSION naming its session;
# the Windows programs it starts through this script run there too.
if [ "${1:-}" = --env ]; then
  shift
  export PELLORAN_WINE_SESSION=$session
  exec "${lock[@]}" "$@"
fi
# shellcheck disable=SC1091
. "$session/env"
exec "${lock[@]}" env LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 wine "$@"
