"""package/make-cab and its setup-file writer: a round trip of every member through
Debian's cabextract, the same bytes from the same inputs, a setup file laid out by
hand from the format's description, and every refusal.

    /usr/bin/python3 test_make_cab.py LIBDIR TESTLIBDIR

LIBDIR holds the build's brindleres.dll and national/<CODE>/brindleres.dll; TESTLIBDIR
the test libraries built from this folder's .rc files.
"""

import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # nothing written beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from standin_pe import write as stand_in_pe  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
MAKE_CAB = os.path.join(ROOT, "package", "make-cab")
WRITE_SETUP = os.path.join(ROOT, "package", "write_setup.py")
PYTHON = "/usr/bin/python3"
CODES = ("USA", "FRA", "GER", "ESP", "PTB", "ITA")
LIBDIR = TESTLIBDIR = None

FOLDER = "%CE1%\\Corvane Tavlo"


def library(code):
    if code == "USA":
        return os.path.join(LIBDIR, "brindleres.dll")
    return os.path.join(LIBDIR, "national", code, "brindleres.dll")


def cabextract_list(cab):
    """(name, size) of each member in the cabinet's order, as cabextract lists them."""
    run = subprocess.run(["cabextract", "-l", cab], capture_output=True, text=True)
    if run.returncode != 0:
        raise AssertionError(f"cabextract -l failed: {run.stderr}")
    members = []
    for line in run.stdout.splitlines():
        parts = [p.strip() for p in line.split("|")]
        if len(parts) == 3 and parts[0].isdigit():
            members.append((parts[2], int(parts[0]), parts[1]))
    return members


class Inputs:
    """A package's worth of stand-in inputs in a folder of their own."""

    def __init__(self, top, code="FRA"):
        rng = random.Random(20)
        self.dir = os.path.join(top, "in")
        os.makedirs(os.path.join(self.dir, "help"))
        self.program = os.path.join(self.dir, "brindle.exe")
        stand_in_pe(self.program, 0x1C0, 9, bytes(rng.randrange(256) for _ in range(70000)))
        self.library = library(code)
        self.code = code
        pages = [("tavlo.htc", b"<html><body>Tavlo</body></html>\r\n"),
                 ("tavlo_keys.htm", bytes(rng.randrange(256) for _ in range(40000))),
                 ("empty.htm", b"")]
        self.help = []
        for name, data in pages:
            path = os.path.join(self.dir, "help", name)
            with open(path, "wb") as f:
                f.write(data)
            self.help.append((path, "%CE2%\\" + name))
        self.files = [(self.program, FOLDER + "\\brindle.exe"),
                      (self.library, FOLDER + "\\brindleres.dll")] + self.help

    def args(self, out, *extra):
        args = [MAKE_CAB, "--out", out, "--app", "Tavlo", "--provider", "Corvane",
                "--processor", "2577", "--min-version", "3.0"]
        for src, dest in self.files:
            args += ["--file", src, dest]
        args += ["--shortcut", "%CE11%\\Tavlo", FOLDER + "\\brindle.exe",
                 "--shortcut", "%CE4%\\Tavlo", FOLDER + "\\brindle.exe",
                 "--check-program", self.program,
                 "--check-language", self.library, self.code]
        return args + list(extra)


def run(args, env=None, python=(PYTHON,)):
    return subprocess.run(list(python) + args, capture_output=True, text=True,
                          env=dict(os.environ, **(env or {})))


class Case(unittest.TestCase):
    def setUp(self):
        self.top = tempfile.mkdtemp(prefix="make-cab-test-")
        self.inputs = Inputs(self.top)
        self.out_dir = os.path.join(self.top, "out")
        self.out = os.path.join(self.out_dir, "keybd.PPC_ARM.cab")

    def tearDown(self):
        shutil.rmtree(self.top)


