"""Runs one crash test program under Wine and checks it against the expectations written in its
source, one per comment line:

  // EXIT: 1                      the process's exit code
  // ENTRIES: 2                   the number of entries in its .elf log (0: no log at all)
  // LOG: <regex>                 each entry must match (search, multi-line, GBK text)
  // LOG_ANY: <regex>             at least one entry must match
  // WAIT_ENTRIES: 2              wait up to 60 s for that many entries (programs that restart)
  // LOG_FIRST_STACK_ROW: <regex> the first row of the call stack table of each entry
  // STDOUT: <regex>              standard output must match
  // ARGS: <words>                command-line arguments
  // ENV: NAME=value              an environment variable for the program

In patterns, {@name} stands for the number of the source line that ends in the comment "// @name".

Usage: run_crash_program.py <program.exe> <source.cpp>
Environment: PELLORAN_WINE_RUN, PELLORAN_WINE_SESSION.
"""
import os
import re
import shlex
import subprocess
import sys
import time

ENTRY = re.compile(rb"(?:\A|(?<=\r\n))(CrashLog .*?\r\n\r\n\r\n)\r\n", re.S)


def expectations(source):
    found = {}
    with open(source, encoding="utf-8") as f:
        lines = f.read().split("\n")
    marks = {}
    for number, line in enumerate(lines, 1):
        m = re.search(r"// (@\w+)\s*$", line)
        if m:
            marks[m.group(1)] = str(number)
    for line in lines:
        m = re.match(r"\s*// (EXIT|ENTRIES|WAIT_ENTRIES|LOG|LOG_ANY|LOG_FIRST_STACK_ROW|STDOUT|ARGS|ENV): ?(.*)$", line)
        if m:
            value = re.sub(r"\{(@\w+)\}", lambda mark: marks[mark.group(1)], m.group(2))
            found.setdefault(m.group(1), []).append(value)
    return found


def log_entries(path):
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        data = f.read()
    return [m.group(1) for m in ENTRY.finditer(data)]


def first_stack_row(entry):
    """The first data row of the call stack table: the line after the header row's rule."""
    lines = entry.split(b"\r\n")
    for i, line in enumerate(lines):
        if line.startswith(b"Call Stack Information:"):
            # title, rule, header, rule, first row
            return lines[i + 4] if i + 4 < len(lines) else b""
    return b""


def main():
    exe, source = sys.argv[1], sys.argv[2]
    expect = expectations(source)
    log = os.path.splitext(exe)[0] + ".elf"
    if os.path.exists(log):
        os.remove(log)
    args = shlex.split(" ".join(expect.get("ARGS", [])))
    env = dict(os.environ)
    for assignment in expect.get("ENV", []):
        name, _, value = assignment.partition("=")
        env[name] = value
    run = subprocess.run([os.environ["PELLORAN_WINE_RUN"], exe] + args, capture_output=True, timeout=120,
                         cwd=os.path.dirname(exe), env=env)
    for count in expect.get("WAIT_ENTRIES", []):
        deadline = time.time() + 60
        while len(log_entries(log)) < int(count) and time.time() < deadline:
            time.sleep(0.5)
        time.sleep(1)  # let a last instance end
    stdout = run.stdout.decode("gbk", "replace").replace("\r\n", "\n")
    entries = log_entries(log)
    failures = []

    def check(condition, what):
        if not condition:
            failures.append(what)

    for code in expect.get("EXIT", []):
        check(run.returncode == int(code), f"exit code {run.returncode}, expected {code}")
    for count in expect.get("ENTRIES", []):
        check(len(entries) == int(count), f"{len(entries)} log entries, expected {count}")
    for pattern in expect.get("LOG", []):
        for n, entry in enumerate(entries):
            check(re.search(pattern.encode("gbk"), entry, re.M),
                  f"entry {n + 1} does not match /{pattern}/")
    for count in expect.get("WAIT_ENTRIES", []):
        check(len(entries) == int(count), f"{len(entries)} log entries, expected {count}")
    for pattern in expect.get("LOG_ANY", []):
        check(any(re.search(pattern.encode("gbk"), e, re.M) for e in entries), f"no entry matches /{pattern}/")
    for pattern in expect.get("LOG_FIRST_STACK_ROW", []):
        for n, entry in enumerate(entries):
            row = first_stack_row(entry)
            check(re.search(pattern.encode("gbk"), row), f"entry {n + 1}: first stack row {row!r} does not match /{pattern}/")
    for pattern in expect.get("STDOUT", []):
        check(re.search(pattern, stdout, re.M), f"standard output does not match /{pattern}/")

    if failures:
        print(f"{os.path.basename(exe)}: exit code {run.returncode}")
        print("--- stdout ---\n" + stdout)
        print("--- stderr ---\n" + run.stderr.decode("utf-8", "replace")[-3000:])
        for n, entry in enumerate(entries):
            print(f"--- log entry {n + 1} ---\n" + entry.decode("gbk", "replace"))
        for f in failures:
            print("FAILED: " + f)
        return 1
    print(f"{os.path.basename(exe)}: {len(entries)} log entries, exit code {run.returncode}: as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
