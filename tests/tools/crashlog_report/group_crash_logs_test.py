#!/usr/bin/env python3
"""crashlog-report on real reports: crash programs run under Wine (from copies in a folder of the
test's own) fill their .elf logs, one of them mails its reports over SMTP to a server started
here, and the tool groups the logs, the mails saved in a Maildir and as .eml files, and some
damaged input. The expected groups come from the programs' sources and from the logs read here.

Usage: group_crash_logs_test.py TOOL WINE-RUN WORK-DIR MAIL_CRASH.exe CRASH.exe...
Environment: PELLORAN_WINE_SESSION."""

import contextlib, email.message, email.policy, email.utils, json, mailbox, os, re, shutil
import socket, subprocess, sys, unittest

TOOL, WINE_RUN, WORK, MAIL_CRASH = (os.path.abspath(a) for a in sys.argv[1:5])
CRASH = {re.sub(r"^crash_", "", os.path.splitext(os.path.basename(p))[0]): os.path.abspath(p) for p in sys.argv[5:]}
SOURCES = os.path.join(os.path.dirname(__file__), "..", "..", "crashlog", "capture", "crash")
ENTRY = re.compile(rb"(?:\A|(?<=\r\n))(CrashLog .*?\r\n)\r\n\r\n\r\n", re.S)


def marks(program):
    """The lines marked "// @name" in a crash program's source."""
    with open(os.path.join(SOURCES, program + ".cpp"), encoding="utf-8") as f:
        return {m.group(1): n for n, line in enumerate(f, 1) for m in [re.search(r"// @(\w+)\s*$", line)] if m}


def item(entry, number):
    m = re.search(rb"\r\n  " + re.escape(number.encode()) + rb" [^\r\n]*?: ([^\r\n]*)\r\n", entry)
    return m.group(1).decode("gbk") if m else None


def run(exe, times, *args):
    """Runs a copy of the program `times` times in its own folder; the entries of its log."""
    folder = os.path.join(WORK, "programs", os.path.splitext(os.path.basename(exe))[0])
    os.makedirs(folder, exist_ok=True)
    copy = shutil.copy(exe, folder)
    for _ in range(times):
        subprocess.run([WINE_RUN, copy] + list(args), cwd=folder, capture_output=True, timeout=120,
                       stdin=subprocess.DEVNULL)
    log = os.path.splitext(copy)[0] + ".elf"
    with open(log, "rb") as f:
        return log, ENTRY.findall(f.read())


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@contextlib.contextmanager
def smtp_server():
    from aiosmtpd.controller import Controller

    class Recorder:
        def __init__(self):
            self.messages = []

        async def handle_DATA(self, server, session, envelope):
            self.messages.append(envelope.original_content)
            return "250 OK"

    recorder, port = Recorder(), free_port()
    controller = Controller(recorder, hostname="127.0.0.1", port=port)
    controller.start()
    try:
        yield recorder, port
    finally:
        controller.stop()


def mail_with(attachments, encoding="base64", text="Reports attached."):
    """A mail as a mail client writes one (Python's own MIME writer)."""
    message = email.message.EmailMessage(policy=email.policy.SMTP)
    message["From"], message["To"], message["Subject"] = "user@example.test", "dev@example.test", "crash"
    message["Date"] = email.utils.formatdate()
    message.set_content(text)
    for name, data in attachments:
        if isinstance(data, email.message.EmailMessage):
            message.add_attachment(data)
        else:
            message.add_attachment(data, maintype="application", subtype="octet-stream", filename=name, cte=encoding)
    return message


