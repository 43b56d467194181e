"""The setup-file reader on setup files made by hand: each either reads to the expected
structure or is refused with the expected reason."""

import os
import struct
import sys
import unittest

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cesetup  # noqa: E402
from cesetup import Directory, File, Hive, Link, Malformed, RegKey, Unknown  # noqa: E402
import craft  # noqa: E402


def u16(v):
    return struct.pack("<H", v)


def u32(v):
    return struct.pack("<I", v)


# The smallest file that has every kind of reference: one string, one directory made
# of it, one file in that directory and one link to the file. Laid out by hand, field
# by field; the offsets in the comments are the file's.
MINIMAL = b"".join([
    b"MSCE",                      # 0 signature
    u32(0),                       # 4 unknown, usually 0
    u32(150),                     # 8 the file's length
    u32(0),                       # 12 unknown, usually 0
    u32(1),                       # 16 unknown, usually 1
    u32(2577),                    # 20 processor: StrongARM
    u32(3), u32(0),               # 24, 28 lowest CE version 3.0
    u32(0), u32(0),               # 32, 36 highest CE version: no limit
    u32(0), u32(0),               # 40, 44 lowest and highest build: no limit
    u16(1), u16(1), u16(1),       # 48, 50, 52 counts: strings, directories, files
    u16(0), u16(0), u16(1),       # 54, 56, 58 counts: hives, keys, links
    u32(104), u32(110), u32(118),  # 60, 64, 68 offsets: strings, directories, files
    u32(134), u32(134), u32(134),  # 72, 76, 80 offsets: hives, keys, links
    u16(100), u16(2),             # 84, 86 application name: offset, length with NUL
    u16(102), u16(2),             # 88, 90 provider: offset, length with NUL
    u16(104), u16(0),             # 92, 94 unsupported platforms: none
    u16(0), u16(0),               # 96, 98 unknown, usually 0
    b"A\0",                       # 100 application name
    b"P\0",                       # 102 provider
    u16(1), u16(2), b"D\0",       # 104 string 1, 2 bytes: "D"
    u16(1), u16(4), u16(1), u16(0),  # 110 directory 1, 4 bytes: string 1, end
    # 118 file 1 in directory 1, second id 1, flags 0, name of 4 bytes
    u16(1), u16(1), u16(1), u32(0), u16(4), b"f.x\0",
    # 134 link 1, unknown 0, in %CE11%, to file 1 (type 1), 4 bytes: string 1, end
    u16(1), u16(0), u16(11), u16(1), u16(1), u16(4), u16(1), u16(0),
])
assert len(MINIMAL) == 150


def patch(data, offset, fmt, value):
    out = bytearray(data)
    struct.pack_into(fmt, out, offset, value)
    return bytes(out)


def grow(data, extra):
    """Bytes added at the end, with the header's length told."""
    return patch(data + extra, 8, "<I", len(data) + len(extra))


MINIMAL_STRUCTURE = dict(
    appname="A", provider="P", unsupported=[], strings={1: "D"},
    dirs={1: Directory(1, [1], "D")}, files=[File(1, 1, 1, 0, "f.x")], hives={}, keys=[],
    links=[Link(1, 0, 11, 1, 1, [1], "D")], gaps=[])

USUAL_UNKNOWNS = [Unknown("header offset 4", 0, 0), Unknown("header offset 12", 0, 0),
                  Unknown("header offset 16", 1, 1), Unknown("header offset 96", 0, 0),
                  Unknown("header offset 98", 0, 0)]


# Every section, every registry type, two unsupported platforms, made with craft.layout
# from plain tuples (its bytes for the minimal file are checked against MINIMAL).
FULL = craft.layout(
    appname=b"Tavlo\0", provider=b"Corvane\0", unsupported=b"HPC\0JORDAN\0\0",
    strings=[(1, b"%CE1%\0"), (2, b"Corvane Tavlo\0"), (3, b"Software\0"), (4, b"Tavlo\0")],
    dirs=[(1, [1, 2]), (2, [1])],
    files=[(1, 1, 1, 0x40000002, b"brindle.exe\0"), (2, 2, 2, 0, b"tavlo.htc\0")],
    hives=[(1, 2, 0, [3, 4])],
    keys=[(1, 1, 0, 0x00010001, b"Delay\0" + u32(500)),
          (2, 1, 1, 0x00000000, b"Path\0%InstallDir%\0"),
          (3, 1, 0, 0x00010002, b"List\0a\0bc\0\0"),
          (4, 1, 0, 0x00000001, b"\0\x01\x02\x03")],
    links=[(1, 0, 11, 1, 1, [4]), (2, 7, 0, 1, 0, [4]), (3, 0, 4, 0, 0, [4])],
    processor=2577, min_version=(3, 0), max_version=(4, 20), builds=(9348, 11171))

