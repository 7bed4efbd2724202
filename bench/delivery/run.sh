#!/usr/bin/env bash
# The screenshot's PNG writer against zlib level 9 on the same rows, 1920x1080 at 8 bits, in one
# run: natively (the writer is pure code) and, as the reporter ships, built for Windows under Wine.
#   bench/delivery/run.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
sources=("$root/bench/delivery/png_bench.cpp" "$root/crashlog/delivery/png_writer.cpp" "$root/base/exceptions.cpp")

echo "== native (g++ -O2, the system's zlib)"
g++ -std=c++20 -O2 -I"$root" "${sources[@]}" -lz -o "$work/png_bench"
"$work/png_bench"

echo "== Windows build under Wine (mingw-w64 -O2, its zlib)"
i686-w64-mingw32-g++-posix -std=c++20 -O2 -static -I"$root" "${sources[@]}" -lz -o "$work/png_bench.exe"
export WINEDEBUG=-all
WINEPREFIX=$work/prefix WINEARCH=win32 wine "$work/png_bench.exe" 2>/dev/null | tr -d '\r'
