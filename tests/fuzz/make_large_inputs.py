#!/usr/bin/env python3
"""Writes megabyte inputs for the report_reader fuzz campaign (scripts/fuzz.sh): mails and a log
shaped so that a reader that searches to the end from every start would take minutes on them.
Each must be read within the campaign's timeout of 10 s.

Usage: make_large_inputs.py FOLDER"""
import os, sys

MB = 1 << 20
folder = sys.argv[1]
os.makedirs(folder, exist_ok=True)
starts = "=?a?b?c" * (MB // 7)


def mail(header):
    return ("From: a@b.test\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"XX\"\r\n\r\n"
            "--XX\r\n" + header + "\r\nContent-Transfer-Encoding: base64\r\n\r\nQ3Jhc2hMb2cgNC41LjQ=\r\n--XX--\r\n")


inputs = {
    "encoded_word_starts_in_a_name.eml": mail('Content-Type: application/octet-stream; name="%s"' % starts),
    "encoded_word_starts_in_a_filename.eml": mail('Content-Disposition: attachment; filename="%s"' % starts),
    "rfc2231_pieces.eml": mail("Content-Disposition: attachment;" +
                               "".join(" filename*%d=\"%s\";" % (i, "a" * 20) for i in range(MB // 40))),
    "folded_header.eml": mail("Content-Type: text/plain;" + "\r\n x=y;" * (MB // 8)),
    "boundaries_without_end.eml": "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n" + "--B\r\n\r\n" * (MB // 7),
    "report_starts_without_end.elf": "CrashLog 4.5.4\r\n" * (MB // 16),
}
for name, text in inputs.items():
    with open(os.path.join(folder, name), "wb") as f:
        f.write(text.encode("latin-1"))