FULL_STRUCTURE = dict(
    appname="Tavlo", provider="Corvane", unsupported=["HPC", "JORDAN"],
    strings={1: "%CE1%", 2: "Corvane Tavlo", 3: "Software", 4: "Tavlo"},
    dirs={1: Directory(1, [1, 2], "%CE1%\\Corvane Tavlo"), 2: Directory(2, [1], "%CE1%")},
    files=[File(1, 1, 1, 0x40000002, "brindle.exe"), File(2, 2, 2, 0, "tavlo.htc")],
    hives={1: Hive(1, 2, 0, [3, 4], "Software\\Tavlo")},
    keys=[RegKey(1, 1, 0, 0x00010001, "Delay", 500),
          RegKey(2, 1, 1, 0x00000000, "Path", "%InstallDir%"),
          RegKey(3, 1, 0, 0x00010002, "List", ["a", "bc"]),
          RegKey(4, 1, 0, 0x00000001, "", b"\x01\x02\x03")],
    links=[Link(1, 0, 11, 1, 1, [4], "Tavlo"), Link(2, 7, 0, 1, 0, [4], "Tavlo"),
           Link(3, 0, 4, 0, 0, [4], "Tavlo")],
    gaps=[])

# The description's own example of a string entry: id 4, 9 bytes, "Software".
EXAMPLE_STRING = bytes.fromhex("04 00 09 00 53 6F 66 74 77 61 72 65 00")

# MINIMAL's parts in another order (the description lets them lie anywhere).
SHUFFLED = craft.layout(
    appname=b"A\0", provider=b"P\0", strings=[(1, b"D\0")], dirs=[(1, [1])],
    files=[(1, 1, 1, 0, b"f.x\0")], links=[(1, 0, 11, 1, 1, [1])],
    order=("links", "files", "provider", "dirs", "unsupported", "strings", "hives", "keys",
           "appname"))


def with_parts(**changes):
    """FULL's parts with some replaced: for corruptions that need more than a patch."""
    parts = dict(
        appname=b"Tavlo\0", provider=b"Corvane\0", unsupported=b"",
        strings=[(1, b"%CE1%\0"), (2, b"Software\0")], dirs=[(1, [1])],
        files=[(1, 1, 1, 0, b"brindle.exe\0")], hives=[(1, 2, 0, [2])],
        keys=[(1, 1, 0, 0x00010001, b"Delay\0" + u32(500))], links=[(1, 0, 11, 1, 1, [2])])
    parts.update(changes)
    return craft.layout(**parts)


# The example entry at the end of MINIMAL in place of its string 1, which the
# directory and the link now name as string 4; the old entry's bytes are left unclaimed.
EXAMPLE = grow(MINIMAL, EXAMPLE_STRING)
EXAMPLE = patch(patch(patch(EXAMPLE, 60, "<I", 150), 114, "<H", 4), 146, "<H", 4)
EXAMPLE = EXAMPLE[:104] + b"\xff" * 6 + EXAMPLE[110:]

