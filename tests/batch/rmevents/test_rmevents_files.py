#!/usr/bin/env python3
"""rmevents.exe under Wine on files made with ffmpeg and the test-side writer, one per layout:
no event or image-map stream is left, every audio and video packet is the same and in the same
order, ffprobe reads the result exactly as it reads ffmpeg's own file, CONT holds the events
file's texts, and the counts of .RMF and PROP describe the output."""
import hashlib
import os
import re
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_rm_fixture  # noqa: E402
import rm_checks  # noqa: E402
import rmfile  # noqa: E402
import wine_tool  # noqa: E402

# layout, video codec, audio codec
CASES = [
    ("events-v0", "rv10", "real_144"),
    ("imagemap-v1", "rv20", "ac3"),
    ("split-data", "rv10", "ac3"),
    ("mixed-v1", "rv20", "real_144"),
    ("plain", "rv10", "real_144"),
    ("older-types", "rv20", "ac3"),
]


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class CleanGeneratedFiles(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="rmevents-files-")
        cls.tool = wine_tool.ToolFolder(os.path.join(cls.tmp.name, "tool"))
        # Paths with Chinese and spaces, as users' folders have them.
        cls.media = os.path.join(cls.tmp.name, "影片 文件")
        os.makedirs(cls.media)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def clean_layout(self, layout, video, audio, *extra, name=None):
        name = name or layout
        src = os.path.join(self.media, "%s 广告.rm" % name)
        base = os.path.join(self.media, "%s-base.rm" % name)
        dst = os.path.join(self.media, "Fix_%s 广告.rm" % name)
        make_rm_fixture.main([src, "--layout", layout, "--video", video, "--audio", audio,
                              "--seconds", "3", "--keep-base", base, *extra])
        before = digest(src)
        status, log = self.tool.clean(src, dst)
        text = "\n".join(log)
        self.assertEqual(status, 0, text)
        self.assertEqual(log[-1], "***", text)
        self.assertTrue(os.path.exists(dst), text)
        self.assertEqual(digest(src), before, "the input changed")
        self.assertEqual([n for n in os.listdir(self.media) if n.endswith(".part")], [],
                         "the partial file stayed")

        problems = rm_checks.check_cleaned(src, dst, wine_tool.TEXTS)
        self.assertEqual(problems, [], text)

        wrote = re.search(r"Wrote: .*, (\d+) bytes, (\d+) packets", text)
        self.assertIsNotNone(wrote, text)
        self.assertEqual(int(wrote.group(1)), os.path.getsize(dst))
        if layout != "plain":
            self.assertIn("Removed: stream", text)
        else:
            self.assertIn("Removed: nothing", text)

        # ffmpeg reads neither version-1 packets nor several DATA chunks; every other layout must
        # look to ffprobe exactly like ffmpeg's own file.
        if layout != "mixed-v1":
            want = rm_checks.ffprobe_media(base)
            got = rm_checks.ffprobe_media(dst)
            self.assertEqual(got["errors"], "")
            self.assertEqual(got["codecs"], sorted([video, "ac3" if audio == "ac3" else "ra_144"]))
            self.assertGreater(len(got["video"]), 10)
            self.assertGreater(len(got["audio"]), 10)
            self.assertEqual(got["video"], want["video"])
            self.assertEqual(got["audio"], want["audio"])
        return text, rmfile.read(dst)

    def test_events_v0(self):
        self.clean_layout(*CASES[0])

    def test_imagemap_v1_with_logical_headers(self):
        text, _ = self.clean_layout(*CASES[1])
        self.assertIn("Removed: logical header 9, logical-application/x-pn-multirate-imagemap",
                      text)

    def test_advertising_in_its_own_data_chunk(self):
        text, _ = self.clean_layout(*CASES[2])
        self.assertIn("which held advertising only", text)

    def test_version_1_media_over_three_data_chunks(self):
        self.clean_layout(*CASES[3])

    def test_ffmpegs_own_file_without_advertising(self):
        text, out = self.clean_layout(*CASES[4])
        self.assertIn("bytes after its last packet left out", text)
        self.assertIn("gives a wrong size", text)  # 18 bytes too many
        self.assertEqual(out.num_headers, len(out.chunks))  # ffmpeg counts every chunk

    def test_older_forms_of_the_advertising_types(self):
        text, out = self.clean_layout(*CASES[5])
        for removed in ("stream 2, syncMM/x-pn-realvideo (event stream)",
                        "stream 3, syncMM/x-pn-realvideo-encrypted (event stream)",
                        "stream 4, image_map/x-pn-realvideo (image map)",
                        "index of stream 2", "index of stream 4"):
            self.assertIn("Removed: " + removed, text)
        self.assertEqual([s.number for s in out.streams], [0, 1])
        self.assertEqual([x.stream for x in out.indexes], [0])

    def test_counts_the_way_the_reference_parser_does(self):
        # .RMF counting every chunk, itself included; logical headers among the streams.
        _, out = self.clean_layout(*CASES[1], "--num-headers", "every", name="every-chunk")
        self.assertEqual(out.num_headers, len(out.chunks))

    def test_damaged_counts_become_true_ones(self):
        text, out = self.clean_layout(*CASES[0], "--num-headers", "0xFFFFFFFF",
                                      "--num-streams", "0xFFFF", name="damaged-counts")
        self.assertEqual(out.num_headers, len(out.chunks))
        self.assertEqual(out.prop["num_streams"], len(out.streams))
        self.assertEqual(text.count("the count is wrong"), 2, text)

    def test_a_data_size_far_past_the_end(self):
        text, out = self.clean_layout(*CASES[0], "--data-size", "0xFFFFFFFF", name="data-size")
        self.assertIn("gives a wrong size, 4294967295 bytes", text)
        # The video index after the DATA chunk is still found and kept.
        self.assertEqual([x.stream for x in out.indexes], [0])

    def test_the_log_is_in_the_users_language(self):
        # The session's user is Chinese on code page 936: without --lang the log is Chinese;
        # every other case here runs with --lang en and reads English.
        tool = wine_tool.ToolFolder(os.path.join(self.tmp.name, "tool-zh"), lang=None)
        src = os.path.join(self.media, "zh 广告.rm")
        dst = os.path.join(self.media, "Fix_zh 广告.rm")
        make_rm_fixture.main([src, "--layout", "events-v0", "--seconds", "1"])
        status, log = tool.clean(src, dst)
        text = "\n".join(log)
        self.assertEqual((status, log[-1]), (0, "***"), text)
        self.assertEqual(log[0], "rmevents (Pelloran) 1.0：清除 RealMedia 文件中的弹出广告流")
        self.assertIn("已删除：流 2，application/x-pn-realevent（事件流）：其头部和", text)
        self.assertRegex(text, r"已写入：.*，%d 字节，" % os.path.getsize(dst))
        self.assertNotIn("Removed:", text)
        self.assertEqual(rm_checks.check_cleaned(src, dst, wine_tool.TEXTS), [], text)

        status, log = tool.clean(src, src)
        text = "\n".join(log)
        self.assertEqual((status, log[-1]), (1, "***"), text)
        self.assertIn("\nError: 输出文件就是输入文件", text)
        status, log = tool.clean(src, dst, "--lang", "en")
        self.assertEqual((status, log[-1]), (0, "***"), log)
        self.assertTrue(log[0].startswith("rmevents (Pelloran) 1.0: removes"), log)

    def test_the_checks_see_advertising_that_stays(self):
        # The checker itself: an uncleaned file must fail it.
        src = os.path.join(self.media, "check.rm")
        make_rm_fixture.main([src, "--layout", "events-v0", "--seconds", "1"])
        problems = rm_checks.check_cleaned(src, src, wine_tool.TEXTS)
        self.assertTrue(any("advertising" in p for p in problems), problems)
        self.assertTrue(any("keeps stream header 2" in p for p in problems), problems)


if __name__ == "__main__":
    unittest.main(verbosity=2)
