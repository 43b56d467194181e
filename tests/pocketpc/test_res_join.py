#!/usr/bin/python3
"""cmake/pocketpc-res: several .res files become one ARM object holding all their
resources (read back from a DLL the CE linker makes of it), and a file that is not a
.res is refused.

    test_res_join.py PATH/pocketpc-res PATH/arm-mingw32ce-windres
"""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

from check_pe import pe_resources

JOIN = WINDRES = None


def entry(rtype, name, language, data, flags=0x30):
    """One resource entry of a .res file, with numeric type and name."""
    header = struct.pack("<IIHHHHIHHII", len(data), 32, 0xFFFF, rtype, 0xFFFF, name, 0, flags, language, 0, 0)
    return header + data + b"\0" * (-len(data) % 4)


EMPTY = entry(0, 0, 0, b"", flags=0)  # what every .res file starts with


class Join(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def path(self, name, data=None):
        p = os.path.join(self.dir.name, name)
        if data is not None:
            with open(p, "wb") as f:
                f.write(data)
        return p

    def join(self, *inputs):
        obj = self.path("out.obj")
        return subprocess.run([JOIN, "--windres", WINDRES, "-o", obj] + list(inputs), capture_output=True, text=True), obj

    def test_every_resource_of_every_file_is_in_the_object(self):
        # Raw data (RCDATA, and a type of the program's own), which windres does not parse.
        a = self.path("a.res", EMPTY + entry(10, 131, 1033, b"menu bar") + entry(300, 101, 1033, b"seven!!"))
        b = self.path("b.res", EMPTY + entry(10, 1, 1036, b"sixteen bytes..."))
        result, obj = self.join(a, b)
        self.assertEqual(result.returncode, 0, result.stderr)
        tools = os.path.dirname(WINDRES)
        self.assertIn("pe-arm-wince-little", subprocess.run(
            [os.path.join(tools, "arm-mingw32ce-objdump"), "-f", obj], capture_output=True, text=True, check=True).stdout)
        # Read back as the handheld would: from a library the CE linker makes of it.
        dll = self.path("out.dll")
        subprocess.run([os.path.join(tools, "arm-mingw32ce-ld"), "--dll", "-e", "0", "-o", dll, obj], check=True)
        self.assertEqual(pe_resources(dll), {(10, 131, 1033): b"menu bar", (300, 101, 1033): b"seven!!",
                                             (10, 1, 1036): b"sixteen bytes..."})

    def test_a_file_that_is_not_compiled_resources_is_refused(self):
        a = self.path("a.res", EMPTY + entry(10, 131, 1033, b"menu bar"))
        bad = self.path("bad.res", entry(10, 132, 1033, b"no empty entry first"))
        result, obj = self.join(a, bad)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("bad.res", result.stderr)
        self.assertFalse(os.path.exists(obj))


if __name__ == "__main__":
    JOIN, WINDRES = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0], "-v"])
