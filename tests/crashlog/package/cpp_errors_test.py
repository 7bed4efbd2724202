"""Builds tests/crashlog/package/cpp_errors against the installed CrashLog package and runs it
once for each way it can fail, in the main thread of a program with windows: each run must give
exactly one log entry whose type and message say what happened and whose call stack starts at
the statement that failed, end with the exit code the C runtime gives that end, and show no box
of the C runtime (nobody is there to answer one: the run would not end).

Usage: cpp_errors_test.py --build DIR --work DIR --toolchain FILE --options FILE --generator G --cmake CMAKE
"""
import argparse
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "capture"))
from run_crash_program import first_stack_row, log_entries  # noqa: E402
from outside_project import install_and_build  # noqa: E402

SOURCE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "cpp_errors")
NOEXCEPT_REASON = r"std::terminate called: the exception left a noexcept function"
# (arguments, exit code, type, message as a regex, the name of the failing statement, its procedure)
CASES = [
    ("throw runtime_error", 1, "std::runtime_error", r"disk full\.", "runtime_error", "ThrowRuntimeError"),
    ("throw quota", 1, "app::QuotaError", r"quota of 5 GB used up\.", "quota", "ThrowQuotaError"),
    ("throw bad_alloc", 1, "std::bad_alloc", r"std::bad_alloc\.", "bad_alloc", "ThrowBadAlloc"),
    ("throw int", 1, "int", r"Unknown error message\.", "int", "ThrowInt"),
    ("throw text", 1, "char const*", r"Unknown error message\.", "text", "ThrowText"),
    ("throw utf8", 1, "std::runtime_error", "磁盘已满 \\(D:\\)\\.", "utf8", "ThrowUtf8"),
    ("abort", 3, "EAbnormalTermination", r"abort\(\) called: abnormal program termination\.", "abort", "CallAbort"),
    ("sigabrt", 3, "EAbnormalTermination", r"SIGABRT raised: abnormal program termination\.", "sigabrt",
     "RaiseAbortSignal"),
    ("assert", 3, "EAssertionFailed", r"Assertion failed: loadedCount == 2, file \S*cpp_errors\.cpp, line {line}\.",
     "assert", "CheckCount"),
    ("pure_virtual", 1, "EPureVirtualCall", r"Pure virtual function called\.", "pure_virtual", "StartPlugin"),
    ("noexcept", 1, "std::runtime_error", r"settings are read-only \(" + NOEXCEPT_REASON + r"\)\.", "noexcept",
     "WriteSettings"),
    ("terminate", 1, "ETerminateCalled", r"std::terminate called without an exception\.", "terminate", "GiveUp"),
]


def failing_line(name):
    with open(os.path.join(SOURCE_DIR, "cpp_errors.cpp"), encoding="utf-8") as f:
        numbers = [n for n, line in enumerate(f, 1) if line.rstrip().endswith("// fails: " + name)]
    if len(numbers) != 1:
        sys.exit(f"FAILED: cpp_errors.cpp holds {len(numbers)} lines failing as {name!r}, expected one")
    return numbers[0]


def main():
    parser = argparse.ArgumentParser()
    for name in ("build", "work", "toolchain", "options", "generator", "cmake"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()

    build = os.path.join(args.work, "cpp_errors")
    install_and_build(args, SOURCE_DIR, build, "CPP_ERRORS_OPTIONS")
    exe = os.path.join(build, "cpp_errors.exe")
    log = os.path.join(build, "cpp_errors.elf")

    failures = []
    for arguments, exit_code, kind, message, statement, procedure in CASES:
        if os.path.exists(log):
            os.remove(log)
        line = failing_line(statement)
        message = message.replace("{line}", str(line))
        try:
            program = subprocess.run([os.environ["PELLORAN_WINE_RUN"], exe] + arguments.split(), capture_output=True,
                                     timeout=60, cwd=build)
            code = program.returncode
        except subprocess.TimeoutExpired:
            failures.append(f"{arguments}: did not end within 60 s (a box waiting for an answer?)")
            continue
        entries = log_entries(log)
        what = f"{arguments}: "
        if code != exit_code:
            failures.append(what + f"exit code {code}, expected {exit_code}")
        if len(entries) != 1:
            failures.append(what + f"{len(entries)} log entries, expected 1")
        for entry in entries:
            pattern = (r"^  2\.4 Type *: " + re.escape(kind) + r"\r\n  2\.5 Message *: " + message + r"\r$")
            if not re.search(pattern.encode("gbk"), entry, re.M):
                failures.append(what + f"type and message do not match /{pattern}/")
                print(f"--- {arguments} ---\n" + entry.decode("gbk", "replace"))
            row = first_stack_row(entry)
            row_pattern = (r"\|cpp_errors\.exe *\|cpp_errors\.cpp *\|[^|]*\|[^|]*\b" + procedure + r" *\| *" +
                           str(line) + r" *\|")
            if not re.search(row_pattern.encode(), row):
                failures.append(what + f"first stack row {row!r}, expected {procedure} at line {line}")
    for failure in failures:
        print("FAILED: " + failure)
    if failures:
        return 1
    print(f"cpp_errors: {len(CASES)} ways to fail, one report each, from the installed package")
    return 0


if __name__ == "__main__":
    sys.exit(main())
