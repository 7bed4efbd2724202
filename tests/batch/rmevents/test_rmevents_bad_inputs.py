#!/usr/bin/env python3
"""rmevents.exe under Wine on inputs it must refuse: each gets a clear message in a log that
ends with "***", exit status 1, an earlier output left exactly as it was, and no partial file."""
import os
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_rm_fixture  # noqa: E402
import rmfile  # noqa: E402
import wine_tool  # noqa: E402


def patch(data, offset, fmt, value):
    data[offset:offset + struct.calcsize(fmt)] = struct.pack(fmt, value)


class RefuseBadInputs(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="rmevents-bad-")
        cls.tool = wine_tool.ToolFolder(os.path.join(cls.tmp.name, "tool"))
        good = os.path.join(cls.tmp.name, "good.rm")
        make_rm_fixture.main([good, "--layout", "events-v0", "--seconds", "1"])
        with open(good, "rb") as f:
            cls.good = f.read()
        rm = rmfile.parse(cls.good)
        cls.chunk = {fourcc: off for fourcc, off, _size in reversed(rm.chunks)}
        cls.packets = [p.offset for p in rm.packets()]

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def refuse(self, name, data, expected, *extra, status=1):
        src = os.path.join(self.tmp.name, name + ".rm")
        dst = os.path.join(self.tmp.name, "Fix_" + name + ".rm")
        if data is not None:
            with open(src, "wb") as f:
                f.write(data)
        earlier = b"an output left from an earlier run"
        with open(dst, "wb") as f:
            f.write(earlier)
        code, log = self.tool.clean(src, dst, *extra)
        text = "\n".join(log)
        self.assertEqual(code, status, text)
        self.assertTrue(log and log[-1] == "***", text)
        self.assertIn(expected, text)
        with open(dst, "rb") as f:
            self.assertEqual(f.read(), earlier, "the earlier output changed:\n" + text)
        self.assertEqual(self.partials(), [], text)
        return text

    def partials(self):
        return [n for n in os.listdir(self.tmp.name) if n.endswith(".part")]

    def damaged(self, change):
        data = bytearray(self.good)
        change(data)
        return bytes(data)

    def test_not_a_realmedia_file(self):
        self.refuse("text", b"just some text, long enough to be read\r\n" * 3,
                    "not a RealMedia file")
        self.refuse("empty", b"", "not a RealMedia file")

    def test_truncated_files(self):
        self.refuse("cut-header", self.good[:100], "runs past the end of the file")
        cut = self.packets[len(self.packets) // 2] + 5
        self.refuse("cut-data", self.good[:cut], "outside the file")
        no_index = self.damaged(lambda d: patch(d, self.chunk[b"PROP"] + 10 + 28, ">I", 0))
        self.refuse("cut-in-packet", no_index[:cut + 10], "runs past the end of its DATA chunk")
        self.refuse("cut-in-packet-header", no_index[:cut], "DATA chunk ends at offset")

    def test_sizes_and_offsets_outside_the_file(self):
        self.refuse("prop-size", self.damaged(
            lambda d: patch(d, self.chunk[b"PROP"] + 4, ">I", 0x00FFFFFF)), "past the end")
        self.refuse("data-offset", self.damaged(
            lambda d: patch(d, self.chunk[b"PROP"] + 10 + 32, ">I", 0x7FFFFFFF)),
                    "points at data outside the file")
        self.refuse("index-entry", self.damaged(
            lambda d: patch(d, self.chunk[b"INDX"] + 20 + 6, ">I", 0x7FFFFFFF)),
                    "points outside the file")
        self.refuse("zero-size", self.damaged(
            lambda d: patch(d, self.chunk[b"MDPR"] + 4, ">I", 0)), "impossible size")

    def test_packet_lengths_that_do_not_fit(self):
        self.refuse("long-packet", self.damaged(
            lambda d: patch(d, self.packets[3] + 2, ">H", 0xFFFF)),
                    "runs past the end of its DATA chunk")
        self.refuse("short-packet", self.damaged(
            lambda d: patch(d, self.packets[3] + 2, ">H", 4)), "less than its own header")

    def test_files_of_4_gib_and_more(self):
        big = os.path.join(self.tmp.name, "huge.rm")
        with open(big, "wb") as f:
            f.write(self.good)
            f.truncate(1 << 32)  # sparse: no disk space used
        try:
            self.refuse("huge", None, "4 GiB or larger")
        finally:
            os.remove(big)

    def test_missing_input_and_control_files(self):
        self.refuse("missing", None, "cannot be opened")
        with open(os.path.join(self.tmp.name, "good-copy.rm"), "wb") as f:
            f.write(self.good)
        src = os.path.join(self.tmp.name, "good-copy.rm")
        dst = os.path.join(self.tmp.name, "Fix_good-copy.rm")
        code, log = self.tool.run("-i", wine_tool.windows_path(src), "-o",
                                  wine_tool.windows_path(dst), "-e", "nothing.txt", "-l",
                                  "result.txt")
        self.assertEqual((code, log[-1]), (1, "***"))
        self.assertIn("the events file \"nothing.txt\" cannot be read", "\n".join(log))
        self.assertFalse(os.path.exists(dst))

    def test_the_output_may_not_be_the_input_however_spelt(self):
        folder = os.path.join(self.tmp.name, "same")
        os.makedirs(folder, exist_ok=True)
        src = os.path.join(folder, "same.rm")
        with open(src, "wb") as f:
            f.write(self.good)
        os.link(src, os.path.join(folder, "linked.rm"))
        win = wine_tool.windows_path(src)
        spellings = [win, win.upper(), win.replace("\\same\\same.rm", "\\same\\.\\..\\same\\same.rm"),
                     wine_tool.windows_path(os.path.join(folder, "linked.rm"))]
        for output in spellings:
            # Missing control files too: the refusal comes before anything is read.
            code, log = self.tool.run("-i", win, "-o", output, "-e", "missing.txt", "-m",
                                      "missing2.txt", "-l", "result.txt")
            text = "\n".join(log)
            self.assertEqual((code, log[-1]), (1, "***"), output)
            self.assertIn("the output file is the input file", text)
            self.assertNotIn("cannot be read", text)
            with open(src, "rb") as f:
                self.assertEqual(f.read(), self.good, output)
            self.assertEqual(sorted(os.listdir(folder)), ["linked.rm", "same.rm"], output)

    def test_an_output_naming_a_folder_or_a_partial_file_in_the_way(self):
        src = os.path.join(self.tmp.name, "folder-out.rm")
        with open(src, "wb") as f:
            f.write(self.good)
        # A folder as the output (with or without its trailing backslash, which Wine's own
        # command line may drop): refused, the folder as it was, nothing left beside it.
        out = os.path.join(self.tmp.name, "a folder")
        os.makedirs(out, exist_ok=True)
        for name in (out, out + os.sep):
            code, log = self.tool.clean(src, name)
            self.assertEqual((code, log[-1]), (1, "***"), log)
            self.assertTrue(any(line.startswith("Error: ") for line in log), log)
            self.assertTrue(os.path.isdir(out))
            self.assertEqual(self.partials(), [])

        dst = os.path.join(self.tmp.name, "Fix_in-the-way.rm")
        somebodys = os.path.join(self.tmp.name, "~Fix_in-the-way.rm.part")
        with open(somebodys, "wb") as f:
            f.write(b"not ours")
        try:
            code, log = self.tool.clean(src, dst)
            self.assertEqual((code, log[-1]), (1, "***"), log)
            self.assertIn("is in the way", "\n".join(log))
            with open(somebodys, "rb") as f:
                self.assertEqual(f.read(), b"not ours")
            self.assertFalse(os.path.exists(dst))
        finally:
            os.remove(somebodys)

    def test_bad_command_line(self):
        code, log = self.tool.run("-i", "x.rm", "-z", "-l", "result.txt")
        self.assertEqual(code, 2)
        self.assertEqual(log[-1], "***")
        self.assertIn("unknown argument \"-z\"", "\n".join(log))


if __name__ == "__main__":
    unittest.main(verbosity=2)
