#!/usr/bin/python3
"""brindle.exe as built for the handheld, started in an emulated StrongARM with every
import trapped, on a handheld that lacks brindleres.dll: the entry readies the common
controls, wWinMain asks for the library, says it is missing, and the process ends
with 1.

    test_entry.py brindle.exe
"""

import struct
import sys
import unittest

from ce_emulator import CeImage, StopRun

EXE = None


class Entry(unittest.TestCase):
    def test_without_its_resource_library_the_program_says_so_and_exits_with_1(self):
        self.run_without_library(CeImage(EXE))

    def test_the_same_loaded_elsewhere_with_its_base_relocations_applied(self):
        # Every absolute address in the code is in the .reloc table, or the strings and
        # calls below would come out wrong at another base.
        emu = CeImage(EXE, base=0x00400000)
        self.assertEqual(emu.base, 0x00400000)
        self.run_without_library(emu)

    def run_without_library(self, emu):
        seen = []

        def record(name, reply, show):
            def handler(e, a):
                seen.append((name,) + show(e, a))
                return reply
            return handler

        def exit_thread(e, a):
            raise StopRun("ExitThread", a[0])

        emu.on("InitCommonControlsEx", record("InitCommonControlsEx", 1, lambda e, a: (e.read(a[0], 8),)))
        emu.on("LoadLibraryW", record("LoadLibraryW", 0, lambda e, a: (e.read_wide(a[0]),)))
        emu.on("MessageBoxW", record("MessageBoxW", 1,
                                     lambda e, a: (a[0], e.read_wide(a[1]), e.read_wide(a[2]), a[3])))
        emu.on("ExitThread", exit_thread)
        with self.assertRaises(StopRun) as stop:
            emu.call(emu.entry(), emu.base, 0, emu.wide(""), 1)
        self.assertEqual(stop.exception.value, 1)
        self.assertEqual(seen, [
            ("InitCommonControlsEx", struct.pack("<II", 8, 4)),
            ("LoadLibraryW", "brindleres.dll"),
            # MB_OK | MB_ICONEXCLAMATION
            ("MessageBoxW", 0, "Resource file (brindleres.dll) not found!", "brindle.exe", 0x30),
        ])


if __name__ == "__main__":
    EXE = sys.argv[1]
    unittest.main(argv=[sys.argv[0], "-v"])
