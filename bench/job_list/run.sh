#!/usr/bin/env bash
# Adding a folder of 1,000 media files to the main window: the add's time and the longest time the
# window leaves another thread's message unanswered meanwhile. Aim: both under a second.
#
#   bench/job_list/run.sh [BUILD_DIR]     (default: build/win32, the usual build)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/win32}
cmake --build "$build" --target job_list_folder_bench >/dev/null
work=$(mktemp -d)
session=$work/session
trap '"$root/scripts/wine-session.sh" stop "$session" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
"$root/scripts/wine-session.sh" start "$session" >/dev/null
export PELLORAN_WINE_SESSION=$session
"$root/scripts/wine-run.sh" "$build/bin/job_list_folder_bench.exe" | tr -d '\r'
