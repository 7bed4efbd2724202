#!/usr/bin/env python3
"""Writes a pile of reports for bench/crashlog_report/run.sh: COUNT reports laid out as the
reporter writes them (general section, a call stack of 40 rows, 56 modules, registers and a
memory dump: about 10 KB each) in .elf logs of 32 reports each, with one report in ten mailed
instead, as the reporter mails a log copy (base64 attachment), into a Maildir. The reports fall
into 50 errors of very different frequency, over 6 versions and 60 days.

Usage: make_reports.py FOLDER [COUNT]"""
import base64, os, random, sys

folder = sys.argv[1]
count = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
rng = random.Random(23)
DAYS = ["Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"]
ERRORS = [("%08X" % (0x00401000 + 0x137 * i), ["EAccessViolation", "EInOutError", "EConvertError"][i % 3],
           "Error number %d happened while the batch ran." % i) for i in range(50)]
WEIGHTS = [1.0 / (i + 1) for i in range(50)]
VERSIONS = ["2.%d.0.%d" % (v, 100 + v) for v in range(6)]


def date(day, seconds):
    # December 2026 starts on a Tuesday.
    return "%s, %d Dec 2026 %02d:%02d:%02d +0800" % (DAYS[(2 + day) % 7], day + 1, seconds // 3600,
                                                    seconds // 60 % 60, seconds % 60)


def table(header, rows):
    widths = [max(len(r[c]) for r in [header] + rows) for c in range(len(header))]
    rule = "-" * (sum(widths) + len(widths) + 1)
    line = lambda r: "|" + "|".join(cell.ljust(w) for cell, w in zip(r, widths)) + "|"
    return "\r\n".join([rule, line(header), rule] + [line(r) for r in rows] + [rule])


def report(n):
    address, kind, message = rng.choices(ERRORS, WEIGHTS)[0]
    day = rng.randrange(30)
    when = date(day, rng.randrange(86400))
    general = ("Application:\r\n" + "-" * 54 + "\r\n"
               "  1.1 Start Date      : %s\r\n  1.2 Name/Description: Pelloran.exe\r\n"
               "  1.3 Version Number  : %s\r\n  1.4 Parameters      : \"a%d.rm\"\r\n\r\n" % (when, VERSIONS[day // 5], n) +
               "Exception:\r\n" + "-" * 45 + "\r\n"
               "  2.1 Date   : %s\r\n  2.2 Address: %s\r\n  2.3 Module : Pelloran.exe\r\n"
               "  2.4 Type   : %s\r\n  2.5 Message: %s\r\n\r\n" % (when, address, kind, message) +
               "Computer:\r\n" + "-" * 29 + "\r\n  4.1 Name        : PC%04d\r\n  4.2 User        : user\r\n\r\n" % n)
    stack = [["%08X" % (0x00401000 + 16 * r), "Pelloran.exe" if r < 24 else "kernel32.dll",
              "unit%02d.cpp" % r if r < 24 else "", "TClass%d" % r if r % 3 == 0 else "",
              "Procedure%d" % r, str(100 + r) if r < 24 else ""] for r in range(40)]
    modules = [["%08X" % (0x10000000 + 0x10000 * m), "module%02d.dll" % m, "Module number %d" % m,
                "10.0.%d.0" % m, str(100000 + m), "C:\\windows\\system32"] for m in range(56)]
    dump = "".join("%08X: %08X   %08X: %s %s\r\n" % (0x0012F000 + 4 * i, rng.getrandbits(32), 0x00401000 + 16 * i,
                                                      " ".join("%02X" % b for b in range(16)), "." * 16) for i in range(16))
    return ("CrashLog 4.5.4\r\n\r\n" + general + "Call Stack Information:\r\n" +
            table(["Address", "Module", "Unit", "Class", "Procedure/Method", "Line"], stack) +
            "\r\n\r\nModules Information:\r\n" +
            table(["Handle", "Name", "Description", "Version", "Size", "Path"], modules) +
            "\r\n\r\nRegisters:\r\n" + "-" * 29 + "\r\nEAX: 00000000   EDI: 00000000\r\n\r\n" +
            "Stack:".ljust(21) + "Memory Dump:\r\n" + "-" * 18 + "   " + "-" * 75 + "\r\n" + dump)


logs = os.path.join(folder, "logs")
maildir = os.path.join(folder, "Maildir")
for sub in ("cur", "new", "tmp"):
    os.makedirs(os.path.join(maildir, sub), exist_ok=True)
os.makedirs(logs, exist_ok=True)
pending, files, mails, total = [], 0, 0, 0
for n in range(count):
    text = report(n)
    total += len(text)
    if n % 10 == 9:
        encoded = base64.b64encode(text.encode())
        lines = b"".join(encoded[i:i + 80] + b"\r\n" for i in range(0, len(encoded), 80))
        with open(os.path.join(maildir, "new", "%d.mail" % n), "wb") as f:
            f.write(b"Subject: Pelloran error\r\nContent-Type: multipart/mixed; boundary=\"=_b\";\r\n\r\n--=_b\r\n"
                    b"Content-Type: text/plain\r\n\r\nBody\r\n\r\n--=_b\r\nContent-Type: application/octet-stream;\r\n"
                    b"        name=\"Pelloran.elf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + lines + b"--=_b--\r\n")
        mails += 1
        continue
    pending.append(text + "\r\n" * 5)
    if len(pending) == 32:
        with open(os.path.join(logs, "log%04d.elf" % files), "w", newline="") as f:
            f.write("".join(pending))
        files, pending = files + 1, []
if pending:
    with open(os.path.join(logs, "log%04d.elf" % files), "w", newline="") as f:
        f.write("".join(pending))
    files += 1
print("%d reports, %.1f MB of report text: %d logs, %d mails" % (count, total / 1e6, files, mails))
