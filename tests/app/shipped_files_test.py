#!/usr/bin/env python3
"""What users get: Pelloran.exe and rmevents.exe need no DLL that Windows itself does not have, and
carry no debug information or symbol table (Pelloran keeps its crash-reporter data in ELDATA).

    shipped_files_test.py OBJDUMP PROGRAM...
"""
import re
import subprocess
import sys
import unittest

# DLLs of Windows itself that the programs may import (lower case).
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll", "oleaut32.dll",
    "comctl32.dll", "comdlg32.dll", "msvcrt.dll", "gdiplus.dll", "shlwapi.dll", "msimg32.dll", "psapi.dll",
    "version.dll", "wsock32.dll", "ws2_32.dll", "iphlpapi.dll", "crypt32.dll", "secur32.dll", "winspool.drv",
    "uuid.dll", "imm32.dll", "winmm.dll", "mapi32.dll",
}

OBJDUMP = sys.argv[1]
PROGRAMS = sys.argv[2:]


def objdump(*args):
    return subprocess.run([OBJDUMP, *args], capture_output=True, text=True, check=True).stdout


class ShippedFiles(unittest.TestCase):
    def test_only_system_dlls_are_imported(self):
        for program in PROGRAMS:
            imports = {name.lower() for name in re.findall(r"DLL Name: (\S+)", objdump("-p", program))}
            self.assertTrue(imports, program)
            self.assertEqual(imports - SYSTEM_DLLS, set(), program)

    def test_no_debug_sections_and_no_symbols(self):
        for program in PROGRAMS:
            headers = objdump("-h", program)
            self.assertNotRegex(headers, r"\s\.debug_", program)
            self.assertNotIn("HAS_SYMS", objdump("-f", program), program)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
