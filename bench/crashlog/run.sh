#!/usr/bin/env bash
# Crash-reporter figures, measured in one run:
#   1. the time from a fault 64 frames deep in an event handler to its report written in the log
#      (dialog off), over 20 faults;
#   2. the cost of a C++ throw caught one frame up and twenty frames up, with the reporter
#      installed against without.
#
#   bench/crashlog/run.sh [BUILD_DIR]     (default: build/win32, the tests' build)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/win32}
cmake --build "$build" --target crashlog_fault_report_bench >/dev/null
work=$(mktemp -d)
session=$work/session
trap '"$root/scripts/wine-session.sh" stop "$session" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
"$root/scripts/wine-session.sh" start "$session" >/dev/null
export PELLORAN_WINE_SESSION=$session

echo "== fault to report in the log (64 frames, dialog off)"
bench=$build/bench/fault_report/crashlog_fault_report_bench.exe
rm -f "${bench%.exe}.elf"
"$root/scripts/wine-run.sh" "$bench" 20 | tr -d '\r' | tail -1
