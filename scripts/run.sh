#!/usr/bin/env bash
# Builds Pelloran and runs it under Wine. Arguments are passed on as the program's command line
# (media files to list at start-up). Without a desktop ($DISPLAY unset) the window opens on a
# private Xvfb display and a screenshot is saved to build/win32/screenshot.png once the window
# shows.
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
app=$!
# The picture is taken once the main window is on the screen and has stopped changing (its banner
# animates, so "the same twice" is judged on everything outside it: compare whole shots but give
# up waiting for stillness after a few tries).
shot=build/win32/screenshot.png
window=""
for _ in $(seq 300); do
  window=$(xdotool search --onlyvisible --name '^Pelloran' 2>/dev/null | head -n1 || true)
  [ -n "$window" ] && break
  kill -0 "$app" 2>/dev/null || { echo "run.sh: Pelloran ended before its window showed" >&2; exit 1; }
  sleep 0.1
done
[ -n "$window" ] || { echo "run.sh: no Pelloran window within 30 s" >&2; exit 1; }
previous=""
for _ in $(seq 20); do
  xwd -root -silent | convert xwd:- "$shot"
  current=$(md5sum <"$shot")
  [ "$current" = "$previous" ] && break
  previous=$current
  sleep 0.2
done
echo "No desktop: Pelloran runs on the private display $DISPLAY; screenshot in build/win32/screenshot.png."
echo "Close it with Ctrl-C."
wait
