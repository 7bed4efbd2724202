#!/usr/bin/env bash
# Debug information figures, measured in one run:
#   1. ELDATA size against the DWARF it was packed from, for the programs built with ELDATA;
#   2. a 64-frame stack turned into locations in the program, against addr2line resolving the
#      same 64 addresses in one call; the stack scan itself in STACK_RUNS runs (default 7), the
#      modules registered first as the reporter's installation does: the first scan of a run and
#      a second one, median and range, with the reads of memory through the system per scan;
#   3. 10,000 lookups in the program, against addr2line (and llvm-symbolizer) on the same addresses.
#
#   bench/debuginfo/run.sh [BUILD_DIR]     (default: build/bench; configured if needed)
#
# BASELINE_SAMPLE=path/to/crashlog_debuginfo_sample.exe of another build (say, of main) runs
# between the runs of this one, and the scan figures are compared as ratios.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/bench}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target crashlog_debuginfo_sample crashlog_hooks_tests crashlog_modules_tests >/dev/null
sample=$build/bin/crashlog_debuginfo_sample.exe
work=$(mktemp -d)
session=$work/session
trap '"$root/scripts/wine-session.sh" stop "$session" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
"$root/scripts/wine-session.sh" start "$session" >/dev/null
export PELLORAN_WINE_SESSION=$session
run() { "$root/scripts/wine-run.sh" "$@" | tr -d '\r'; }
ms_since() { awk -v a="$1" -v b="$(date +%s%N)" 'BEGIN { printf "%.1f", (b - a) / 1e6 }'; }
value() { awk -v k="$1" '$1 == k { print $2 }' "$2"; }

echo "== ELDATA size against DWARF"
printf "%-32s %12s %12s %12s %8s\n" program "DWARF bytes" "ELDATA bytes" "unpacked" "ratio"
for exe in "$sample" "$build/bin/crashlog_hooks_tests.exe" "$build/bin/crashlog_modules_tests.exe"; do
  stats=$exe.eldata.txt
  dwarf=$(value dwarf_bytes "$stats"); eldata=$(value eldata_bytes "$stats"); raw=$(value debug_info_bytes "$stats")
  printf "%-32s %12s %12s %12s %7.2f%%\n" "$(basename "$exe")" "$dwarf" "$eldata" "$raw" \
    "$(awk -v e="$eldata" -v d="$dwarf" 'BEGIN { print 100 * e / d }')"
done

echo "== 64-frame stack to locations"
run "$sample" stack 2> "$work/frames.txt" > "$work/stack.txt"
cat "$work/stack.txt"
# Median and range of one figure over the runs' outputs.
spread() {
  awk -v k="$1" '$1 == k { print $2 }' "${@:2}" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR == 0) exit
           m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
           printf "%.3f (%.3f-%.3f, %d runs)", m, v[1], v[NR], NR }'
}
median() { spread "$@" | awk '{ print $1 }'; }
runs=${STACK_RUNS:-7}
baseline=${BASELINE_SAMPLE:-}
for i in $(seq "$runs"); do
  run "$sample" stack 2> /dev/null > "$work/scan.$i.txt"
  if [ -n "$baseline" ]; then run "$baseline" stack 2> /dev/null > "$work/baseline.$i.txt"; fi
done
for key in register_ms scan_first_ms scan_again_ms scan_first_reads scan_again_reads; do
  echo "$key $(spread "$key" "$work"/scan.*.txt)"
done
if [ -n "$baseline" ]; then
  for key in scan_first_ms scan_again_ms; do
    old=$(median "$key" "$work"/baseline.*.txt); new=$(median "$key" "$work"/scan.*.txt)
    echo "baseline_$key $(spread "$key" "$work"/baseline.*.txt) ratio $(awk -v o="$old" -v n="$new" 'BEGIN { printf "%.1f", o / n }')"
  done
fi
sed 's/^/0x/' "$work/frames.txt" > "$work/frames0x.txt"
start=$(date +%s%N)
i686-w64-mingw32-addr2line -f -C -e "$sample.debug" $(cat "$work/frames0x.txt") > /dev/null
echo "addr2line_64_ms $(ms_since "$start")"
start=$(date +%s%N)
llvm-symbolizer --obj="$sample.debug" < "$work/frames0x.txt" > /dev/null
echo "llvm_symbolizer_64_ms $(ms_since "$start")"

echo "== 10,000 lookups"
i686-w64-mingw32-nm -n --defined-only "$sample.debug" | awk '$2 == "T" || $2 == "t" { print $1 }' | uniq |
  awk 'function hex(s,  i, v) { v = 0; s = tolower(s)
         for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
         return v }
       NR > 1 { a = hex(prev); n = hex($1) - a
                if (n > 0 && n <= 65536) for (k = 0; k < 8; k++) printf "%08x\n", a + int(k * n / 8) }
       { prev = $1 }' | sort -u > "$work/all.txt"
awk -v total="$(wc -l < "$work/all.txt")" 'BEGIN { step = total / 10000 } NR > next_ && taken < 10000 { print; taken++; next_ += step }' \
  "$work/all.txt" > "$work/10k.txt"
echo "addresses $(wc -l < "$work/10k.txt")"
run "$sample" bench "$(echo "Z:$work/10k.txt" | tr '/' '\\')" 1
sed 's/^/0x/' "$work/10k.txt" > "$work/10k0x.txt"
start=$(date +%s%N)
i686-w64-mingw32-addr2line -f -C -e "$sample.debug" < "$work/10k0x.txt" > /dev/null
echo "addr2line_10000_ms $(ms_since "$start")"
start=$(date +%s%N)
llvm-symbolizer --obj="$sample.debug" < "$work/10k0x.txt" > /dev/null
echo "llvm_symbolizer_10000_ms $(ms_since "$start")"
