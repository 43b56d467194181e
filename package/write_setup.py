#!/usr/bin/python3
"""Writes the setup file (<stem>.000) of a Windows CE installation cabinet.

The handheld's installer reads this file first: it names the application and its
provider, the processor and the system versions it installs on, every file with the
folder and name it gets on the handheld, and the shortcuts to make. Layout and field
meanings follow the public description of the format, "Windows CE installation
cabinet (.CAB) file format" (cabextract's doc/wince_cab_format.html,
https://www.cabextract.org.uk/wince_cab_format/). All integers are little-endian.

As a program:

    write_setup.py -o OUT.000 --app Tavlo --provider Corvane --processor 2577 \\
        --min-version 3.0 \\
        --file '%CE1%\\Corvane Tavlo\\brindle.exe' ... \\
        --shortcut '%CE11%\\Tavlo' '%CE1%\\Corvane Tavlo\\brindle.exe' ...

Each --file is a destination on the handheld, a %CEn% folder, subfolders and a file
name; the files get ids 1, 2, ... in the order given, and the cabinet must carry file
id N as its member <stem>.<NNN>. Each --shortcut is the shortcut's own path (a %CEn%
folder and its name) and the destination of the file it starts. make-cab uses this as
a module and makes the whole cabinet.
"""

import argparse
import re
import struct
import sys

# Processor types (the installer compares SYSTEM_INFO.dwProcessorType).
PROCESSOR_STRONGARM = 2577

HEADER_SIZE = 100

# File flags: bit 30 (0x40000000) ignores the date stored in the cabinet and always
# overwrites, since our member dates are a fixed stamp rather than the build's; bit 1
# (0x00000002) does not let the user skip a file, since the program is useless without
# any of them.
FILE_FLAGS = 0x40000002

# Link types.
LINK_TO_FILE = 1

# Characters a file or folder name on the handheld cannot hold.
_BAD_NAME = re.compile(r'[\\/:*?"<>|\x00-\x1f\x7f-\uffff]')
_CE_FOLDER = re.compile(r'^%CE([0-9]+)%$')


class SetupError(Exception):
    """A description the format cannot carry, with the reason."""


def _check_name(part, what):
    if part in ("", ".", ".."):
        raise SetupError(f"{what}: empty, '.' or '..' path part")
    if _BAD_NAME.search(part):
        raise SetupError(f"{what}: '{part}' holds a character the handheld's names cannot "
                         "(only printable ASCII without \\ / : * ? \" < > |)")
    if part != part.strip():
        raise SetupError(f"{what}: '{part}' begins or ends with a space")


def parse_ce_path(path, what):
    """'%CE1%\\Corvane Tavlo\\x' -> (1, ['Corvane Tavlo', 'x']): a standard folder
    (%CE1% to %CE17%) and the parts below it."""
    parts = path.split("\\")
    m = _CE_FOLDER.match(parts[0])
    if not m or not 1 <= int(m.group(1)) <= 17:
        raise SetupError(f"{what}: '{path}' does not begin with a standard folder %CE1% to %CE17%")
    for part in parts[1:]:
        _check_name(part, what)
    return int(m.group(1)), parts[1:]


def _ascii_z(text, what):
    try:
        data = text.encode("ascii")
    except UnicodeEncodeError:
        raise SetupError(f"{what}: '{text}' is not ASCII") from None
    if b"\0" in data:
        raise SetupError(f"{what}: holds a NUL")
    return data + b"\0"


def _u16(value, what):
    if not 0 <= value <= 0xFFFF:
        raise SetupError(f"{what}: {value} does not fit the format's 16 bits")
    return value


