#!/usr/bin/env bash
# The cost of the interception layer on a C++ throw caught one and twenty frames up: the plain
# program, and the program with the layer linked: not installed, installed, and installed with a
# notification that asks IsExceptionHandled, as the reporter does (the layer then keeps the stack
# between the raise and its catching frame); and the whole reporter installed, which also writes
# the EXCEPT channel at every raise. Aim for both: at most 1.5 times a plain throw.
#
#   bench/intercept/run.sh [BUILD_DIR]     (default: build/bench; configured if needed)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/bench}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target crashlog_throw_bench crashlog_throw_bench_plain crashlog_throw_bench_reporter >/dev/null
work=$(mktemp -d)
session=$work/session
trap '"$root/scripts/wine-session.sh" stop "$session" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
"$root/scripts/wine-session.sh" start "$session" >/dev/null
export PELLORAN_WINE_SESSION=$session
run() { "$root/scripts/wine-run.sh" "$@" | tr -d '\r'; }

# Three runs of each program. Inside the layer's program the configurations take turns in small
# batches, so their ratio holds on a busy machine; the plain program's figures (a separate process)
# show that the layer linked but not installed costs nothing measurable.
run "$build/bin/crashlog_throw_bench_plain.exe" >/dev/null  # warm-up: the session's first programs start its services
for turn in 1 2 3; do
  run "$build/bin/crashlog_throw_bench_plain.exe"
  run "$build/bin/crashlog_throw_bench.exe"
  run "$build/bin/crashlog_throw_bench_reporter.exe"
done | tee "$work/figures.txt"
echo "== against not-installed, run by run"
awk '{ split($2, d, "="); split($3, t, "="); v[$1, d[2]] = t[2] }
     $1 == "reporter" && d[2] == 20 {
       printf "whole reporter: %.2fx / %.2fx  (depth 1 / 20), %.2f / %.2f us more a raise\n",
         v["reporter", 1] / v["not-installed", 1], v["reporter", 20] / v["not-installed", 20],
         v["reporter", 1] - v["not-installed", 1], v["reporter", 20] - v["not-installed", 20] }
     $1 == "notified" && d[2] == 20 {
       printf "installed: %.2fx / %.2fx   notified (IsExceptionHandled at every raise): %.2fx / %.2fx  (depth 1 / 20)\n",
         v["installed", 1] / v["not-installed", 1], v["installed", 20] / v["not-installed", 20],
         v["notified", 1] / v["not-installed", 1], v["notified", 20] / v["not-installed", 20] }' "$work/figures.txt"
