#!/bin/sh
# Cleaning a file crafted against the cleaner's scans, against a flushed read-and-write copy of
# the same bytes, in one native process (a plain Release build, no sanitizers).
#   bench/rmevents/run_crafted.sh [runs]
set -e
root=$(cd "$(dirname "$0")/../.." && pwd)
build="$root/build/rm-native-bench"
cmake -S "$root/tests/batch/rmevents/native" -B "$build" -G Ninja -DRMEVENTS_SANITIZE=OFF \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target rmevents_crafted_bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/rmevents_crafted_bench" "${1:-5}" "$work"
