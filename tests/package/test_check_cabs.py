"""check-cabs on stand-in build trees: six cabinets made here with gcab from setup files
made by craft.py and made-up built files. The right packages pass; each fault is
reported by name, for its national build only, and fails the check."""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, HERE)
import craft  # noqa: E402

CHECK = os.path.join(HERE, "check-cabs")
CODES = ("USA", "FRA", "GER", "ESP", "PTB", "ITA")
PROGRAM_DIR, HELP_DIR = "%CE1%\\Corvane Tavlo", "%CE2%"
INI = ("[CEAppManager]\nVersion      = 1.0\nComponent    = corvane tavlo\n\n"
       "[corvane tavlo]\nDescription  = Folding keyboard driver\n"
       "CabFiles     = keybd.PPC_ARM.cab\n")


def pe(machine, filler):
    """A file a PE reader takes for a program of that machine."""
    head = bytearray(0x40)
    head[0:2] = b"MZ"
    struct.pack_into("<I", head, 0x3C, 0x40)
    return bytes(head) + b"PE\0\0" + struct.pack("<H", machine) + filler


def dll_path(tree, code):
    if code == "USA":
        return os.path.join(tree, "bin", "brindleres.dll")
    return os.path.join(tree, "bin", "national", code, "brindleres.dll")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_built_files(tree, src):
    write(os.path.join(tree, "bin", "brindle.exe"), pe(0x01C0, b"\x00\x10\xa0\xe3" * 40))
    for code in CODES:
        write(dll_path(tree, code), pe(0x01C0, ("resources " + code).encode() * 30))
        help_dir = os.path.join(src, "res", "help", code)
        write(os.path.join(help_dir, "tavlo.htc"), b"<HTML>contents " + code.encode())
        write(os.path.join(help_dir, "keys.htm"), b"<HTML>keys " + code.encode() * 20)
        write(os.path.join(help_dir, "picker.htm"), b"<HTML>picker " + code.encode())


def package_files(tree, src, code):
    """(folder, name, built file) in the package's order."""
    help_dir = os.path.join(src, "res", "help", code)
    return ([(PROGRAM_DIR, "brindle.exe", os.path.join(tree, "bin", "brindle.exe")),
             (PROGRAM_DIR, "brindleres.dll", dll_path(tree, code))]
            + [(HELP_DIR, n, os.path.join(help_dir, n)) for n in sorted(os.listdir(help_dir))])


GOOD_LINKS = [(11, "Tavlo", 0), (4, "Tavlo", 0)]


def make_cab(tree, src, code, files=None, links=GOOD_LINKS, setup=None, setup_bytes=None,
             replace=None, drop=(), extra=None, order=None, stems=None, ini=INI):
    """Writes <tree>/cab/<code>/ as the package must be, or with the faults asked for:
    files: (folder, name, built file); setup: craft.package_setup's other arguments;
    replace: {member number: bytes}; drop: member numbers left out; extra: {number:
    bytes} added; order: member numbers in the cabinet's order; stems: {number: stem}."""
    files = package_files(tree, src, code) if files is None else files
    data, ids = craft.package_setup([(d, n) for d, n, _ in files], links, **(setup or {}))
    members = {0: setup_bytes if setup_bytes is not None else data}
    for fid, (_, _, built) in zip(ids, files):
        with open(built, "rb") as f:
            members[fid] = f.read()
    members.update(replace or {})
    members.update(extra or {})
    for n in drop:
        del members[n]
    order = order or [n for n in (0,) if n in members] + sorted((n for n in members if n),
                                                                reverse=True)
    folder = os.path.join(tree, "cab", code)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with tempfile.TemporaryDirectory() as staging:
        names = []
        for n in order:
            name = "%s.%03d" % ((stems or {}).get(n, "keybd000"), n)
            write(os.path.join(staging, name), members[n])
            names.append(name)
        subprocess.run(["gcab", "-c", "-n", os.path.join(folder, "keybd.PPC_ARM.cab")]
                       + [os.path.join(staging, n) for n in names], check=True)
    if ini is not None:
        write(os.path.join(folder, "install.ini"), ini.encode())