class RoundTrip(Case):
    def round_trip(self, *extra):
        setup = os.path.join(self.top, "setup.000")
        r = run(self.inputs.args(self.out, "--setup-out", setup, *extra))
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(self.out, "rb") as f:
            self.assertEqual(f.read(4), b"MSCF")

        # The listing: the setup file first, then the files by descending id, each
        # the size of its input.
        n = len(self.inputs.files)
        expected = [("tavlo.000", os.path.getsize(setup))]
        for file_id in range(n, 0, -1):
            expected.append((f"tavlo.{file_id:03d}", os.path.getsize(self.inputs.files[file_id - 1][0])))
        listed = cabextract_list(self.out)
        self.assertEqual([(name, size) for name, size, _ in listed], expected)
        # Dated with the fixed stamp, not with the time of the build.
        self.assertEqual({date for _, _, date in listed}, {"01.01.2001 00:00:00"})

        # Extracted, every member is its input byte for byte, and there is nothing else.
        dest = os.path.join(self.top, "extracted")
        x = subprocess.run(["cabextract", "-q", "-d", dest, self.out], capture_output=True, text=True)
        self.assertEqual(x.returncode, 0, x.stderr)
        self.assertEqual(sorted(os.listdir(dest)), sorted(name for name, _ in expected))
        with open(setup, "rb") as a, open(os.path.join(dest, "tavlo.000"), "rb") as b:
            self.assertEqual(a.read(), b.read(), "tavlo.000")
        for file_id, (src, _) in enumerate(self.inputs.files, 1):
            with open(src, "rb") as a, open(os.path.join(dest, f"tavlo.{file_id:03d}"), "rb") as b:
                self.assertEqual(a.read(), b.read(), src)
        t = subprocess.run(["cabextract", "-t", self.out], capture_output=True, text=True)
        self.assertEqual(t.returncode, 0, t.stdout + t.stderr)
        # Nothing of the work is left beside the cabinet.
        self.assertEqual(os.listdir(self.out_dir), ["keybd.PPC_ARM.cab"])

    def members_size(self):
        return sum(os.path.getsize(src) for src, _ in self.inputs.files)

    def test_uncompressed(self):
        self.round_trip()
        # Stored: the cabinet is larger than its members together.
        self.assertGreater(os.path.getsize(self.out), self.members_size())

    def test_mszip(self):
        self.round_trip("--compress", "mszip")
        # The resource library and the program's headers compress.
        self.assertLess(os.path.getsize(self.out), self.members_size())

    def test_every_national_library_is_accepted_as_its_own_code(self):
        for code in CODES:
            for given in (code, code.lower()):
                with self.subTest(code=code, given=given):
                    self.inputs.files[1] = (library(code), FOLDER + "\\brindleres.dll")
                    self.inputs.library, self.inputs.code = library(code), given
                    r = run(self.inputs.args(self.out))
                    self.assertEqual(r.returncode, 0, r.stderr)


class SameBytes(Case):
    def make(self, name, env, cwd_from=None):
        out = os.path.join(self.top, name, "keybd.PPC_ARM.cab")
        r = subprocess.run([PYTHON] + self.inputs.args(out), capture_output=True, text=True,
                           env=dict(os.environ, **env), cwd=cwd_from or self.top)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(out, "rb") as f:
            return f.read()

    def test_same_inputs_give_the_same_bytes(self):
        first = self.make("a", {"TZ": "UTC"})
        # Other modification times, another time zone, another folder: the same bytes.
        for src, _ in self.inputs.files:
            if src.startswith(self.inputs.dir):
                os.utime(src, (1234567890, 1234567890))
        second = self.make("b", {"TZ": "Pacific/Auckland"}, cwd_from=self.inputs.dir)
        self.assertEqual(first, second)

    def test_source_date_epoch_sets_the_stamp(self):
        plain = self.make("a", {})
        dated = self.make("b", {"SOURCE_DATE_EPOCH": "1262347200"})  # 2010-01-01 12:00 UTC
        self.assertNotEqual(plain, dated)
        listed = cabextract_list(os.path.join(self.top, "b", "keybd.PPC_ARM.cab"))
        self.assertEqual({date for _, _, date in listed}, {"01.01.2010 12:00:00"})