# name, bytes, what read() must give: a dict of SetupFile fields, or the reason.
READS = [
    ("the minimal file", MINIMAL, MINIMAL_STRUCTURE),
    ("every section and registry type", FULL, FULL_STRUCTURE),
    ("the parts in another order", SHUFFLED, MINIMAL_STRUCTURE),
    ("the description's example string", EXAMPLE, dict(
        MINIMAL_STRUCTURE, strings={4: "Software"}, dirs={1: Directory(1, [4], "Software")},
        links=[Link(1, 0, 11, 1, 1, [4], "Software")], gaps=[(104, 6)])),
    ("empty sections with offset 0",
     patch(patch(patch(MINIMAL, 72, "<I", 0), 76, "<I", 0), 92, "<H", 0),
     MINIMAL_STRUCTURE),
    ("an unsupported list holding only its closing empty string",
     patch(patch(MINIMAL[:104] + b"\0" + MINIMAL[104:], 8, "<I", 151), 94, "<H", 1)
     .replace(u32(104) + u32(110) + u32(118) + u32(134) * 3,
              u32(105) + u32(111) + u32(119) + u32(135) * 3),
     MINIMAL_STRUCTURE),
    ("bytes that no part claims", grow(MINIMAL, b"\0\0\0"),
     dict(MINIMAL_STRUCTURE, gaps=[(150, 3)])),
]
P = patch
REFUSALS = [
    ("shorter than the header", MINIMAL[:99],
     "the file has 99 bytes, fewer than the 100 of the header"),
    ("another signature", b"MSCF" + MINIMAL[4:], "the signature is b'MSCF', not b'MSCE'"),
    ("a stated length longer than the file", P(MINIMAL, 8, "<I", 151),
     "the header says the file has 151 bytes; it has 150"),
    ("a stated length shorter than the file", MINIMAL + b"\0",
     "the header says the file has 150 bytes; it has 151"),
    ("the application name past the end", P(MINIMAL, 84, "<H", 149),
     "the APPNAME string (offset 149, 2 bytes) runs past the end of the file (150 bytes)"),
    ("the application name without its NUL", P(MINIMAL, 101, "<B", ord("x")),
     "the APPNAME string has no NUL terminator"),
    ("the application name with a NUL inside", P(MINIMAL, 100, "<B", 0),
     "the APPNAME string has a NUL before its end"),
    ("a provider of length 0", P(MINIMAL, 90, "<H", 0),
     "the PROVIDER string has no NUL terminator"),
    ("the application name inside the header", P(P(MINIMAL, 84, "<H", 4), 86, "<H", 1),
     "the APPNAME string's offset 4 lies inside the header"),
    ("the provider over the application name", P(MINIMAL, 88, "<H", 100),
     "the PROVIDER string (bytes 100 to 101) overlaps the APPNAME string (bytes 100 to 101)"),
    ("the unsupported list past the end", P(P(MINIMAL, 92, "<H", 148), 94, "<H", 3),
     "the UNSUPPORTED string (offset 148, 3 bytes) runs past the end of the file (150 bytes)"),
    ("an unsupported list without its closing empty string",
     with_parts(unsupported=b"HPC\0"), "the UNSUPPORTED list does not end with an empty string"),
    ("a section offset outside the file", P(MINIMAL, 60, "<I", 151),
     "STRINGS section's offset 151 is outside the file (150 bytes)"),
    ("a section inside the header", P(MINIMAL, 68, "<I", 50),
     "FILES section's offset 50 lies inside the header"),
    ("a count that runs past the end", P(MINIMAL, 58, "<H", 2),
     "LINKS section entry 2 of 2 (offset 150, 12 bytes) runs past the end of the file"
     " (150 bytes)"),
    ("an entry's length that runs past the end", P(MINIMAL, 144, "<H", 6),
     "LINKS section entry 1 of 1 (offset 134, 18 bytes) runs past the end of the file"
     " (150 bytes)"),
    ("a count that runs into the next section", P(MINIMAL, 52, "<H", 2),
     "FILES section: id 1 appears twice"),
    ("a section over the application name", P(MINIMAL, 84, "<H", 108),
     "the STRINGS section (bytes 104 to 109) overlaps the APPNAME string (bytes 108 to 109)"),
    ("a string without its NUL", P(MINIMAL, 109, "<B", ord("E")),
     "STRINGS section entry 1 of 1 (string 1) has no NUL terminator"),
    ("a string with a NUL inside",
     with_parts(strings=[(1, b"%CE\x001%\0"), (2, b"Software\0")]),
     "STRINGS section entry 1 of 2 (string 1) has a NUL before its end"),
    ("string id 0", with_parts(strings=[(0, b"%CE1%\0"), (2, b"Software\0")]),
     "STRINGS section entry 1 of 2 (string 0): string id 0 cannot be referred to"
     " (0 ends a list)"),
    ("two strings with one id", with_parts(strings=[(1, b"%CE1%\0"), (1, b"Software\0")]),
     "STRINGS section: id 1 appears twice"),
    ("a directory of a string that does not exist", P(MINIMAL, 114, "<H", 2),
     "DIRS section entry 1 of 1 (directory 1) refers to string 2, which does not exist"),
    ("a directory list with a 0 inside", P(MINIMAL, 114, "<H", 0),
     "DIRS section entry 1 of 1 (directory 1) has a 0 before its end"),
    ("a directory list without its closing 0", P(MINIMAL, 116, "<H", 1),
     "DIRS section entry 1 of 1 (directory 1) does not end with 0"),
    ("a directory list of odd length", P(MINIMAL, 112, "<H", 3),
     "DIRS section entry 1 of 1 (directory 1) has an odd length (3)"),
    ("directory id 0", with_parts(dirs=[(0, [1])]),
     "DIRS section entry 1 of 1 (directory 0): directory id 0 means the install folder"),
    ("two directories with one id", with_parts(dirs=[(1, [1]), (1, [2])]),
     "DIRS section: id 1 appears twice"),
    ("a file in a directory that does not exist", P(MINIMAL, 120, "<H", 2),
     "FILES section entry 1 of 1 (file 1) refers to directory 2, which does not exist"),
    ("file id 0", with_parts(files=[(0, 1, 0, 0, b"a\0")], links=[]),
     "FILES section entry 1 of 1 (file 0): file id 0 names no installable member (001 to 998)"),
    ("file id 999, the setup DLL's", with_parts(files=[(999, 1, 999, 0, b"a\0")], links=[]),
     "FILES section entry 1 of 1 (file 999): file id 999 names no installable member"
     " (001 to 998)"),
    ("two files with one id",
     with_parts(files=[(1, 1, 1, 0, b"a\0"), (1, 1, 1, 0, b"b\0")]),
     "FILES section: id 1 appears twice"),
    ("a file's name without its NUL", P(MINIMAL, 133, "<B", ord("y")),
     "FILES section entry 1 of 1 (file 1)'s name has no NUL terminator"),
    ("a file without a name", with_parts(files=[(1, 1, 1, 0, b"\0")]),
     "FILES section entry 1 of 1 (file 1) has an empty name"),
    ("a file both always and never overwritten",
     with_parts(files=[(1, 1, 1, 0x60000000, b"a\0")]),
     "FILES section entry 1 of 1 (file 1): flags 0x60000000 both always overwrite and keep"
     " a newer target"),
    ("a file copied only over an existing one and never over one",
     with_parts(files=[(1, 1, 1, 0x00000410, b"a\0")]),
     "FILES section entry 1 of 1 (file 1): flags 0x00000410 both copy only over an existing"
     " target and never overwrite one"),
    ("a hive of root 5", with_parts(hives=[(1, 5, 0, [2])]),
     "REGHIVES section entry 1 of 1 (hive 1): root 5 is none of 1 to 4 (HKCR, HKCU, HKLM,"
     " HKU)"),
    ("a hive of a string that does not exist", with_parts(hives=[(1, 2, 0, [9])]),
     "REGHIVES section entry 1 of 1 (hive 1) refers to string 9, which does not exist"),
    ("two hives with one id", with_parts(hives=[(1, 2, 0, [2]), (1, 3, 0, [2])]),
     "REGHIVES section: id 1 appears twice"),
    ("a key in a hive that does not exist",
     with_parts(keys=[(1, 2, 0, 0x00010001, b"Delay\0" + u32(500))]),
     "REGKEYS section entry 1 of 1 (registry key 1) refers to hive 2, which does not exist"),
    ("two keys with one id",
     with_parts(keys=[(1, 1, 0, 0x00010001, b"A\0" + u32(1)),
                      (1, 1, 0, 0x00010001, b"B\0" + u32(2))]),
     "REGKEYS section: id 1 appears twice"),
    ("a key whose substitution is neither 0 nor 1",
     with_parts(keys=[(1, 1, 2, 0x00010001, b"Delay\0" + u32(500))]),
     "REGKEYS section entry 1 of 1 (registry key 1): substitution is 2, neither 0 nor 1"),
    ("a key whose name has no NUL", with_parts(keys=[(1, 1, 0, 0x00000001, b"Delay")]),
     "REGKEYS section entry 1 of 1 (registry key 1): the value's name has no NUL terminator"),
    ("a DWORD of 3 bytes", with_parts(keys=[(1, 1, 0, 0x00010001, b"Delay\0\1\2\3")]),
     "REGKEYS section entry 1 of 1 (registry key 1): a DWORD needs 4 bytes of data, not 3"),
    ("a string value without its NUL", with_parts(keys=[(1, 1, 0, 0, b"Path\0abc")]),
     "REGKEYS section entry 1 of 1 (registry key 1): the string data is not one"
     " NUL-terminated string"),
    ("a string value followed by more", with_parts(keys=[(1, 1, 0, 0, b"Path\0a\0b\0")]),
     "REGKEYS section entry 1 of 1 (registry key 1): the string data is not one"
     " NUL-terminated string"),
    ("a string list without its closing empty string",
     with_parts(keys=[(1, 1, 0, 0x00010000, b"List\0a\0b\0")]),
     "REGKEYS section entry 1 of 1 (registry key 1)'s data does not end with an empty string"),
    ("a link to a file that does not exist", P(MINIMAL, 140, "<H", 2),
     "LINKS section entry 1 of 1 (link 1) refers to file 2, which does not exist"),
    ("a link to a directory that does not exist", P(P(MINIMAL, 142, "<H", 0), 140, "<H", 2),
     "LINKS section entry 1 of 1 (link 1) refers to directory 2, which does not exist"),
    ("a link of type 2", P(MINIMAL, 142, "<H", 2),
     "LINKS section entry 1 of 1 (link 1): target type 2 is neither 0 (directory) nor 1"
     " (file)"),
    ("a link in folder 18", P(MINIMAL, 138, "<H", 18),
     "LINKS section entry 1 of 1 (link 1): base folder 18 is neither 0 (the install folder)"
     " nor %CE1% to %CE17%"),
    ("a link named by a string that does not exist", P(MINIMAL, 146, "<H", 3),
     "LINKS section entry 1 of 1 (link 1) refers to string 3, which does not exist"),
    ("a link list without its closing 0", P(MINIMAL, 148, "<H", 1),
     "LINKS section entry 1 of 1 (link 1) does not end with 0"),
    ("two links with one id",
     with_parts(links=[(1, 0, 11, 1, 1, [2]), (1, 0, 4, 1, 1, [2])]),
     "LINKS section: id 1 appears twice"),
]


