#!/usr/bin/env bash
# crashlog-report on a pile of 10,000 reports (about 100 MB: .elf logs of 32 reports, one report
# in ten as a mailed log copy in a Maildir), on one core: the wall and processor time of a whole
# run (text output and --json), best of RUNS (default 5), and the reports and groups it found.
# The target: under two seconds. Then each megabyte input of tests/fuzz/make_large_inputs.py (a
# header of encoded-word starts that never close, and the like) on its own: under 0.1 s each.
#
#   bench/crashlog_report/run.sh [COUNT]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
count=${1:-10000}
runs=${RUNS:-5}
build=$root/build/bench-crashlog-report
cmake -S "$root/tools/crashlog_report" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target crashlog-report >/dev/null
tool=$build/crashlog-report
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$root/bench/crashlog_report/make_reports.py" "$work" "$count"
echo "input: $(du -sm "$work" | cut -f1) MB on disk"
for mode in text --json; do
  best=""
  for _ in $(seq "$runs"); do
    args=("$work/logs" "$work/Maildir")
    [ "$mode" = --json ] && args=(--json "${args[@]}")
    # One core; the files are in the page cache after the first run.
    /usr/bin/time -o "$work/time" -f "%e %U %S" taskset -c 0 "$tool" "${args[@]}" >"$work/out" 2>"$work/err"
    t=$(cat "$work/time")
    best=$(printf '%s\n%s\n' "$best" "$t" | awk 'NF' | sort -n | head -1)
  done
  read -r wall user sys <<<"$best"
  printf "%-6s  wall %5.2f s  user %5.2f s  sys %5.2f s  (best of %d)\n" "$mode" "$wall" "$user" "$sys" "$runs"
done
head -1 "$work/out" | cut -c1-200
[ -s "$work/err" ] && { echo "problems reported:"; head -5 "$work/err"; }
python3 "$root/tests/fuzz/make_large_inputs.py" "$work/large"
for input in "$work/large"/*; do
  /usr/bin/time -o "$work/time" -f "%e %U %S" taskset -c 0 "$tool" "$input" >/dev/null 2>&1 || true
  read -r wall user sys <"$work/time"
  printf "%-40s  wall %5.3f s  user %5.3f s  sys %5.3f s\n" "$(basename "$input")" "$wall" "$user" "$sys"
done
exit 0
