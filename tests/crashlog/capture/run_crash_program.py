"""Runs one crash test program under Wine and checks it against the expectations written in its
source, one per comment line:

  // EXIT: 1                      the process's exit code
  // ENTRIES: 2                   the number of entries in its .elf log (0: no log at all)
  // LOG: <regex>                 each entry must match (search, multi-line, GBK text)
  // LOG_ANY: <regex>             at least one entry must match
  // LOG_NONE: <regex>            no entry may match
  // WAIT_ENTRIES: 2              wait up to 60 s for that many entries (programs that restart)
  // LOG_FIRST_STACK_ROW: <regex> the first row of the call stack table of each entry
  // STDOUT: <regex>              standard output must match
  // ARGS: <words>                command-line arguments
  // ENV: NAME=value              an environment variable for the program
  // STACK_TOP: <re> ;; <re> ...   each entry's call stack table starts with rows matching these
  // STACK_ROWS: <re> ;; <re> ...  each entry's call stack table has rows matching these, in order
  // STACK_NONE: <regex>           no row of any entry's call stack table matches
  // DUMP_FRAMES: <re> ;; <re> ...  the first frames LLDB shows in the minidump each entry names,
                                   opened with the program's twin (dump_debugger.py)
  // DUMP_VARIABLES: <regex>       LLDB's `frame variable` of the first frame of that dump
  // DUMPS: 2                     the number of minidumps left beside the program
  // NO_REPORTER_ROWS: <regex>     no row of any call stack table, above the first row matching
                                   the regex (the frame that dispatched the failing code), is a frame
                                   of the reporter (a unit of crashlog/, the trace's thread-local
                                   lookup) or of the framework's handler (HandleException): nothing
                                   pushed after the error was caught. (Further up, the raw stack scan
                                   may find values left in the dispatcher's and the system's frames
                                   from before the error.)

In patterns, {@name} stands for the number of the source line that ends in the comment "// @name",
and {line:<path>:<text>} for the number of the first line of the repository's file <path> that
contains <text>.

Usage: run_crash_program.py <program.exe> <source.cpp>
Environment: PELLORAN_WINE_RUN, PELLORAN_WINE_SESSION.
"""
import os
import re
import shlex
import subprocess
import sys
import time

import dump_debugger

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
        m = re.match(r"\s*// (EXIT|ENTRIES|WAIT_ENTRIES|LOG|LOG_ANY|LOG_FIRST_STACK_ROW|LOG_NONE|STACK_TOP|STACK_ROWS|STACK_NONE|NO_REPORTER_ROWS|STDOUT|ARGS|ENV|DUMP_FRAMES|DUMP_VARIABLES|DUMPS): ?(.*)$",
                     line)
        if m:
            value = re.sub(r"\{(@\w+)\}", lambda mark: marks[mark.group(1)], m.group(2))
            value = re.sub(r"\{line:([^:}]+):([^}]+)\}", lambda ref: repository_line(ref.group(1), ref.group(2)), value)
            found.setdefault(m.group(1), []).append(value)
    return found


REPOSITORY = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))