class GroupCrashLogs(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(WORK, ignore_errors=True)
        os.makedirs(WORK)
        cls.logs = {}
        for program, times in [("worker_fault", 3), ("eight_threads", 1), ("main_uncaught", 2),
                               ("console_report", 1), ("std_thread_escape", 1)]:
            cls.logs[program] = run(CRASH[program], times)
        # Two reports mailed by the reporter itself over SMTP: the log copy attached, then the
        # report in the mail text.
        with smtp_server() as (recorder, port):
            for inline in ("0", "1"):
                run(MAIL_CRASH, 1, "mode=2", "to=dev@example.test", "port=%d" % port, "fail=main",
                    "message=Catalogue locked", "inline=" + inline)
        cls.smtp_mails = recorder.messages
        cls.logs["mail_crash"] = run(MAIL_CRASH, 0)

        # The inputs: two logs as they are; the reporter's mails in a Maildir with a mail client's
        # mail (the whole log of main_uncaught in quoted-printable) and a mail without a report;
        # .eml files: a mail with a forwarded mail holding std_thread_escape's report as one mailed
        # copy, and console_report's log in base64 (beside the same log again: counted once).
        cls.inputs = os.path.join(WORK, "inputs")
        os.makedirs(cls.inputs)
        shutil.copy(cls.logs["worker_fault"][0], cls.inputs)
        shutil.copy(cls.logs["eight_threads"][0], cls.inputs)
        shutil.copy(cls.logs["console_report"][0], cls.inputs)
        maildir = mailbox.Maildir(os.path.join(WORK, "Maildir"))
        for raw in cls.smtp_mails:
            maildir.add(raw)
        with open(cls.logs["main_uncaught"][0], "rb") as f:
            maildir.add(mail_with([("crash_main_uncaught.elf", f.read())], encoding="quoted-printable").as_bytes())
        maildir.add(mail_with([], text="Hello, no report here.").as_bytes())
        forwarded = mail_with([("crash_std_thread_escape.elf", cls.logs["std_thread_escape"][1][0])])
        with open(os.path.join(cls.inputs, "forward.eml"), "wb") as f:
            f.write(mail_with([("", forwarded)]).as_bytes())
        with open(cls.logs["console_report"][0], "rb") as f:
            with open(os.path.join(cls.inputs, "console.eml"), "wb") as out:
                out.write(mail_with([("Console.ELF", f.read())]).as_bytes())
        # Damaged: bytes that are no log, and a report cut in its call stack table.
        with open(os.path.join(cls.inputs, "garbage.elf"), "wb") as f:
            f.write(bytes(range(256)) * 4)
        first = cls.logs["eight_threads"][1][0]
        with open(os.path.join(cls.inputs, "cut.elf"), "wb") as f:
            header = first.index(b"\r\n|", first.index(b"Call Stack"))
            f.write(first[:first.index(b"\r\n|", header + 1) + 12])

        result = subprocess.run([TOOL, "--json", cls.inputs, os.path.join(WORK, "Maildir")],
                                capture_output=True, timeout=60)
        cls.exit_code = result.returncode
        cls.stderr = result.stderr.decode()
        cls.report = json.loads(result.stdout)

    def expected_group(self, program, count, type_, message, unit, procedure, line=None, module=None):
        entries, expected_module = self.logs[program][1], module
        self.assertEqual(len(entries), count, program)
        keys = {tuple(item(e, n) for n in ("2.2", "2.3", "2.4", "2.5")) for e in entries}
        self.assertEqual(len(keys), 1, "%s: its reports differ in their keys: %s" % (program, keys))
        address, module, found_type, found_message = keys.pop()
        self.assertRegex(address, r"^[0-9A-F]{8}$")
        self.assertEqual((module, found_type), (expected_module or "crash_%s.exe" % program, type_))
        if message is not None:
            self.assertEqual(found_message, message)
        groups = [g for g in self.report["groups"] if (g["address"], g["module"]) == (address, module)]
        self.assertEqual(len(groups), 1, "%s: %s" % (program, self.report["groups"]))
        group = groups[0]
        self.assertEqual((group["count"], group["type"], group["message"]), (count, type_, found_message), program)
        dates = sorted((email.utils.parsedate_to_datetime(item(e, "2.1")), item(e, "2.1")) for e in entries)
        self.assertEqual((group["first_date"], group["last_date"]), (dates[0][1], dates[-1][1]), program)
        self.assertEqual(group["versions"], sorted({item(e, "1.3") for e in entries}), program)
        top = group["stack"][0]
        self.assertEqual((top["unit"], top["procedure"]), (unit, procedure), program)
        if line is not None:
            self.assertEqual(top["line"], str(line), program)
        self.assertLessEqual(len(group["stack"]), 3)
        self.assertTrue(all(row["unit"] for row in group["stack"]))
        return group

    def test_groups_counts_and_keys(self):
        eight = self.expected_group("eight_threads", 8, "EAccessViolation", None, "eight_threads.cpp", "Fail",
                                    marks("eight_threads")["fault"])
        worker = self.expected_group("worker_fault", 3, "EAccessViolation", None, "worker_fault.cpp", "ReadSettings",
                                     marks("worker_fault")["read"])
        uncaught = self.expected_group("main_uncaught", 2, "EConvertError", "'12x' is not a valid number.",
                                       "main_uncaught.cpp", "ParseCount", marks("main_uncaught")["throw"])
        mailed = self.expected_group("mail_crash", 2, "EInOutError", "Catalogue locked.", "mail_crash.cpp",
                                     "(anonymous namespace)::ReadSettings",
                                     module="crashlog_mail_crash.exe")
        console = self.expected_group("console_report", 1, "EInOutError", "Settings file is locked.",
                                      "console_report.cpp", "OpenSettings")
        thread = self.expected_group("std_thread_escape", 1, "EInOutError", "Catalogue missing.",
                                     "std_thread_escape.cpp", "LoadCatalogue", marks("std_thread_escape")["throw"])
        # Most frequent first; every report counted once although the mails repeat logged ones.
        self.assertEqual([g["count"] for g in self.report["groups"]], [8, 3, 2, 2, 1, 1])
        self.assertEqual(self.report["groups"][:2], [eight, worker])
        self.assertCountEqual(self.report["groups"][2:4], [uncaught, mailed])
        self.assertCountEqual(self.report["groups"][4:], [console, thread])
        self.assertEqual(self.report["reports"], 17)
        # console_report's log read a second time from console.eml.
        self.assertEqual(self.report["repeated"], 1)

    def test_smtp_mails_repeat_the_logged_reports(self):
        self.assertEqual(len(self.smtp_mails), 2)
        result = subprocess.run([TOOL, "--json", os.path.join(WORK, "Maildir"), self.logs["mail_crash"][0]],
                                capture_output=True, timeout=60)
        report = json.loads(result.stdout)
        self.assertEqual((report["reports"], report["repeated"]), (4, 2), result.stderr.decode())

    def test_tags_files_and_dumps_in_the_mail_and_the_groups(self):
        # The reporter mails a report with a tag, a file of the program and a minidump; the tool
        # reads the mail and the log and shows the tag values with their counts and the dumps.
        folder = os.path.join(WORK, "tagged")
        os.makedirs(folder, exist_ok=True)
        copy = shutil.copy(MAIL_CRASH, folder)
        with open(os.path.join(folder, "notes.txt"), "w") as f:
            f.write("notes of the program\n")
        with smtp_server() as (recorder, port):
            for user in ("alice", "bob", "alice"):
                subprocess.run([WINE_RUN, copy, "mode=2", "to=dev@example.test", "port=%d" % port, "fail=main",
                                "message=Tagged failure", "dump=1", "tag=user:" + user, "file=notes.txt"],
                               cwd=folder, capture_output=True, timeout=120, stdin=subprocess.DEVNULL)
        self.assertEqual(len(recorder.messages), 3)
        mail = email.message_from_bytes(recorder.messages[0], policy=email.policy.default)
        names = [part.get_filename() for part in mail.iter_attachments()]
        self.assertIn("notes.txt", names)
        dumps = [n for n in names if re.fullmatch(r"crashlog_mail_crash-\d{8}-\d{6}-\d+-1\.dmp", n or "")]
        self.assertEqual(len(dumps), 1, names)
        dump = next(p for p in mail.iter_attachments() if p.get_filename() == dumps[0]).get_content()
        self.assertEqual(dump[:4], b"MDMP")
        maildir = mailbox.Maildir(os.path.join(WORK, "TaggedMaildir"))
        for raw in recorder.messages:
            maildir.add(raw)
        log = os.path.join(folder, "crashlog_mail_crash.elf")
        result = subprocess.run([TOOL, "--json", log, os.path.join(WORK, "TaggedMaildir")], capture_output=True,
                                timeout=60)
        report = json.loads(result.stdout)
        self.assertEqual((report["reports"], report["repeated"]), (3, 3), result.stderr.decode())
        group = report["groups"][0]
        self.assertEqual(group["tags"], {"user": {"alice": 2, "bob": 1}})
        self.assertEqual(len(group["dumps"]), 3)
        self.assertTrue(all(re.search(r"\\crashlog_mail_crash-\d{8}-\d{6}-\d+-1\.dmp$", d) for d in group["dumps"]))
        text = subprocess.run([TOOL, log], capture_output=True, timeout=60).stdout.decode()
        self.assertRegex(text, r"\n  tags        : user = alice \(2\), bob \(1\)\n")
        self.assertRegex(text, r"\n  dumps       : .*crashlog_mail_crash-\d{8}-\d{6}-\d+-1\.dmp\n")

    def test_damaged_and_foreign_input_one_line_each(self):
        self.assertEqual(self.exit_code, 0)
        lines = self.stderr.splitlines()
        self.assertEqual(len(lines), 3, self.stderr)
        self.assertTrue(any("garbage.elf: no report in it, skipped" in l for l in lines), self.stderr)
        self.assertTrue(any("cut.elf: report 1: a report cut short in its call stack table, skipped" in l
                            for l in lines), self.stderr)
        self.assertTrue(any("a mail without an .elf attachment or a report in its text, skipped" in l
                            for l in lines), self.stderr)

    def test_text_output_names_the_groups(self):
        result = subprocess.run([TOOL, self.inputs, os.path.join(WORK, "Maildir")], capture_output=True, timeout=60)
        text = result.stdout.decode()
        self.assertTrue(text.startswith("17 reports in 6 groups (1 copy of a report read again, not counted)\n"), text)
        self.assertRegex(text, r"\n#1  8 reports\n  2\.2 Address : [0-9A-F]{8}\n  2\.3 Module  : crash_eight_threads\.exe\n")
        self.assertIn("  stack       : eight_threads.cpp:%d  Fail  (crash_eight_threads.exe " % marks("eight_threads")["fault"], text)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
