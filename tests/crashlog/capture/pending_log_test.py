#!/usr/bin/env python3
"""Reports that cannot be written to the log are kept and reach it later, each exactly once: the
crash program crash_pending_log (see crash/pending_log.cpp) under Wine, in a folder that becomes
read-only (a read-only bind mount) or full (a small tmpfs filled up). Tests run as root, whom a
chmod does not stop, hence mounts, made in a private mount namespace. The Wine server opens files
itself, so the namespace gets a server of its own, on an overlay of the session's prefix (as
delivery_peers_test.py does for its network).

Usage: pending_log_test.py CRASH.exe WINE-RUN.sh [--in-namespace]
Environment: PELLORAN_WINE_SESSION."""

import glob, os, re, shutil, subprocess, sys, tempfile, unittest

CRASH, WINE_RUN = (os.path.abspath(a) for a in sys.argv[1:3])
IN_NAMESPACE = len(sys.argv) > 3 and sys.argv[3] == "--in-namespace"
EXE_NAME = os.path.basename(CRASH)
LOG_NAME = os.path.splitext(EXE_NAME)[0] + ".elf"
ENTRY = re.compile(rb"(?:\A|(?<=\r\n))(CrashLog .*?\r\n\r\n\r\n)\r\n", re.S)
MESSAGE = re.compile(rb"^  2\.5 Message *: (.*)\.\r$", re.M)


def messages(path):
    """The messages of the reports in a log-format file, in order; None when there is no file."""
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        data = f.read()
    found = []
    for entry in ENTRY.findall(data):
        m = MESSAGE.search(entry)
        found.append(m.group(1).decode() if m else "?")
    return found


def mount(*args):
    subprocess.run(["mount"] + list(args), check=True)


class Mounts(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="pelloran-pending-")
        session = os.environ["PELLORAN_WINE_SESSION"]
        with open(os.path.join(session, "env")) as f:
            env_text = f.read()
        prefix = re.search(r"WINEPREFIX='([^']*)'", env_text).group(1)
        for d in ("upper", "work", "prefix", "session"):
            os.mkdir(os.path.join(cls.root, d))
        cls.prefix = os.path.join(cls.root, "prefix")
        mount("-t", "overlay", "overlay", "-o", "lowerdir=%s,upperdir=%s,workdir=%s" % (
            prefix, os.path.join(cls.root, "upper"), os.path.join(cls.root, "work")), cls.prefix)
        with open(os.path.join(cls.root, "session", "env"), "w") as f:
            f.write(env_text.replace(prefix, cls.prefix))
        os.environ["PELLORAN_WINE_SESSION"] = os.path.join(cls.root, "session")

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=cls.prefix), stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=dict(os.environ, WINEPREFIX=cls.prefix), stderr=subprocess.DEVNULL)
        subprocess.run(["umount", cls.prefix])
        shutil.rmtree(cls.root, ignore_errors=True)

    def folder(self, name):
        path = os.path.join(self.root, name)
        os.mkdir(path)
        return path

    def crash(self, folder, *args):
        """Runs the program from `folder`; it must end normally."""
        exe = os.path.join(folder, EXE_NAME)
        result = subprocess.run([WINE_RUN, exe] + list(args), cwd=folder, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout.decode("gbk", "replace") +
                         result.stderr.decode("utf-8", "replace")[-2000:])

    def temp_pending(self):
        """The pending files of the log in the user's temporary folder (at most one)."""
        found = glob.glob(os.path.join(self.prefix, "drive_c", "users", "*", "**", LOG_NAME + ".pending"),
                          recursive=True)
        self.assertLessEqual(len(found), 1, found)
        return found[0] if found else os.path.join(self.prefix, "drive_c", "none", LOG_NAME + ".pending")

    def test_a_read_only_folder(self):
        app = self.folder("read-only")
        shutil.copy(CRASH, app)
        log = os.path.join(app, LOG_NAME)
        self.crash(app, "fail", "1", "before")
        self.assertEqual(messages(log), ["before 1"])

        mount("--bind", app, app)
        mount("-o", "remount,bind,ro", app)
        try:
            with self.assertRaises(OSError):
                open(os.path.join(app, "probe"), "w")
            self.crash(app, "fail", "2", "read-only")
            # Nothing could be written beside the log: the reports wait in the temporary folder.
            self.assertEqual(messages(log), ["before 1"])
            self.assertEqual(messages(self.temp_pending()), ["read-only 1", "read-only 2"])
            # A start while the folder is still read-only changes nothing and loses nothing.
            self.crash(app, "start")
            self.assertEqual(messages(log), ["before 1"])
            self.assertEqual(messages(self.temp_pending()), ["read-only 1", "read-only 2"])
        finally:
            subprocess.run(["umount", app], check=True)

        # The next start moves them into the log, and the pending file goes.
        self.crash(app, "start")
        self.assertEqual(messages(log), ["before 1", "read-only 1", "read-only 2"])
        self.assertIsNone(messages(self.temp_pending()))
        self.crash(app, "fail", "1", "after")
        self.assertEqual(messages(log), ["before 1", "read-only 1", "read-only 2", "after 1"])
        self.assertEqual(sorted(os.listdir(app)), sorted([EXE_NAME, LOG_NAME]))

    def test_b_a_full_disk(self):
        app = self.folder("full")
        size = os.path.getsize(CRASH) + 512 * 1024
        mount("-t", "tmpfs", "-o", "size=%d" % size, "tmpfs", app)
        try:
            shutil.copy(CRASH, app)
            log = os.path.join(app, LOG_NAME)
            self.crash(app, "fail", "1", "before")
            self.assertEqual(messages(log), ["before 1"])
            with open(log, "rb") as f:
                logged = f.read()
            # Fill the disk to the last byte.
            filler = os.path.join(app, "filler")
            fd = os.open(filler, os.O_WRONLY | os.O_CREAT)
            for chunk in (65536, 1):
                try:
                    while True:
                        os.write(fd, b"\0" * chunk)
                except OSError:
                    pass
            os.close(fd)

            self.crash(app, "fail", "2", "full")
            # The log is as it was, whole; the reports wait in the temporary folder; no half
            # written file is left beside the log.
            with open(log, "rb") as f:
                self.assertEqual(f.read(), logged)
            self.assertEqual(messages(self.temp_pending()), ["full 1", "full 2"])
            self.assertEqual(sorted(os.listdir(app)), sorted([EXE_NAME, LOG_NAME, "filler"]))

            # Room again: the next start logs what waited, then the new report follows.
            os.remove(filler)
            self.crash(app, "fail", "1", "after")
            self.assertEqual(messages(log), ["before 1", "full 1", "full 2", "after 1"])
            self.assertIsNone(messages(self.temp_pending()))
        finally:
            subprocess.run(["umount", app], check=True)


def main():
    if IN_NAMESPACE:
        unittest.main(argv=[sys.argv[0], "-v"])
        return
    unshare = ["unshare", "--mount"]
    if os.geteuid() != 0:
        unshare[1:1] = ["--user", "--map-root-user"]
    result = subprocess.run(unshare + ["--", sys.executable, os.path.abspath(__file__), CRASH, WINE_RUN,
                                       "--in-namespace"], stdin=subprocess.DEVNULL, timeout=600)
    sys.exit(result.returncode)


if __name__ == "__main__":
    main()
