"""Installs the CrashLog package, builds examples/hello_crash against it as an outside project,
runs it under Wine with an exception it reports itself, a fault in a worker thread and an exception
escaping its window procedure, and checks that the program imports no runtime DLL, that each error
gave a log entry whose call stack starts in the example's own code, with the example's tag and
file and a minidump, that the action handler the example registers saw every report logged, and
that LLDB opens the escaped exception's dump at the raise with its callers and a local's value;
that a last parameter which is a path holding the words Debug and Save leaves the trace off; and
that two copies run at once into one log keep all their reports.

The expected lines are found in the example's source by the statements that fail there, so the
example can change without this test changing with it.
"""
import argparse
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "capture"))
from run_crash_program import first_stack_row, log_entries  # noqa: E402
from outside_project import install_and_build, run  # noqa: E402
import dump_debugger  # noqa: E402


def source_line(source, statement):
    with open(source, encoding="utf-8") as f:
        numbers = [n for n, line in enumerate(f, 1) if statement in line]
    if len(numbers) != 1:
        sys.exit(f"FAILED: the example's source holds {len(numbers)} lines with {statement!r}, expected one")
    return numbers[0]


def main():
    parser = argparse.ArgumentParser()
    for name in ("build", "work", "example", "toolchain", "options", "generator", "cmake"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()

    example_build = os.path.join(args.work, "hello_crash")
    install_and_build(args, args.example, example_build, "HELLO_CRASH_OPTIONS")

    exe = os.path.join(example_build, "hello_crash.exe")
    # The target links everything statically: the program needs no DLL beside it.
    headers = run(["i686-w64-mingw32-objdump", "-p", exe]).stdout
    own_dlls = [name for name in re.findall(r"DLL Name: (\S+)", headers)
                if re.match(r"(?i)(libstdc\+\+|libgcc|libwinpthread|zlib1)", name)]
    log = os.path.join(example_build, "hello_crash.elf")
    trace = os.path.join(example_build, "hello_crash.log")
    for name in (log, trace):
        if os.path.exists(name):
            os.remove(name)
    for name in os.listdir(example_build):
        if name.endswith(".dmp"):
            os.remove(os.path.join(example_build, name))
    # The last parameter a path under folders named Debug and Save: a path, not the trace switch.
    program = subprocess.run([os.environ["PELLORAN_WINE_RUN"], exe, "handled", "worker", "window", "quit",
                              "D:\\Debug Save\\clip.rm"], capture_output=True, timeout=120, cwd=example_build)
    entries = log_entries(log)
    trace_written = os.path.exists(trace)

    source = os.path.join(args.example, "hello_crash.cpp")
    throw_line = source_line(source, "throw std::runtime_error")
    expected = [
        ("std::runtime_error", "OpenDocument", throw_line),
        ("EAccessViolation", "ReadWindowWidth", source_line(source, "loadedSettings->width")),
        ("std::runtime_error", "OpenDocument", throw_line),
    ]
    failures = []
    if own_dlls:
        failures.append(f"hello_crash.exe imports {own_dlls}, expected a static link")
    if len(entries) != len(expected):
        failures.append(f"{len(entries)} log entries, expected {len(expected)} (exit code {program.returncode})")
    for n, (entry, (kind, procedure, line)) in enumerate(zip(entries, expected), 1):
        if not re.search(rb"^  2\.4 Type *: " + re.escape(kind.encode()) + rb"\r$", entry, re.M):
            failures.append(f"entry {n}: not a {kind}")
        if not re.search(rb"^  2\.3 Module *: hello_crash\.exe\r$", entry, re.M):
            failures.append(f"entry {n}: not raised in hello_crash.exe")
        if not re.search(rb"^  6\.1 edition *: hello_crash sample\r$", entry, re.M):
            failures.append(f"entry {n}: without the example's tag")
        if not re.search(rb"^  7\.\d File *: [A-Z]:\\.*\\hello_crash\.txt\r$", entry, re.M):
            failures.append(f"entry {n}: without the example's file")
        dump = dump_debugger.dump_of_entry(entry, example_build)
        if not (dump and os.path.exists(dump)):
            failures.append(f"entry {n}: names no minidump that exists ({dump})")
        elif n == len(expected):
            # The exception that escaped the window procedure: the raise and its callers.
            frames, variables, text = dump_debugger.open_dump(dump, exe + ".debug", "hello_crash.exe")
            call_line = source_line(source, 'OpenDocument("hello.txt")')
            wanted = [rf"\bOpenDocument\(.*\) at hello_crash\.cpp:{throw_line}\b",
                      rf"\bOnCommand\(.*\) at hello_crash\.cpp:{call_line}\b",
                      r"\bWindowProc\(.*\) at hello_crash\.cpp:\d+"]
            for at, pattern in enumerate(wanted):
                frame = frames[at] if at < len(frames) else ""
                if not re.search(pattern, frame):
                    failures.append(f"dump frame {at} {frame!r} does not match /{pattern}/")
            if not re.search(r"\(volatile std::size_t\) length = 9$", variables, re.M):
                failures.append("the dump does not show the local length = 9")
            if failures:
                print("--- LLDB ---\n" + text)
        row = first_stack_row(entry)
        pattern = rb"\|hello_crash\.exe *\|hello_crash\.cpp *\| *\|[^|]*\b" + procedure.encode() + rb" *\| *" + \
            str(line).encode() + rb" *\|"
        if not re.search(pattern, row):
            failures.append(f"entry {n}: first stack row {row!r}, expected hello_crash.cpp, {procedure}, line {line}")
    # The example's action handler, registered through the public header, saw each report logged.
    stdout = program.stdout.decode("gbk", "replace").replace("\r\n", "\n")
    logged = re.findall(r"^hello_crash: logged (.*)$", stdout, re.M)
    if logged != [kind for kind, _, _ in expected]:
        failures.append(f"the action handler saw {logged}, expected {[kind for kind, _, _ in expected]}")
    if trace_written:
        failures.append("a path holding the words Debug and Save switched the trace on")

    # Two copies at once, into the same log: each keeps all its reports.
    os.remove(log)
    both = [subprocess.Popen([os.environ["PELLORAN_WINE_RUN"], exe, "handled", "worker", "window", "quit"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=example_build)
            for _ in range(2)]
    for copy in both:
        copy.wait(timeout=120)
    together = log_entries(log)
    if len(together) != 2 * len(expected):
        failures.append(f"two copies at once left {len(together)} log entries, expected {2 * len(expected)}")
    if failures:
        print("--- stdout ---\n" + stdout)
        for n, entry in enumerate(entries, 1):
            print(f"--- log entry {n} ---\n" + entry.decode("gbk", "replace"))
        for failure in failures:
            print("FAILED: " + failure)
        return 1
    print(f"hello_crash: {len(entries)} log entries from the installed package, as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