def repository_line(path, text):
    with open(os.path.join(REPOSITORY, path), encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if text in line:
                return str(number)
    raise SystemExit(f"{path}: no line contains {text!r}")


def reporter_units():
    """The file names of the reporter's own sources: a row in one of them is the reporter's frame."""
    names = set()
    for folder, _, files in os.walk(os.path.join(REPOSITORY, "crashlog")):
        names.update(f for f in files if f.endswith(".cpp"))
    return names


def stack_rows(entry):
    """The cells of every data row of the call stack table (after the header's rule, up to the
    closing rule)."""
    lines = entry.split(b"\r\n")
    for i, line in enumerate(lines):
        if line.startswith(b"Call Stack Information:"):
            rows = []
            for row in lines[i + 4:]:
                if not row.startswith(b"|"):
                    break
                rows.append(row)
            return rows
    return []


def row_cells(row):
    return [c.strip().decode("gbk", "replace") for c in row.split(b"|")[1:-1]]


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
    folder = os.path.dirname(exe)
    for name in os.listdir(folder):
        if name.endswith(".dmp"):
            os.remove(os.path.join(folder, name))
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
    for pattern in expect.get("LOG_NONE", []):
        for n, entry in enumerate(entries):
            check(not re.search(pattern.encode("gbk"), entry, re.M), f"entry {n + 1} matches /{pattern}/")
    for pattern in expect.get("LOG_FIRST_STACK_ROW", []):
        for n, entry in enumerate(entries):
            row = first_stack_row(entry)
            check(re.search(pattern.encode("gbk"), row), f"entry {n + 1}: first stack row {row!r} does not match /{pattern}/")
    for expected_rows in expect.get("STACK_TOP", []):
        patterns = [p.strip() for p in expected_rows.split(";;")]
        for n, entry in enumerate(entries):
            rows = stack_rows(entry)
            for at, pattern in enumerate(patterns):
                row = rows[at] if at < len(rows) else b""
                check(re.search(pattern.encode("gbk"), row), f"entry {n + 1}: stack row {at + 1} {row!r} does not match /{pattern}/")
    for expected_rows in expect.get("STACK_ROWS", []):
        patterns = [p.strip() for p in expected_rows.split(";;")]
        for n, entry in enumerate(entries):
            rows = stack_rows(entry)
            at = 0
            for pattern in patterns:
                while at < len(rows) and not re.search(pattern.encode("gbk"), rows[at]):
                    at += 1
                check(at < len(rows), f"entry {n + 1}: no stack row /{pattern}/ after the rows before it")
                at += 1
    for pattern in expect.get("STACK_NONE", []):
        for n, entry in enumerate(entries):
            for row in stack_rows(entry):
                check(not re.search(pattern.encode("gbk"), row), f"entry {n + 1}: stack row {row!r} matches /{pattern}/")
    for boundary in expect.get("NO_REPORTER_ROWS", []):
        units = reporter_units()
        for n, entry in enumerate(entries):
            rows = stack_rows(entry)
            ends = [i for i, row in enumerate(rows) if re.search(boundary.encode("gbk"), row)]
            check(ends, f"entry {n + 1}: no stack row /{boundary}/")
            for row in rows[:ends[0] if ends else len(rows)]:
                cells = row_cells(row)
                if len(cells) < 6:
                    continue
                unit, procedure = cells[2], cells[4]
                check(unit not in units and not re.search(r"HandleException|pthread_getspecific", procedure),
                      f"entry {n + 1}: stack row {row!r} is a frame of the reporter or the framework's handler")
    for count in expect.get("DUMPS", []):
        dumps = sorted(n for n in os.listdir(folder) if n.endswith(".dmp"))
        check(len(dumps) == int(count), f"{len(dumps)} minidumps beside the program ({dumps}), expected {count}")
    dump_frames = [[p.strip() for p in rows.split(";;")] for rows in expect.get("DUMP_FRAMES", [])]
    dump_variables = expect.get("DUMP_VARIABLES", [])
    if dump_frames or dump_variables:
        for n, entry in enumerate(entries):
            dump = dump_debugger.dump_of_entry(entry, folder)
            check(dump and os.path.exists(dump), f"entry {n + 1} names no minidump that exists ({dump})")
            if not (dump and os.path.exists(dump)):
                continue
            frames, variables, text = dump_debugger.open_dump(dump, exe + ".debug", os.path.basename(exe))
            for patterns in dump_frames:
                for at, pattern in enumerate(patterns):
                    frame = frames[at] if at < len(frames) else ""
                    check(re.search(pattern, frame), f"entry {n + 1}: dump frame {at} {frame!r} does not match /{pattern}/")
            for pattern in dump_variables:
                check(re.search(pattern, variables, re.M), f"entry {n + 1}: dump variables do not match /{pattern}/")
            if failures:
                print("--- LLDB ---\n" + text)
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
