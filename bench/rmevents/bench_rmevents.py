#!/usr/bin/env python3
"""Cleaning a large generated RealMedia file with rmevents.exe (under Wine) against copying the
same file with cp and flushing the copy (sync), in the same run, with the peak memory of each.

    bench/rmevents/bench_rmevents.py [--build-dir build/win32] [--size-mb 500] [--runs 5]

Makes the file with ffmpeg and tests/batch/rmevents/make_rm_fixture.py (video, audio and an
event stream; its index has an entry per event), then a file ten times smaller, and for each
runs cp + sync and the tool in turn after a warm-up of both, timing every run with /usr/bin/time
(the tool flushes its output before it puts it in place, so the copy is flushed too). It
prints the medians, the median of the per-pair ratios tool/(cp + sync) with their smallest and largest,
and the largest peak resident memory: the tool streams, so its memory must not grow with the
file. The machine is shared: quote the median ratio with its spread, not one run. Wine adds its own
resident memory (about 20 MB) to every Windows program; the line "Wine baseline" measures it
with the tool's usage message.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "batch", "rmevents"))
import make_rm_fixture  # noqa: E402
import wine_tool  # noqa: E402


def timed(cmd, cwd, env=None, check=True):
    """Wall seconds and peak resident kilobytes of one run."""
    with tempfile.NamedTemporaryFile("r") as out:
        subprocess.run(["/usr/bin/time", "-f", "%e %M", "-o", out.name] + cmd, cwd=cwd, env=env,
                       check=check, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wall, rss = out.read().split()[-2:]
    return float(wall), int(rss)


def bench_file(path, tool, runs, env):
    copy = path + ".copy"
    clean = path + ".clean"
    cp = ["sh", "-c", 'cp "$0" "$1" && sync "$1"', path, copy]
    rm = [os.environ["PELLORAN_WINE_RUN"], "rmevents.exe", "-i", wine_tool.windows_path(path),
          "-o", wine_tool.windows_path(clean), "-e", "blank.txt", "-m", "blank2.txt",
          "-l", "result.txt", "--lang", "en"]  # the log read below is the English one
    timed(cp, tool.folder)
    timed(rm, tool.folder, env)
    pairs = [(timed(cp, tool.folder), timed(rm, tool.folder, env)) for _ in range(runs)]
    ratios = [t[0] / max(c[0], 0.001) for c, t in pairs]
    with open(tool.log_path, "rb") as f:
        log = f.read().decode("gbk", "replace")
    wrote = re.search(r"Wrote: .*, (\d+) bytes", log)
    complete = wrote and int(wrote.group(1)) == os.path.getsize(clean)
    if not log.rstrip().endswith("***") or not complete:
        raise SystemExit("the tool did not clean %s:\n%s" % (path, log))
    for p in (copy, clean):
        os.remove(p)
    return {
        "size": os.path.getsize(path),
        "cp": statistics.median(c[0] for c, _ in pairs),
        "tool": statistics.median(t[0] for _, t in pairs),
        "ratio": statistics.median(ratios),
        "ratio_range": (min(ratios), max(ratios)),
        "cp_rss": max(c[1] for c, _ in pairs),
        "tool_rss": max(t[1] for _, t in pairs),
        "tool_range": (min(t[0] for _, t in pairs), max(t[0] for _, t in pairs)),
    }


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build-dir", default=os.path.join(ROOT, "build", "win32"))
    ap.add_argument("--size-mb", type=float, default=500)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--work", help="folder for the generated files (default: a new temporary one)")
    args = ap.parse_args()

    exe = os.path.join(args.build_dir, "bin", "rmevents.exe")
    if not os.path.exists(exe):
        raise SystemExit("no %s: build the target rmevents first" % exe)
    work = args.work or tempfile.mkdtemp(prefix="rmevents-bench-")
    os.makedirs(work, exist_ok=True)
    os.environ["RMEVENTS_EXE"] = exe
    os.environ["PELLORAN_WINE_RUN"] = os.path.join(ROOT, "scripts", "wine-run.sh")
    session = os.path.join(work, "wine-session")
    subprocess.run([os.path.join(ROOT, "scripts", "wine-session.sh"), "start", session],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    env = dict(os.environ, PELLORAN_WINE_SESSION=session)
    try:
        tool = wine_tool.ToolFolder(os.path.join(work, "tool"))
        baseline = timed([os.environ["PELLORAN_WINE_RUN"], "rmevents.exe"], tool.folder, env,
                         check=False)
        results = []
        for size in (args.size_mb, args.size_mb / 10):
            path = os.path.join(work, "bench-%dMB.rm" % size)
            make_rm_fixture.main([path, "--layout", "events-v0", "--seconds", "20", "--video",
                                  "rv20", "--audio", "ac3", "--size-mb", str(size)])
            results.append(bench_file(path, tool, args.runs, env))
            os.remove(path)
    finally:
        subprocess.run([os.path.join(ROOT, "scripts", "wine-session.sh"), "stop", session],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)

    print("%d runs each, medians (tool under Wine with a running wineserver)" % args.runs)
    print("Wine baseline (usage message only): peak %.1f MB" % (baseline[1] / 1024))
    for r in results:
        print("%7.1f MB: cp+sync %.2f s, tool %.2f s (%.2f-%.2f), ratio tool/(cp+sync) %.2f (%.2f-%.2f); "
              "peak memory cp %.1f MB, tool %.1f MB" %
              (r["size"] / 1e6, r["cp"], r["tool"], r["tool_range"][0], r["tool_range"][1],
               r["ratio"], r["ratio_range"][0], r["ratio_range"][1], r["cp_rss"] / 1024,
               r["tool_rss"] / 1024))
    return 0


if __name__ == "__main__":
    sys.exit(main())