def build_setup(app, provider, processor, min_version, files, shortcuts):
    """The setup file's bytes.

    files: destinations on the handheld ('%CE2%\\tavlo.htc'), file ids 1, 2, ... in order.
    shortcuts: (shortcut path '%CE11%\\Tavlo', destination of the file it starts).
    min_version: (major, minor) of the oldest Windows CE it installs on.
    """
    if not files:
        raise SetupError("no files to install")
    # File id 999 is the format's place for a setup library run by the installer.
    if len(files) > 998:
        raise SetupError(f"{len(files)} files: the format numbers at most 998")

    strings = []          # string id - 1 -> text
    string_ids = {}

    def string_id(text):
        if text not in string_ids:
            strings.append(text)
            string_ids[text] = len(strings)
        return string_ids[text]

    dirs = []             # dir id - 1 -> list of string ids
    dir_ids = {}
    file_entries = []     # (dir id, name)
    seen = {}
    for dest in files:
        folder, parts = parse_ce_path(dest, "file destination")
        if not parts:
            raise SetupError(f"file destination '{dest}' has no file name")
        key = dest.lower()  # the handheld's names ignore case
        if key in seen:
            raise SetupError(f"two files go to '{dest}'")
        seen[key] = len(file_entries) + 1
        dir_path = tuple([f"%CE{folder}%"] + parts[:-1])
        if dir_path not in dir_ids:
            dirs.append([string_id(p) for p in dir_path])
            dir_ids[dir_path] = len(dirs)
        file_entries.append((dir_ids[dir_path], parts[-1]))

    link_entries = []     # (base folder, target file id, list of string ids)
    for link, target in shortcuts:
        folder, parts = parse_ce_path(link, "shortcut")
        if not parts:
            raise SetupError(f"shortcut '{link}' has no name")
        file_id = seen.get(target.lower())
        if file_id is None:
            raise SetupError(f"shortcut '{link}' starts '{target}', which is not among the files")
        link_entries.append((folder, file_id, [string_id(p) for p in parts]))

    app_z = _ascii_z(app, "application name")
    provider_z = _ascii_z(provider, "provider")

    # The parts follow the header in the order the description lists them, with no
    # padding. An empty part (the unsupported platforms, the registry) still gets the
    # offset where it would begin, so every offset lies inside the file.
    body = bytearray()

    def here():
        return HEADER_SIZE + len(body)

    app_at = here()
    body += app_z
    provider_at = here()
    body += provider_z
    unsupported_at = here()  # no unsupported platforms: length 0, nothing written

    # STRINGS: per entry, string id (2), length with its NUL (2), the ASCII text.
    strings_at = here()
    for i, text in enumerate(strings, 1):
        data = _ascii_z(text, "path part")
        body += struct.pack("<HH", i, _u16(len(data), f"'{text}'")) + data

    # DIRS: per entry, dir id (2), length of the list that follows (2), string ids of
    # the path parts (2 each) ending in a 0.
    dirs_at = here()
    for i, ids in enumerate(dirs, 1):
        body += struct.pack("<HH", i, 2 * len(ids) + 2)
        body += struct.pack(f"<{len(ids) + 1}H", *ids, 0)

    # FILES: per entry, file id (2), dir id (2), a word the description finds equal to
    # the file id (2), flags (4), length of the name with its NUL (2), the ASCII name.
    files_at = here()
    for i, (dir_id, name) in enumerate(file_entries, 1):
        name_z = _ascii_z(name, "file name")
        body += struct.pack("<HHHIH", i, dir_id, i, FILE_FLAGS, _u16(len(name_z), name))
        body += name_z

    # REGHIVES and REGKEYS: none; the program writes its own settings.
    reghives_at = here()
    regkeys_at = here()

    # LINKS: per entry, link id (2), a word of unknown use, 0 (2), base folder n of
    # %CEn% (2; 0 would be the install folder), target file id (2), type (2; 1 = a
    # file), length of the list that follows (2), string ids of the link's name parts
    # (2 each) ending in a 0. The handheld adds ".lnk" to the name.
    links_at = here()
    for i, (folder, file_id, ids) in enumerate(link_entries, 1):
        body += struct.pack("<HHHHHH", i, 0, folder, file_id, LINK_TO_FILE, 2 * len(ids) + 2)
        body += struct.pack(f"<{len(ids) + 1}H", *ids, 0)

    total = HEADER_SIZE + len(body)
    for offset, what in ((app_at, "application name"), (provider_at, "provider"),
                         (unsupported_at, "unsupported platforms")):
        _u16(offset, f"offset of the {what}")  # these three offsets are 16-bit
    major, minor = min_version

    header = b"".join([
        b"MSCE",                                   # 0: signature
        struct.pack("<I", 0),                      # 4: unknown, usually 0
        struct.pack("<I", total),                  # 8: length of the whole setup file
        struct.pack("<I", 0),                      # 12: unknown, usually 0
        struct.pack("<I", 1),                      # 16: unknown, usually 1
        struct.pack("<I", processor),              # 20: target processor type
        struct.pack("<II", major, minor),          # 24, 28: oldest Windows CE (major, minor)
        # 32, 36: newest Windows CE (major, minor); 40, 44: lowest and highest build.
        # The description gives 0 as "no restriction" for each: it installs on any
        # later version and on every build.
        struct.pack("<IIII", 0, 0, 0, 0),
        struct.pack("<HHHHHH",                     # 48..58: entries in each section
                    _u16(len(strings), "strings"), _u16(len(dirs), "folders"),
                    len(file_entries), 0, 0, _u16(len(link_entries), "shortcuts")),
        struct.pack("<IIIIII",                     # 60..80: offsets of the sections
                    strings_at, dirs_at, files_at, reghives_at, regkeys_at, links_at),
        struct.pack("<HH", app_at, len(app_z)),    # 84, 86: application name, length with NUL
        struct.pack("<HH", provider_at, len(provider_z)),  # 88, 90: provider, length with NUL
        struct.pack("<HH", unsupported_at, 0),     # 92, 94: unsupported platforms: none
        struct.pack("<HH", 0, 0),                  # 96, 98: unknown, usually 0
    ])
    assert len(header) == HEADER_SIZE
    return header + bytes(body)


def parse_version(text):
    m = re.fullmatch(r"([0-9]+)\.([0-9]+)", text)
    if not m:
        raise SetupError(f"version '{text}' is not MAJOR.MINOR")
    return int(m.group(1)), int(m.group(2))


def main(argv):
    parser = argparse.ArgumentParser(
        description="Writes the setup file (.000) of a Windows CE installation cabinet.")
    parser.add_argument("-o", "--out", required=True, help="the setup file to write")
    parser.add_argument("--app", required=True, help="application name")
    parser.add_argument("--provider", required=True, help="provider name")
    parser.add_argument("--processor", type=int, default=PROCESSOR_STRONGARM,
                        help="processor type (default 2577, StrongARM)")
    parser.add_argument("--min-version", default="3.0", help="oldest Windows CE, MAJOR.MINOR")
    parser.add_argument("--file", action="append", default=[], metavar="DEST",
                        help="a file's destination on the handheld; ids 1, 2, ... in order")
    parser.add_argument("--shortcut", action="append", nargs=2, default=[],
                        metavar=("LINK", "TARGET"), help="a shortcut and the file it starts")
    args = parser.parse_args(argv)
    try:
        data = build_setup(args.app, args.provider, args.processor,
                           parse_version(args.min_version), args.file, args.shortcut)
    except SetupError as e:
        print(f"write_setup.py: {e}", file=sys.stderr)
        return 1
    with open(args.out, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
