"""Opens a report's minidump in Debian's LLDB, as a developer would, and returns what it shows.

The dump's module list names the program by file name only (Wine's dump writer leaves the
CodeView record empty), so the twin (the linked program with its DWARF, `<program>.exe.debug`)
is copied under the program's name into a folder of its own, beside a copy of the dump.
"""
import os
import re
import shutil
import subprocess
import tempfile

# Debian's LLDB 14 misses its Python path in batch mode.
LLDB_PYTHON = "/usr/lib/llvm-14/lib/python3.11/dist-packages"
DUMP_ITEM = re.compile(rb"^  \d+\.\d+ Minidump *: (.*\.dmp)\r$", re.M)
FRAME = re.compile(r"^\s*\*?\s*frame #(\d+): 0x[0-9a-f]+ (.*)$")


def lldb_command():
    for name in ("lldb", "lldb-14"):
        path = shutil.which(name)
        if path:
            return path
    raise SystemExit("LLDB is missing: install lldb (scripts/bootstrap.sh)")


def dump_of_entry(entry, folder):
    """The dump an .elf entry names, as a path of this machine (the file itself lies in `folder`)."""
    m = DUMP_ITEM.search(entry)
    if not m:
        return None
    name = m.group(1).decode("gbk").replace("\\", "/").rsplit("/", 1)[-1]
    return os.path.join(folder, name)


def open_dump(dump, twin, program_name):
    """(frames, variables): the faulting thread's frames as LLDB prints them (text after the
    address), and `frame variable` of the first frame."""
    with tempfile.TemporaryDirectory() as work:
        program = os.path.join(work, program_name)
        shutil.copyfile(twin, program)
        core = os.path.join(work, os.path.basename(dump))
        shutil.copyfile(dump, core)
        env = dict(os.environ)
        env["PYTHONPATH"] = LLDB_PYTHON
        run = subprocess.run([lldb_command(), "--batch", "-o", f"target create --core {core} {program}",
                              "-o", "bt 8", "-o", "frame variable"],
                             capture_output=True, timeout=120, env=env, cwd=work)
    text = run.stdout.decode("utf-8", "replace")
    frames = [m.group(2) for line in text.splitlines() if (m := FRAME.match(line))]
    variables = text.split("frame variable", 1)[-1]
    return frames, variables, text