def run_check(tree, src):
    run = subprocess.run(["/usr/bin/python3", CHECK, "--source", src, tree],
                         capture_output=True, text=True)
    return run.returncode, run.stdout + run.stderr


def help_path(src, code, name):
    return os.path.join(src, "res", "help", code, name)


# Each case: name, national build spoiled (None: all of them), what it does to the
# tree (tree, source) or to that build's cabinet (make_cab's arguments), and what
# check-cabs must say about it.
def _files(tree, src, code, change):
    return change(package_files(tree, src, code))


CASES = [
    ("no cabinets at all", None,
     lambda t, s: shutil.rmtree(os.path.join(t, "cab")),
     ["no cabinet at {tree}/cab/%s/keybd.PPC_ARM.cab" % c for c in CODES]),
    ("one cabinet missing", "FRA",
     lambda t, s: os.remove(os.path.join(t, "cab", "FRA", "keybd.PPC_ARM.cab")),
     ["FRA: no cabinet at {tree}/cab/FRA/keybd.PPC_ARM.cab"]),
    ("not a cabinet", "ESP",
     lambda t, s: write(os.path.join(t, "cab", "ESP", "keybd.PPC_ARM.cab"), b"MSCF" + b"x" * 60),
     ["ESP: cabextract -l {tree}/cab/ESP/keybd.PPC_ARM.cab failed (1)"]),
    ("a help page changed after packaging", "GER",
     lambda t, s: write(help_path(s, "GER", "keys.htm"), b"<HTML>keys, newer"),
     ["GER: member keybd000.003 (%CE2%\\keys.htm) is not {src}/res/help/GER/keys.htm:"
      " 71 bytes against 17, first difference at byte 10"]),
    ("a help page added after packaging", "GER",
     lambda t, s: write(help_path(s, "GER", "sticky.htm"), b"<HTML>sticky"),
     ["GER: does not install %CE2%\\sticky.htm ({src}/res/help/GER/sticky.htm)"]),
    ("the help without its contents file", "ITA",
     lambda t, s: (os.remove(help_path(s, "ITA", "tavlo.htc")), make_cab(t, s, "ITA")),
     ["ITA: {src}/res/help/ITA has no tavlo.htc"]),
    ("no help folder", "PTB",
     lambda t, s: shutil.rmtree(os.path.join(s, "res", "help", "PTB")),
     ["PTB: no help folder {src}/res/help/PTB",
      "PTB: installs %CE2%\\tavlo.htc, which is not part of the package"]),
    ("a folder in the help", "PTB",
     lambda t, s: write(help_path(s, "PTB", os.path.join("img", "a.gif")), b"GIF89a"),
     ["PTB: {src}/res/help/PTB/img is a folder; only the help folder's files are installed"]),
    ("the American library in the French package", "FRA",
     lambda t, s: make_cab(t, s, "FRA", replace={2: read(dll_path(t, "USA"))}),
     ["FRA: member keybd000.002 (%CE1%\\Corvane Tavlo\\brindleres.dll) is not"
      " {tree}/bin/national/FRA/brindleres.dll: 460 bytes against 460, first difference"
      " at byte 80"]),
    ("a desktop program", None,
     lambda t, s: (write(os.path.join(t, "bin", "brindle.exe"), pe(0x8664, b"x" * 64)),
                   [make_cab(t, s, c) for c in CODES]),
     ["all: {tree}/bin/brindle.exe is not an ARM program (PE machine 0x8664, not 0x01c0)"]),
    ("the built program missing", None,
     lambda t, s: os.remove(os.path.join(t, "bin", "brindle.exe")),
     ["%s: the built file {tree}/bin/brindle.exe is missing" % c for c in CODES]),
    ("another application name", "USA",
     lambda t, s: make_cab(t, s, "USA", setup=dict(appname="Tavlo Driver")),
     ["USA: application name is 'Tavlo Driver', not 'Tavlo'"]),
    ("another provider", "USA",
     lambda t, s: make_cab(t, s, "USA", setup=dict(provider="corvane")),
     ["USA: provider is 'corvane', not 'Corvane'"]),
    ("another processor", "GER",
     lambda t, s: make_cab(t, s, "GER", setup=dict(processor=2336)),
     ["GER: processor is 2336, not 2577 (StrongARM)"]),
    ("an older lowest version", "GER",
     lambda t, s: make_cab(t, s, "GER", setup=dict(min_version=(2, 11))),
     ["GER: lowest CE version is 2.11, not 3.0"]),
    ("a highest version", "ESP",
     lambda t, s: make_cab(t, s, "ESP", setup=dict(max_version=(4, 20))),
     ["ESP: highest CE version's major number is 4, not 0 (no limit)",
      "ESP: highest CE version's minor number is 20, not 0 (no limit)"]),
    ("a build range", "ESP",
     lambda t, s: make_cab(t, s, "ESP", setup=dict(builds=(9348, 0xE0000000))),
     ["ESP: lowest build is 9348, not 0 (no limit)",
      "ESP: highest build is 3758096384, not 0 (no limit)"]),
    ("an unsupported platform", "PTB",
     lambda t, s: make_cab(t, s, "PTB", setup=dict(unsupported=["HPC"])),
     ["PTB: unsupported platforms ['HPC']; there must be none"]),
    ("a registry entry", "PTB",
     lambda t, s: make_cab(t, s, "PTB", setup=dict(keys=[(2, "Software\\Corvane", "Delay", 1)])),
     ["PTB: registry entry 1 ('Delay' in hive 1); there must be none",
      "PTB: registry hive 1 (HKCU\\Software\\Corvane); there must be none"]),
    ("an unknown header field off its usual value", "ITA",
     lambda t, s: make_cab(t, s, "ITA", setup=dict(unknowns=(0, 0, 0, 0, 0))),
     ["ITA: header offset 16 holds 0; the format's description gives 1"]),
    ("a self-registering library", "ITA",
     lambda t, s: make_cab(t, s, "ITA", setup=dict(flags=0x10000000)),
     ["ITA: file 2 (%CE1%\\Corvane Tavlo\\brindleres.dll) has the flag self-register"
      " (0x10000000)"]),
    ("files copied only over existing ones", "ITA",
     lambda t, s: make_cab(t, s, "ITA", setup=dict(flags=0x00000400)),
     ["ITA: file 1 (%CE1%\\Corvane Tavlo\\brindle.exe) has the flag copy only over an"
      " existing file (0x00000400)"]),
    ("a directory used by nothing", "USA",
     lambda t, s: make_cab(t, s, "USA", setup=dict(extra_dirs=["%CE5%"])),
     ["USA: directory 3 (%CE5%) is used by nothing"]),
    ("a string used by nothing", "USA",
     lambda t, s: make_cab(t, s, "USA", setup=dict(extra_strings=["Tavlo Help"])),
     ["USA: string 4 ('Tavlo Help') is used by nothing"]),
    ("a file too many", "FRA",
     lambda t, s: make_cab(t, s, "FRA", files=_files(t, s, "FRA", lambda f: f + [
         (PROGRAM_DIR, "readme.txt", help_path(s, "FRA", "keys.htm"))])),
     ["FRA: installs %CE1%\\Corvane Tavlo\\readme.txt, which is not part of the package"]),
    ("the help in the program folder", "FRA",
     lambda t, s: make_cab(t, s, "FRA", files=_files(t, s, "FRA", lambda f: [
         (PROGRAM_DIR if d == HELP_DIR else d, n, b) for d, n, b in f])),
     ["FRA: installs %CE1%\\Corvane Tavlo\\tavlo.htc, which is not part of the package",
      "FRA: does not install %CE2%\\tavlo.htc ({src}/res/help/FRA/tavlo.htc)"]),
    ("a file installed twice", "FRA",
     lambda t, s: make_cab(t, s, "FRA", files=_files(t, s, "FRA", lambda f: f + f[-1:])),
     ["FRA: files 5 and 6 are both installed as %CE2%\\tavlo.htc"]),
    ("the program under another name", "GER",
     lambda t, s: make_cab(t, s, "GER", files=_files(t, s, "GER", lambda f: [
         (f[0][0], "Brindle.exe", f[0][2])] + f[1:])),
     ["GER: does not install %CE1%\\Corvane Tavlo\\brindle.exe ({tree}/bin/brindle.exe)",
      "GER: no shortcut %CE11%\\Tavlo -> %CE1%\\Corvane Tavlo\\brindle.exe"]),
    ("no shortcut in StartUp", "ESP",
     lambda t, s: make_cab(t, s, "ESP", links=[(11, "Tavlo", 0)]),
     ["ESP: no shortcut %CE4%\\Tavlo -> %CE1%\\Corvane Tavlo\\brindle.exe"]),
    ("the Start menu shortcut in the Start menu's top", "ESP",
     lambda t, s: make_cab(t, s, "ESP", links=[(17, "Tavlo", 0), (4, "Tavlo", 0)]),
     ["ESP: shortcut %CE17%\\Tavlo -> %CE1%\\Corvane Tavlo\\brindle.exe is not one of the"
      " package's",
      "ESP: no shortcut %CE11%\\Tavlo -> %CE1%\\Corvane Tavlo\\brindle.exe"]),
    ("a shortcut to the library", "ESP",
     lambda t, s: make_cab(t, s, "ESP", links=[(11, "Tavlo", 0), (4, "Tavlo", 1)]),
     ["ESP: shortcut %CE4%\\Tavlo -> %CE1%\\Corvane Tavlo\\brindleres.dll is not one of"
      " the package's"]),
    ("a shortcut under another name", "ESP",
     lambda t, s: make_cab(t, s, "ESP", links=[(11, "Tavlo Keyboard", 0), (4, "Tavlo", 0)]),
     ["ESP: shortcut %CE11%\\Tavlo Keyboard -> %CE1%\\Corvane Tavlo\\brindle.exe is not"
      " one of the package's"]),
    ("a shortcut too many", "ESP",
     lambda t, s: make_cab(t, s, "ESP", links=GOOD_LINKS + [(4, "Tavlo", 0)]),
     ["ESP: 3 links, of which 2 distinct shortcuts to files; there must be 2"]),
    ("a member missing", "USA",
     lambda t, s: make_cab(t, s, "USA", drop=[1]),
     ["USA: file 1 (%CE1%\\Corvane Tavlo\\brindle.exe) has no member 001 in the cabinet"]),
    ("a member nobody installs", "USA",
     lambda t, s: make_cab(t, s, "USA", extra={50: b"stray"}),
     ["USA: member keybd000.050 is installed by no file entry"]),
    ("a setup DLL", "USA",
     lambda t, s: make_cab(t, s, "USA", extra={999: pe(0x01C0, b"setup")}),
     ["USA: member keybd000.999 is a setup DLL, which the package must not have",
      "USA: member keybd000.999 is installed by no file entry"]),
    ("members in rising order", "GER",
     lambda t, s: make_cab(t, s, "GER", order=[0, 1, 2, 3, 4, 5]),
     ["GER: members are in the order keybd000.000 keybd000.001 keybd000.002 keybd000.003"
      " keybd000.004 keybd000.005; the setup file goes first, then the others by number"
      " from the highest down"]),
    ("the setup file last", "GER",
     lambda t, s: make_cab(t, s, "GER", order=[5, 4, 3, 2, 1, 0]),
     ["GER: members are in the order keybd000.005"]),
    ("two stems", "GER",
     lambda t, s: make_cab(t, s, "GER", stems={3: "KEYBD~1"}),
     ["GER: members have different stems: KEYBD~1, keybd000"]),
    ("no setup file", "ITA",
     lambda t, s: make_cab(t, s, "ITA", drop=[0]),
     ["ITA: no setup file (<stem>.000) among the members keybd000.005"]),
    ("a malformed setup file", "ITA",
     lambda t, s: make_cab(t, s, "ITA", setup_bytes=craft.package_setup(
         [(PROGRAM_DIR, "brindle.exe")])[0][:-1]),
     ["ITA: setup file keybd000.000: the header says the file has"]),
    ("no install.ini", "FRA",
     lambda t, s: os.remove(os.path.join(t, "cab", "FRA", "install.ini")),
     ["FRA: no {tree}/cab/FRA/install.ini beside the cabinet"]),
    ("install.ini naming another cabinet", "FRA",
     lambda t, s: make_cab(t, s, "FRA", ini=INI.replace("keybd.PPC_ARM.cab", "keybd.cab")),
     ["FRA: {tree}/cab/FRA/install.ini [corvane tavlo] cabfiles is 'keybd.cab', not"
      " 'keybd.PPC_ARM.cab'"]),
    ("install.ini with another component", "FRA",
     lambda t, s: make_cab(t, s, "FRA", ini=INI.replace("corvane tavlo", "tavlo")),
     ["FRA: {tree}/cab/FRA/install.ini has the sections ['CEAppManager', 'tavlo'], not"
      " ['CEAppManager', 'corvane tavlo']"]),
    ("install.ini with a key more", "FRA",
     lambda t, s: make_cab(t, s, "FRA", ini=INI + "Uninstall    = Tavlo\n"),
     ["FRA: {tree}/cab/FRA/install.ini [corvane tavlo] has the keys ['cabfiles',"
      " 'description', 'uninstall'], not ['cabfiles', 'description']"]),
    ("install.ini without a description", "FRA",
     lambda t, s: make_cab(t, s, "FRA", ini=INI.replace("Folding keyboard driver", "")),
     ["FRA: {tree}/cab/FRA/install.ini [corvane tavlo] description is empty"]),
]


class CheckCabsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for tool in ("gcab", "cabextract"):
            if not shutil.which(tool):
                raise RuntimeError("these tests need %s (Debian package %s)" % (tool, tool))
        cls.base = tempfile.mkdtemp(prefix="check-cabs-test-")
        tree, src = os.path.join(cls.base, "tree"), os.path.join(cls.base, "src")
        make_built_files(tree, src)
        for code in CODES:
            make_cab(tree, src, code)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.base)

    def fresh(self):
        work = tempfile.mkdtemp(dir=self.base)
        tree, src = os.path.join(work, "tree"), os.path.join(work, "src")
        shutil.copytree(os.path.join(self.base, "tree"), tree)
        shutil.copytree(os.path.join(self.base, "src"), src)
        return tree, src

    def test_the_right_packages_pass(self):
        tree, src = self.fresh()
        status, out = run_check(tree, src)
        self.assertEqual(status, 0, out)
        for code in CODES:
            self.assertIn("%s: %s/cab/%s/keybd.PPC_ARM.cab holds 5 files, all byte for byte"
                          " the built ones, and 2 shortcuts" % (code, tree, code), out)
        self.assertIn("check-cabs: the 6 packages in %s hold what they must" % tree, out)

    def test_the_stand_in_cabinet_is_what_cabextract_lists(self):
        # The members' names and order as a package must have them, seen by cabextract.
        tree, _ = self.fresh()
        run = subprocess.run(["cabextract", "-l", os.path.join(tree, "cab", "USA",
                                                               "keybd.PPC_ARM.cab")],
                             capture_output=True, text=True, check=True)
        names = [line.split("|")[-1].strip() for line in run.stdout.splitlines()
                 if line.count("|") == 2][1:]
        self.assertEqual(names, ["keybd000.%03d" % n for n in (0, 5, 4, 3, 2, 1)])

    def test_each_fault_is_reported_and_fails(self):
        for name, code, spoil, expected in CASES:
            with self.subTest(name):
                tree, src = self.fresh()
                spoil(tree, src)
                status, out = run_check(tree, src)
                self.assertEqual(status, 1, out)
                for line in expected:
                    self.assertIn(line.format(tree=tree, src=src), out)
                if code is not None:
                    # The other national builds are still found right.
                    for other in CODES:
                        if other != code:
                            self.assertIn("%s: %s/cab/%s/keybd.PPC_ARM.cab holds"
                                          % (other, tree, other), out)
                    self.assertNotIn("all: ", out)

    def test_a_bad_command_line(self):
        for args in ([], ["a", "b"], ["--source"], ["--tree", "x"]):
            with self.subTest(args):
                run = subprocess.run(["/usr/bin/python3", CHECK] + args, capture_output=True,
                                     text=True)
                self.assertEqual(run.returncode, 2)
                self.assertIn("usage: check-cabs [--source DIR] TREE", run.stderr)


if __name__ == "__main__":
    unittest.main()
