#!/usr/bin/env bash
# Runs a Windows program under Wine in the session named by PELLORAN_WINE_SESSION
# (see wine-session.sh), with code page 936. Used as CMake's cross-compiling emulator.
set -euo pipefail
session=${PELLORAN_WINE_SESSION:?PELLORAN_WINE_SESSION names the Wine session folder}
if [ ! -f "$session/env" ]; then
  echo "wine-run: no Wine session in $session (start it with scripts/wine-session.sh start)" >&2
  exit 125
fi
# Set on their own: a failure before them must not let Wine fall back to ~/.wine.
export WINEDEBUG=-all
export WINEARCH=win32
export WINEDLLOVERRIDES="mscoree,mshtml="

# shellcheck disable=SC1091
. "$session/env"
exec env LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 wine "$@"