def u16(v):
    return struct.pack("<H", v)


def u32(v):
    return struct.pack("<I", v)


class SetupFileLayout(unittest.TestCase):
    """A small setup file laid out by hand from the format's description."""

    def test_one_file_one_shortcut(self):
        expected = b"".join([
            b"MSCE", u32(0), u32(162), u32(0), u32(1),  # signature, ?, length, ?, ?
            u32(2577), u32(3), u32(0),                # StrongARM, CE 3.0 at least
            u32(0), u32(0), u32(0), u32(0),           # no highest version, no build range
            u16(2), u16(1), u16(1), u16(0), u16(0), u16(1),  # strings dirs files hives keys links
            u32(104), u32(120), u32(128), u32(146), u32(146), u32(146),  # their offsets
            u16(100), u16(2), u16(102), u16(2), u16(104), u16(0),  # app, provider, unsupported
            u16(0), u16(0),
            b"A\0", b"P\0",                                        # 100, 102
            u16(1), u16(6), b"%CE2%\0", u16(2), u16(2), b"L\0",    # 104: strings 1, 2
            u16(1), u16(4), u16(1), u16(0),                        # 120: dir 1 = %CE2%
            u16(1), u16(1), u16(1), u32(0x40000002), u16(6), b"x.htc\0",  # 128: file 1
            u16(1), u16(0), u16(4), u16(1), u16(1), u16(4), u16(2), u16(0),  # 146: link 1
        ])
        out = tempfile.mktemp(suffix=".000")
        try:
            r = run([WRITE_SETUP, "-o", out, "--app", "A", "--provider", "P",
                     "--file", "%CE2%\\x.htc", "--shortcut", "%CE4%\\L", "%CE2%\\x.htc"])
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(out, "rb") as f:
                self.assertEqual(f.read().hex(" ", 2), expected.hex(" ", 2))
        finally:
            if os.path.exists(out):
                os.remove(out)


