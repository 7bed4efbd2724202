#!/usr/bin/env bash
# The long fuzzing campaign (not part of the tests): builds the fuzz targets of tests/fuzz with
# clang and libFuzzer, and runs each target for RUNS executions on a working corpus seeded from
# tests/fuzz/corpus and tests/fuzz/regressions. The campaign's build (build/fuzz-fast) has UBSan
# only, for several times the executions of an AddressSanitizer build; everything it keeps is then
# replayed through the full AddressSanitizer + UBSan build (build/fuzz), as the test run does.
#
#   scripts/fuzz.sh [-r RUNS] [-j JOBS] [-t SECONDS] [TARGET...]
#                     RUNS per target in all (10,000,000), JOBS at once (1), at most SECONDS per
#                     target in this call (no limit): a later call carries on
#   scripts/fuzz.sh --seeds                           writes tests/fuzz/corpus again (needs
#                                                     build/win32/bin/Pelloran.exe and ffmpeg)
#
# Results go to build/fuzz-campaign/<target>/: log, corpus/ (what the campaign found), findings/
# (an input that crashed, leaked, timed out or ran out of memory). A summary table ends the run.
# Running it again continues each target up to RUNS executions in all; remove
# build/fuzz-campaign to start afresh.
# A finding becomes a regression input: fix the parser, then copy the file to
# tests/fuzz/regressions/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/fuzz
campaign=$root/build/fuzz-campaign

runs=10000000
jobs=1
seconds_limit=0
seeds=0
while [ $# -gt 0 ]; do
  case "$1" in
    -r) runs=$2; shift 2 ;;
    -j) jobs=$2; shift 2 ;;
    -t) seconds_limit=$2; shift 2 ;;
    --seeds) seeds=1; shift ;;
    -*) echo "usage: scripts/fuzz.sh [-r RUNS] [-j JOBS] [-t SECONDS] [TARGET...] | --seeds" >&2; exit 2 ;;
    *) break ;;
  esac
done

fast=$root/build/fuzz-fast
if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S tests/fuzz/native -B "$build" -G Ninja >/dev/null
fi
if [ ! -f "$fast/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S tests/fuzz/native -B "$fast" -G Ninja -DPELLORAN_FUZZ_SANITIZERS=undefined >/dev/null
fi
nice cmake --build "$build" >/dev/null
nice cmake --build "$fast" >/dev/null

if [ "$seeds" = 1 ]; then
  exe=$root/build/win32/bin/Pelloran.exe
  [ -f "$exe" ] || { echo "fuzz.sh: build Pelloran.exe first (cmake --build --preset win32 --target Pelloran)" >&2; exit 1; }
  cmake --build "$build" --target fuzz_make_seeds >/dev/null
  "$build/fuzz_make_seeds" tests/fuzz/corpus "$exe"
  for layout in events-v0 imagemap-v1 split-data mixed-v1 plain; do
    python3 tests/batch/rmevents/make_rm_fixture.py "tests/fuzz/corpus/rmevents/$layout.rm" \
      --layout "$layout" --seconds 0.1 >/dev/null
  done
  exit 0
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$build"/replay/*.cmake; do targets+=("$(basename "$f" .cmake)"); done
fi
for target in "${targets[@]}"; do
  if [ ! -x "$fast/fuzz_$target" ]; then
    echo "fuzz.sh: no fuzz target named $target (known: $(cd "$build/replay" && ls *.cmake | sed 's/\.cmake$//' | tr '\n' ' '))" >&2
    exit 2
  fi
done

executed() {  # executions logged so far for a target
  grep -o 'stat::number_of_executed_units: [0-9]*' "$campaign/$1/log" 2>/dev/null | awk '{s += $2} END {print s + 0}'
}

run_one() {
  local target=$1 dir=$campaign/$1
  mkdir -p "$dir/corpus" "$dir/findings"
  local inputs=("$dir/corpus" "$root/tests/fuzz/corpus/$target")
  [ -d "$root/tests/fuzz/regressions/$target" ] && inputs+=("$root/tests/fuzz/regressions/$target")
  # The mail and log reader is also fed megabyte inputs shaped to be slow (make_large_inputs.py;
  # its input size is in report_reader.flags): each has to be read within the timeout.
  if [ "$target" = report_reader ]; then
    python3 "$root/tests/fuzz/make_large_inputs.py" "$dir/large"
    inputs+=("$dir/large")
  fi
  local start=$SECONDS left failed=0
  # A campaign continues where the last one stopped, up to RUNS executions in all (the corpus
  # replay at each start counts). A finding ends the target's run (its input is in findings/):
  # fix it and run again. A run stopped by a signal from outside is started again.
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    left=$((runs - $(executed "$target")))
    [ "$left" -gt 0 ] || break
    local status=0
    # A target's own libFuzzer flags (larger inputs, say) are in tests/fuzz/<target>.flags.
    local flags=()
    [ -f "$root/tests/fuzz/$target.flags" ] && read -r -a flags <"$root/tests/fuzz/$target.flags"
    nice "$fast/fuzz_$target" -runs="$left" -max_total_time="$seconds_limit" -print_final_stats=1 \
      -timeout=10 -rss_limit_mb=2048 "${flags[@]}" -artifact_prefix="$dir/findings/" "${inputs[@]}" >>"$dir/log" 2>&1 || status=$?
    if tail -n 8 "$dir/log" | grep -q 'run interrupted'; then continue; fi
    if [ "$status" -ne 0 ]; then
      echo "$target: the fuzzer failed (exit status $status), see $dir/log and $dir/findings/" >&2
      failed=1
    fi
    break
  done
  echo $(($(cat "$dir/seconds" 2>/dev/null || echo 0) + SECONDS - start)) >"$dir/seconds"
  # What the campaign kept, through AddressSanitizer: a failing input is a finding too.
  if ! nice "$build/fuzz_$target" -runs=0 -artifact_prefix="$dir/findings/asan-" "$dir/corpus" >"$dir/asan-replay.log" 2>&1; then
    echo "$target: the AddressSanitizer replay failed, see $dir/asan-replay.log" >&2
    failed=1
  fi
  return "$failed"
}
export -f run_one executed
export build fast campaign root runs seconds_limit
# A target that failed still lets the others run and the summary print; the script then fails.
status=0
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one {}' || status=1

printf '%-16s %12s %8s %8s %10s %9s %8s\n' target executions cov ft corpus findings seconds
for target in "${targets[@]}"; do
  dir=$campaign/$target
  log=$dir/log
  execs=$(executed "$target")
  last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1)
  cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corpus=$(find "$dir/corpus" -type f | wc -l)
  findings=$(find "$dir/findings" -type f | wc -l)
  printf '%-16s %12s %8s %8s %10s %9s %8s\n' "$target" "$execs" "${cov:-?}" "${ft:-?}" "$corpus" "$findings" "$(cat "$dir/seconds")"
done
exit "$status"
