#!/usr/bin/env python3
"""The ELDATA tool against reading the same DWARF with llvm-dwarfdump, in paired runs.

    bench/debuginfo/tool_speed.py [PROGRAM.debug] [--runs N] [--tool PATH]

PROGRAM.debug is a program as linked, with its DWARF (default: build/win32/bin/Pelloran.exe.debug,
which the build keeps beside Pelloran.exe). The tool packs it into a copy of the stripped program;
the yardstick is `llvm-dwarfdump-14 --debug-info --debug-line` with its output thrown away. The two
run in turn, pair by pair, and the ratio tool / dwarfdump is taken per pair, so that a machine
that speeds up or slows down during the run moves both sides alike. Prints wall and CPU seconds of
each pair and the median ratios.
"""

import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def timed(command):
    """Wall and CPU (user + system) seconds of one run of `command`, output discarded."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program", nargs="?", default=os.path.join(ROOT, "build/win32/bin/Pelloran.exe.debug"))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--tool", default=os.path.join(ROOT, "build/win32/host/eldata/pelloran-eldata"))
    args = parser.parse_args()
    for path in (args.program, args.tool):
        if not os.path.exists(path):
            sys.exit(f"tool_speed: {path} is missing: build first (cmake --build --preset win32)")

    with tempfile.TemporaryDirectory() as work:
        stripped = os.path.join(work, "stripped.exe")
        subprocess.run(["i686-w64-mingw32-strip", "--strip-debug", "-o", stripped, args.program], check=True)
        tool = [args.tool, "--dwarf", args.program, "--image", stripped, "--output", os.path.join(work, "out.exe")]
        dump = ["llvm-dwarfdump-14", "--debug-info", "--debug-line", args.program]
        timed(tool), timed(dump)  # warm the page cache for both
        walls, cpus = [], []
        print(f"{'run':>4} {'tool wall':>10} {'dump wall':>10} {'ratio':>7} {'tool cpu':>10} {'dump cpu':>10} {'ratio':>7}")
        for run in range(1, args.runs + 1):
            tool_wall, tool_cpu = timed(tool)
            dump_wall, dump_cpu = timed(dump)
            walls.append(tool_wall / dump_wall)
            cpus.append(tool_cpu / dump_cpu)
            print(f"{run:>4} {tool_wall:>9.2f}s {dump_wall:>9.2f}s {walls[-1]:>7.3f} "
                  f"{tool_cpu:>9.2f}s {dump_cpu:>9.2f}s {cpus[-1]:>7.3f}")
    size = os.path.getsize(args.program)
    print(f"{os.path.basename(args.program)} ({size / 1e6:.1f} MB): median ratio tool / llvm-dwarfdump "
          f"{statistics.median(walls):.3f} wall, {statistics.median(cpus):.3f} CPU")


if __name__ == "__main__":
    main()