class ReaderTest(unittest.TestCase):
    def test_reads(self):
        for name, data, expected in READS:
            with self.subTest(name):
                setup = cesetup.read(data)
                got = {k: getattr(setup, k) for k in expected}
                self.assertEqual(got, expected)
                self.assertEqual(setup.header.file_length, len(data))

    def test_refusals(self):
        for name, data, reason in REFUSALS:
            with self.subTest(name):
                with self.assertRaises(Malformed) as caught:
                    cesetup.read(data)
                self.assertEqual(str(caught.exception), reason)

    def test_header_fields(self):
        h = cesetup.read(FULL).header
        self.assertEqual((h.signature, h.processor, h.min_ce_major, h.min_ce_minor,
                          h.max_ce_major, h.max_ce_minor, h.min_build, h.max_build),
                         (b"MSCE", 2577, 3, 0, 4, 20, 9348, 11171))
        self.assertEqual((h.string_count, h.dir_count, h.file_count, h.hive_count,
                          h.key_count, h.link_count), (4, 2, 2, 1, 4, 3))
        self.assertEqual((h.appname_offset, h.appname_length, h.provider_offset,
                          h.provider_length, h.unsupported_offset, h.unsupported_length),
                         (100, 6, 106, 8, 114, 12))

    def test_the_builder_lays_out_the_minimal_file_byte_for_byte(self):
        # craft.layout makes the stand-in packages; it must agree with the bytes above.
        self.assertEqual(craft.layout(
            appname=b"A\0", provider=b"P\0", strings=[(1, b"D\0")], dirs=[(1, [1])],
            files=[(1, 1, 1, 0, b"f.x\0")], links=[(1, 0, 11, 1, 1, [1])]), MINIMAL)

    def test_unknown_fields_are_reported(self):
        self.assertEqual(cesetup.read(MINIMAL).unknowns(), USUAL_UNKNOWNS + [
            Unknown("file 1's second id", 1, 1), Unknown("link 1's unknown field", 0, None)])
        odd = P(P(P(P(MINIMAL, 4, "<I", 7), 16, "<I", 0), 98, "<H", 5), 122, "<H", 0)
        odd = P(P(odd, 20, "<I", 1234), 124, "<I", 0x00400002)
        odd = grow(odd, b"zz")
        self.assertEqual(cesetup.read(odd).unknowns(), [
            Unknown("header offset 4", 7, 0), Unknown("header offset 12", 0, 0),
            Unknown("header offset 16", 0, 1), Unknown("header offset 96", 0, 0),
            Unknown("header offset 98", 5, 0), Unknown("processor type", 1234, None),
            Unknown("file 1's second id", 0, 1),
            Unknown("file 1's unknown flag bits", 0x00400000, 0),
            Unknown("link 1's unknown field", 0, None),
            Unknown("2 bytes at offset 150 that no part claims", 2, 0)])
        keys = cesetup.read(with_parts(keys=[(1, 1, 0, 0x00100001, b"A\0" + u32(1))]))
        self.assertIn(Unknown("registry key 1's unknown flag bits", 0x00100000, 0),
                      keys.unknowns())
        self.assertIn(Unknown("hive 1's unknown field", 0, 0), keys.unknowns())

    def test_paths_of_files_and_links(self):
        setup = cesetup.read(FULL)
        self.assertEqual([setup.file_path(f) for f in setup.files],
                         ["%CE1%\\Corvane Tavlo\\brindle.exe", "%CE1%\\tavlo.htc"])
        self.assertEqual([(setup.link_path(k), setup.link_target(k)) for k in setup.links],
                         [("%CE11%\\Tavlo", "%CE1%\\Corvane Tavlo\\brindle.exe"),
                          ("%InstallDir%\\Tavlo", "%CE1%\\Corvane Tavlo"),
                          ("%CE4%\\Tavlo", "%InstallDir%")])

    def test_every_truncation_of_a_valid_file_is_refused(self):
        # With the stated length kept, every shorter file contradicts it; with the stated
        # length made to agree, whatever part was cut runs past the end.
        for n in range(len(FULL)):
            cut = FULL[:n]
            with self.subTest(n):
                self.assertRaises(Malformed, cesetup.read, cut)
                if n >= 100:
                    self.assertRaises(Malformed, cesetup.read, P(cut, 8, "<I", n))

    def test_any_byte_changed_reads_or_is_refused_never_crashes(self):
        # Whatever one byte becomes, the answer is a structure or a reason, nothing else.
        for data in (MINIMAL, FULL):
            for n in range(len(data)):
                for value in (0x00, 0x01, 0x7f, 0xff, data[n] ^ 0x80):
                    changed = P(data, n, "<B", value)
                    try:
                        setup = cesetup.read(changed)
                    except Malformed:
                        continue
                    cesetup.describe(setup)

    def test_the_description_printer_names_each_part(self):
        lines = cesetup.describe(cesetup.read(FULL))
        for expected in ["processor 2577 (StrongARM)", "application 'Tavlo', provider 'Corvane'",
                         "file 1: %CE1%\\Corvane Tavlo\\brindle.exe (flags 0x40000002)",
                         "registry key 1: hive 1, 'Delay' = 500 (DWORD)",
                         "registry key 3: hive 1, 'List' = ['a', 'bc'] (MULTI_SZ, no clobber)",
                         "link 1: %CE11%\\Tavlo -> %CE1%\\Corvane Tavlo\\brindle.exe",
                         "unknown: link 2's unknown field = 7"]:
            self.assertIn(expected, lines)


if __name__ == "__main__":
    unittest.main()
