"""Runs rmevents.exe under Wine the way the batch runner does: from a folder of its own that
also holds the two control files, with bare file names for them and for the log.

Environment: RMEVENTS_EXE (the built program), PELLORAN_WINE_RUN (scripts/wine-run.sh) and
PELLORAN_WINE_SESSION (the running Wine session).
"""
import os
import shutil
import subprocess

EVENTS_TEXT = ("i 00:00:00.0 00:00:10.0 Pelloran\r\n"
               "a 00:00:00.0 00:00:10.0 www.pelloran.example\r\n"
               "c 00:00:00.0 00:00:10.0 用《Pelloran》清除RM恶意弹出广告\r\n").encode("gbk")
IMAGE_MAP_TEXT = (b"DURATION=0:0:0:0:1\r\n<MAP START=0:0:0:0:1 END=0:0:0:0:1 COORDS=0,0,0,0>"
                  b"<AREA SHAPE=RECTANGLE COORDS=0,0,0,0 URL=\"\" ALT=\"\"></MAP>\r\n")
# What the events file puts into the content description.
TEXTS = (b"Pelloran", b"www.pelloran.example", "用《Pelloran》清除RM恶意弹出广告".encode("gbk"))


def windows_path(path):
    """Wine shows the Linux file system as drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class ToolFolder:
    def __init__(self, folder, lang="en"):
        """lang: the --lang given on every run; None for the user's own (Chinese in the test
        session, which runs with LANG=zh_CN.UTF-8)."""
        self.folder = folder
        self.lang = lang
        os.makedirs(folder, exist_ok=True)
        self.exe = os.path.join(folder, "rmevents.exe")
        shutil.copyfile(os.environ["RMEVENTS_EXE"], self.exe)
        with open(os.path.join(folder, "blank.txt"), "wb") as f:
            f.write(EVENTS_TEXT)
        with open(os.path.join(folder, "blank2.txt"), "wb") as f:
            f.write(IMAGE_MAP_TEXT)
        self.log_path = os.path.join(folder, "result.txt")

    def run(self, *args):
        """Runs the tool with these arguments; returns (exit status, log lines)."""
        if os.path.exists(self.log_path):
            os.remove(self.log_path)
        if self.lang:
            args = (*args, "--lang", self.lang)
        run = subprocess.run([os.environ["PELLORAN_WINE_RUN"], "rmevents.exe", *args],
                             cwd=self.folder, capture_output=True, timeout=120)
        lines = []
        if os.path.exists(self.log_path):
            with open(self.log_path, "rb") as f:
                lines = f.read().decode("gbk", "replace").split("\r\n")
            if lines and lines[-1] == "":
                lines.pop()
        return run.returncode, lines

    def clean(self, src, dst, *extra):
        return self.run("-i", windows_path(src), "-o", windows_path(dst), "-e", "blank.txt",
                        "-m", "blank2.txt", "-l", "result.txt", *extra)