class Refusals(Case):
    """Each bad input is refused with its reason, and no cabinet is left: neither a new
    one nor the one an earlier run left there."""

    def refuse(self, args, message, env=None, python=(PYTHON,)):
        os.makedirs(self.out_dir, exist_ok=True)
        with open(self.out, "wb") as f:
            f.write(b"MSCF an earlier cabinet")
        r = run(args, env, python)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(message, r.stderr)
        self.assertTrue(r.stderr.startswith("make-cab: "), r.stderr)
        self.assertEqual(os.listdir(self.out_dir), [], "left behind")

    def test_refusals(self):
        ins = self.inputs
        not_pe = os.path.join(ins.dir, "notes.txt")
        with open(not_pe, "w") as f:
            f.write("not a program\n")
        x86 = os.path.join(ins.dir, "x86.exe")
        stand_in_pe(x86, 0x14C, 2)
        arm_console = os.path.join(ins.dir, "armcui.exe")
        stand_in_pe(arm_console, 0x1C0, 3)
        missing = os.path.join(ins.dir, "help", "missing.htm")
        no_gcab_path = os.path.join(self.top, "bin")  # a PATH without gcab
        os.mkdir(no_gcab_path)

        def with_file(src, dest):
            return ["--file", src, dest]

        def test_lib(name):
            return os.path.join(TESTLIBDIR, name + ".dll")

        cases = [
            ("missing input", ins.args(self.out, *with_file(missing, "%CE2%\\missing.htm")),
             f"input file missing: {missing}", None, (PYTHON,)),
            ("missing library", [a if a != ins.library else missing for a in ins.args(self.out)],
             f"input file missing: {missing}", None, (PYTHON,)),
            ("input is a folder", ins.args(self.out, *with_file(os.path.join(ins.dir, "help"), "%CE2%\\h")),
             "input is not a file", None, (PYTHON,)),
            ("no gcab named", ins.args(self.out),
             "needs gcab to write the cabinet (/nonexistent/gcab not found)",
             {"BRINDLE_GCAB": "/nonexistent/gcab"}, (PYTHON,)),
            ("no gcab on PATH", ins.args(self.out), "install Debian's gcab",
             {"PATH": no_gcab_path, "BRINDLE_GCAB": ""}, (PYTHON,)),
            ("no pefile", ins.args(self.out), "install Debian's python3-pefile", None, (PYTHON, "-S")),
            ("no string 20", [a if a != ins.library else test_lib("cabtest_nostring20")
                              for a in ins.args(self.out)],
             "cabtest_nostring20.dll has no string 20", None, (PYTHON,)),
            ("no strings at all", [a if a != ins.library else test_lib("cabtest_nostrings")
                                   for a in ins.args(self.out)],
             "cabtest_nostrings.dll has no string 20", None, (PYTHON,)),
            ("two languages disagree", [a if a != ins.library else test_lib("cabtest_twolanguages")
                                        for a in ins.args(self.out)],
             "is the resource library of 'GER' (its string 20), not of FRA", None, (PYTHON,)),
            ("library not a PE file", [a if a != ins.library else not_pe for a in ins.args(self.out)],
             f"{not_pe} is not a PE file", None, (PYTHON,)),
            ("program for a desktop", [a if a != ins.program else x86 for a in ins.args(self.out)],
             "is not a program for the handheld: machine 0x14c, subsystem 2", None, (PYTHON,)),
            ("program without window", [a if a != ins.program else arm_console for a in ins.args(self.out)],
             "is not a program for the handheld: machine 0x1c0, subsystem 3", None, (PYTHON,)),
            ("destination outside the standard folders",
             ins.args(self.out, *with_file(ins.help[0][0], "\\Windows\\tavlo2.htc")),
             "does not begin with a standard folder %CE1% to %CE17%", None, (PYTHON,)),
            ("%CE18%", ins.args(self.out, *with_file(ins.help[0][0], "%CE18%\\tavlo2.htc")),
             "does not begin with a standard folder", None, (PYTHON,)),
            ("two files to one place, case aside",
             ins.args(self.out, *with_file(ins.help[1][0], "%CE2%\\TAVLO.HTC")),
             "two files go to '%CE2%\\TAVLO.HTC'", None, (PYTHON,)),
            ("name a handheld cannot hold", ins.args(self.out, *with_file(ins.help[0][0], "%CE2%\\a:b.htm")),
             "holds a character the handheld's names cannot", None, (PYTHON,)),
            ("name not ASCII", ins.args(self.out, *with_file(ins.help[0][0], "%CE2%\\aide-é.htm")),
             "holds a character the handheld's names cannot", None, (PYTHON,)),
            ("shortcut to no file", ins.args(self.out, "--shortcut", "%CE11%\\Other", FOLDER + "\\other.exe"),
             "which is not among the files", None, (PYTHON,)),
        ]
        lang_cases = [(f"{lib} as {code}", lib, code) for lib, code in
                      (("GER", "FRA"), ("USA", "FRA"), ("FRA", "USA"), ("ITA", "PTB"))]
        for name, lib, code in lang_cases:
            args = [a if a != ins.library else library(lib) for a in ins.args(self.out)]
            args[-1] = code
            cases.append((name, args, f"is the resource library of '{lib}' (its string 20), "
                          f"not of {code}, which it is packaged as", None, (PYTHON,)))
        for name, args, message, env, python in cases:
            with self.subTest(name):
                self.refuse(args, message, env, python)


if __name__ == "__main__":
    LIBDIR, TESTLIBDIR = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    unittest.main(argv=[sys.argv[0], "-v"])
