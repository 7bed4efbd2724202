#!/usr/bin/env bash
# Builds Pelloran and runs it under Wine. Arguments are passed on as the program's command line
# (media files to list at start-up). Without a desktop ($DISPLAY unset) the window opens on a
# private Xvfb display and a screenshot is saved to build/win32/screenshot.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target Pelloran rmevents

session=$PWD/build/win32/wine-app
export WINEDEBUG=-all WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=$session/prefix

# Linux paths become Windows paths on drive Z:, which Wine maps to the root folder.
args=()
for f in "$@"; do
  if [ -e "$f" ]; then
    p=$(realpath "$f")
    args+=("Z:${p//\//\\}")
  else
    args+=("$f")
  fi
done

if [ -n "${DISPLAY:-}" ]; then
  scripts/wine-session.sh prefix "$session"
  exec env LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 wine build/win32/bin/Pelloran.exe "${args[@]}"
fi

scripts/wine-session.sh start "$session" >/dev/null
trap 'scripts/wine-session.sh stop "$session"' EXIT INT TERM
# shellcheck disable=SC1091
. "$session/env"
env LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 wine build/win32/bin/Pelloran.exe "${args[@]}" &
sleep "${PELLORAN_SCREENSHOT_DELAY:-4}"
xwd -root -silent | convert xwd:- build/win32/screenshot.png
echo "No desktop: Pelloran runs on the private display $DISPLAY; screenshot in build/win32/screenshot.png."
echo "Close it with Ctrl-C."
wait
