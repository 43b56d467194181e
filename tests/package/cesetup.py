"""Reader of the setup file (`<stem>.000`) of a Windows CE installation cabinet.

    read(data) -> SetupFile     or raises Malformed(reason)
    python3 cesetup.py FILE     prints what FILE says, unknown fields included

Written from the format's public description (the one cabextract's documentation
gives, "Windows CE installation cabinet (.CAB) file format"). Every integer is little
endian. The file is a 100-byte header at offset 0, then three strings (application
name, provider, unsupported platforms) and six sections (strings, directories, files,
registry hives, registry keys, links), each found through the header and free to lie
anywhere after it.

Besides what the description says a reader must do, this one refuses a file whose
parts overlap one another or the header, duplicate ids within a section, ids that no
member name or list could carry (string, directory or hive id 0: 0 ends a list or
means the install folder; file ids outside 1..998: 000 is the setup file itself, 999
the setup DLL, and a member's number has three digits), and flags or values that the
description says cannot go together. Fields whose purpose is unknown, unknown flag bits
and bytes that belong to no part are not refused: unknowns() lists them.
"""

import struct
import sys
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple

HEADER_SIZE = 100
SIGNATURE = b"MSCE"

# Target processors the description lists (SYSTEM_INFO.dwProcessorType values).
PROCESSORS = {
    0: "no specific architecture", 103: "SHx SH3", 104: "SHx SH4", 386: "Intel 386",
    486: "Intel 486", 586: "Intel Pentium", 601: "PowerPC 601", 603: "PowerPC 603",
    604: "PowerPC 604", 620: "PowerPC 620", 821: "Motorola 821", 1824: "ARM 720",
    2080: "ARM 820", 2336: "ARM 920", 2577: "StrongARM", 4000: "MIPS R4000",
    10003: "Hitachi SH3", 10004: "Hitachi SH3E", 10005: "Hitachi SH4",
    21064: "Alpha 21064", 70001: "ARM 7TDMI",
}

# Roots a registry hive entry may name.
HIVE_ROOTS = {1: "HKCR", 2: "HKCU", 3: "HKLM", 4: "HKU"}

# File flags with a known meaning.
FILE_SHARED = 0x80000000         # reference-counted shared file, kept at uninstall while used
FILE_ALWAYS_OVERWRITE = 0x40000000   # ignore the file's date, always overwrite the target
FILE_KEEP_NEWER = 0x20000000     # do not overwrite a newer target
FILE_SELF_REGISTER = 0x10000000  # self-register this DLL
FILE_ONLY_IF_EXISTS = 0x00000400  # copy only if the target already exists
FILE_KEEP_EXISTING = 0x00000010  # do not overwrite an existing target
FILE_DO_NOT_SKIP = 0x00000002    # the user may not skip this file
FILE_WARN_IF_SKIPPED = 0x00000001  # warn the user if this file is skipped
FILE_KNOWN_FLAGS = (FILE_SHARED | FILE_ALWAYS_OVERWRITE | FILE_KEEP_NEWER | FILE_SELF_REGISTER
                    | FILE_ONLY_IF_EXISTS | FILE_KEEP_EXISTING | FILE_DO_NOT_SKIP
                    | FILE_WARN_IF_SKIPPED)

# A registry entry's type is told by bits 16 and 0; bit 1 keeps an existing value.
REG_TYPE_BITS = 0x00010001
REG_DWORD, REG_SZ, REG_MULTI_SZ, REG_BINARY = 0x00010001, 0x00000000, 0x00010000, 0x00000001
REG_TYPE_NAMES = {REG_DWORD: "DWORD", REG_SZ: "SZ", REG_MULTI_SZ: "MULTI_SZ", REG_BINARY: "BINARY"}
REG_NOCLOBBER = 0x00000002
REG_KNOWN_FLAGS = REG_TYPE_BITS | REG_NOCLOBBER

# A link's base folder is 0 (the install folder) or n for %CEn%, n from 1 to 17.
LINK_BASE_MAX = 17
LINK_TO_DIRECTORY, LINK_TO_FILE = 0, 1


class Malformed(ValueError):
    """The bytes are not a setup file this reader can vouch for; str() says why."""


@dataclass
class Header:
    signature: bytes          # 0: "MSCE"
    unknown_4: int            # 4: purpose unknown, usually 0
    file_length: int          # 8: the whole file's length in bytes
    unknown_12: int           # 12: purpose unknown, usually 0
    unknown_16: int           # 16: purpose unknown, usually 1
    processor: int            # 20: target processor, 0 for any
    min_ce_major: int         # 24: lowest CE version that may install it, 0: no limit
    min_ce_minor: int         # 28
    max_ce_major: int         # 32: highest CE version, 0: no limit
    max_ce_minor: int         # 36
    min_build: int            # 40: lowest CE build, 0: no limit
    max_build: int            # 44: highest CE build, 0: no limit
    string_count: int         # 48 (16 bits): entries in the strings section
    dir_count: int            # 50: ... directories
    file_count: int           # 52: ... files
    hive_count: int           # 54: ... registry hives
    key_count: int            # 56: ... registry keys
    link_count: int           # 58: ... links
    string_offset: int        # 60 (32 bits): where the strings section starts
    dir_offset: int           # 64
    file_offset: int          # 68
    hive_offset: int          # 72
    key_offset: int           # 76
    link_offset: int          # 80
    appname_offset: int       # 84 (16 bits): the application name
    appname_length: int       # 86: its length with its NUL
    provider_offset: int      # 88: the provider's name
    provider_length: int      # 90: its length with its NUL
    unsupported_offset: int   # 92: the unsupported platforms' names
    unsupported_length: int   # 94: their length with every NUL, 0 for none
    unknown_96: int           # 96 (16 bits): purpose unknown, usually 0
    unknown_98: int           # 98: purpose unknown, usually 0


HEADER_FORMAT = "<4s11I6H6I8H"
assert struct.calcsize(HEADER_FORMAT) == HEADER_SIZE


@dataclass
class Directory:
    id: int
    string_ids: List[int]     # the path's parts, without the closing 0
    path: str                 # the parts joined with backslashes


@dataclass
class File:
    id: int                   # the member <stem>.<id, three digits> holds its bytes
    dir_id: int               # the folder it is installed into
    unknown: int              # purpose unknown, usually the file's id
    flags: int
    name: str                 # its name in that folder


@dataclass
class Hive:
    id: int
    root: int                 # HIVE_ROOTS
    unknown: int              # purpose unknown, usually 0
    string_ids: List[int]
    path: str


@dataclass
class RegKey:
    id: int
    hive_id: int
    substitute: int           # 1: %InstallDir% and %CEn% are expanded in the data
    type_flags: int
    name: str                 # the value's name, "" for the key's default value
    value: object             # int, str, list of str or bytes, by type


@dataclass
class Link:
    id: int
    unknown: int              # purpose unknown
    base_dir: int             # 0: the install folder, n: %CEn%
    target_id: int            # a file id, or a directory id (0: the install folder)
    target_type: int          # LINK_TO_DIRECTORY or LINK_TO_FILE
    string_ids: List[int]
    path: str                 # the link's name under its base folder


@dataclass
class Unknown:
    where: str
    value: int
    usual: Optional[int]      # what the description says it usually holds, if anything


@dataclass
class SetupFile:
    header: Header
    appname: str
    provider: str
    unsupported: List[str]
    strings: Dict[int, str]
    dirs: Dict[int, Directory]
    files: List[File]
    hives: Dict[int, Hive]
    keys: List[RegKey]
    links: List[Link]
    # (offset, length) of every byte run that no part of the file claims.
    gaps: List[Tuple[int, int]] = field(default_factory=list)

    def base_dir_name(self, base: int) -> str:
        return "%InstallDir%" if base == 0 else "%%CE%d%%" % base

    def file_path(self, f: File) -> str:
        return self.dirs[f.dir_id].path + "\\" + f.name

    def link_path(self, link: Link) -> str:
        return self.base_dir_name(link.base_dir) + "\\" + link.path

    def link_target(self, link: Link) -> str:
        if link.target_type == LINK_TO_FILE:
            return self.file_path(next(f for f in self.files if f.id == link.target_id))
        return "%InstallDir%" if link.target_id == 0 else self.dirs[link.target_id].path

    def unknowns(self) -> List[Unknown]:
        """Every field whose meaning is unknown, with the value it holds."""
        h = self.header
        out = [Unknown("header offset 4", h.unknown_4, 0),
               Unknown("header offset 12", h.unknown_12, 0),
               Unknown("header offset 16", h.unknown_16, 1),
               Unknown("header offset 96", h.unknown_96, 0),
               Unknown("header offset 98", h.unknown_98, 0)]
        if h.processor not in PROCESSORS:
            out.append(Unknown("processor type", h.processor, None))
        for f in self.files:
            out.append(Unknown("file %d's second id" % f.id, f.unknown, f.id))
            if f.flags & ~FILE_KNOWN_FLAGS:
                out.append(Unknown("file %d's unknown flag bits" % f.id,
                                   f.flags & ~FILE_KNOWN_FLAGS, 0))
        for hv in self.hives.values():
            out.append(Unknown("hive %d's unknown field" % hv.id, hv.unknown, 0))
        for k in self.keys:
            if k.type_flags & ~REG_KNOWN_FLAGS:
                out.append(Unknown("registry key %d's unknown flag bits" % k.id,
                                   k.type_flags & ~REG_KNOWN_FLAGS, 0))
        for link in self.links:
            out.append(Unknown("link %d's unknown field" % link.id, link.unknown, None))
        for off, length in self.gaps:
            out.append(Unknown("%d bytes at offset %d that no part claims" % (length, off),
                               length, 0))
        return out


class _Reader:
    def __init__(self, data: bytes):
        self.data = data
        self.size = len(data)
        # (start, end, name) of every part read, to refuse overlaps and find gaps.
        self.regions: List[Tuple[int, int, str]] = [(0, HEADER_SIZE, "the header")]

    def claim(self, start: int, end: int, name: str) -> None:
        if end == start:
            return
        for s, e, other in self.regions:
            if start < e and s < end:
                raise Malformed("%s (bytes %d to %d) overlaps %s (bytes %d to %d)"
                                % (name, start, end - 1, other, s, e - 1))
        self.regions.append((start, end, name))

    def need(self, start: int, length: int, what: str) -> None:
        if start + length > self.size:
            raise Malformed("%s (offset %d, %d bytes) runs past the end of the file (%d bytes)"
                            % (what, start, length, self.size))

    def u16(self, pos: int) -> int:
        return struct.unpack_from("<H", self.data, pos)[0]

    def u32(self, pos: int) -> int:
        return struct.unpack_from("<I", self.data, pos)[0]

    def text(self, start: int, length: int, what: str) -> str:
        """A NUL-terminated string of exactly length bytes, NUL included."""
        self.need(start, length, what)
        raw = self.data[start:start + length]
        if length == 0 or raw[-1] != 0:
            raise Malformed("%s has no NUL terminator" % what)
        if 0 in raw[:-1]:
            raise Malformed("%s has a NUL before its end" % what)
        return raw[:-1].decode("latin-1")

    def multi_text(self, raw: bytes, what: str) -> List[str]:
        """NUL-terminated strings one after another, closed by an empty one."""
        if len(raw) == 1 and raw[0] == 0:
            return []
        if len(raw) < 2 or raw[-2:] != b"\0\0":
            raise Malformed("%s does not end with an empty string" % what)
        parts = raw[:-2].split(b"\0")
        if any(p == b"" for p in parts):
            raise Malformed("%s has an empty string before its end" % what)
        return [p.decode("latin-1") for p in parts]

    def id_list(self, start: int, length: int, what: str) -> List[int]:
        """16-bit ids closed by a 0."""
        if length % 2:
            raise Malformed("%s has an odd length (%d)" % (what, length))
        ids = list(struct.unpack_from("<%dH" % (length // 2), self.data, start))
        if not ids or ids[-1] != 0:
            raise Malformed("%s does not end with 0" % what)
        if 0 in ids[:-1]:
            raise Malformed("%s has a 0 before its end" % what)
        return ids[:-1]

    def section(self, name: str, offset: int, count: int, fixed: int, length_at: int,
                parse) -> None:
        """count entries from offset: `fixed` bytes, the last two of which (at length_at)
        give the length of the variable part that follows."""
        if offset > self.size:
            raise Malformed("%s section's offset %d is outside the file (%d bytes)"
                            % (name, offset, self.size))
        if count and offset < HEADER_SIZE:
            raise Malformed("%s section's offset %d lies inside the header" % (name, offset))
        pos = offset
        for i in range(count):
            what = "%s section entry %d of %d" % (name, i + 1, count)
            self.need(pos, fixed, what)
            length = self.u16(pos + length_at)
            self.need(pos, fixed + length, what)
            parse(pos, pos + fixed, length, what)
            pos += fixed + length
        self.claim(offset, pos, "the %s section" % name)

    def string_part(self, name: str, offset: int, length: int) -> bytes:
        self.need(offset, length, "the %s string" % name)
        if length and offset < HEADER_SIZE:
            raise Malformed("the %s string's offset %d lies inside the header" % (name, offset))
        self.claim(offset, offset + length, "the %s string" % name)
        return self.data[offset:offset + length]

    def gaps(self) -> List[Tuple[int, int]]:
        out, pos = [], 0
        for s, e, _ in sorted(self.regions):
            if s > pos:
                out.append((pos, s - pos))
            pos = max(pos, e)
        if pos < self.size:
            out.append((pos, self.size - pos))
        return out


def _unique(table: dict, key: int, what: str) -> None:
    if key in table:
        raise Malformed("%s: id %d appears twice" % (what, key))


def _resolve(strings: Dict[int, str], ids: List[int], what: str) -> str:
    for sid in ids:
        if sid not in strings:
            raise Malformed("%s refers to string %d, which does not exist" % (what, sid))
    return "\\".join(strings[sid] for sid in ids)


def read(data: bytes) -> SetupFile:
    r = _Reader(bytes(data))
    if r.size < HEADER_SIZE:
        raise Malformed("the file has %d bytes, fewer than the %d of the header"
                        % (r.size, HEADER_SIZE))
    h = Header(*struct.unpack_from(HEADER_FORMAT, r.data, 0))
    if h.signature != SIGNATURE:
        raise Malformed("the signature is %r, not %r" % (h.signature, SIGNATURE))
    if h.file_length != r.size:
        raise Malformed("the header says the file has %d bytes; it has %d"
                        % (h.file_length, r.size))

    appname = r.text(h.appname_offset, h.appname_length, "the APPNAME string")
    r.string_part("APPNAME", h.appname_offset, h.appname_length)
    provider = r.text(h.provider_offset, h.provider_length, "the PROVIDER string")
    r.string_part("PROVIDER", h.provider_offset, h.provider_length)
    unsupported: List[str] = []
    raw = r.string_part("UNSUPPORTED", h.unsupported_offset, h.unsupported_length)
    if raw:
        unsupported = r.multi_text(raw, "the UNSUPPORTED list")

    # Strings: id (2), length with NUL (2), the string.
    strings: Dict[int, str] = {}

    def string_entry(pos, body, length, what):
        sid = r.u16(pos)
        what = "%s (string %d)" % (what, sid)
        if sid == 0:
            raise Malformed("%s: string id 0 cannot be referred to (0 ends a list)" % what)
        _unique(strings, sid, "STRINGS section")
        strings[sid] = r.text(body, length, what)
    r.section("STRINGS", h.string_offset, h.string_count, 4, 2, string_entry)

    # Directories: id (2), length (2), string ids closed by 0.
    dirs: Dict[int, Directory] = {}

    def dir_entry(pos, body, length, what):
        did = r.u16(pos)
        what = "%s (directory %d)" % (what, did)
        if did == 0:
            raise Malformed("%s: directory id 0 means the install folder" % what)
        _unique(dirs, did, "DIRS section")
        ids = r.id_list(body, length, what)
        dirs[did] = Directory(did, ids, _resolve(strings, ids, what))
    r.section("DIRS", h.dir_offset, h.dir_count, 4, 2, dir_entry)

    # Files: id (2), directory id (2), unknown (2), flags (4), name length (2), name.
    files: List[File] = []

    def file_entry(pos, body, length, what):
        fid, did, unknown, flags = struct.unpack_from("<HHHI", r.data, pos)
        what = "%s (file %d)" % (what, fid)
        if not 1 <= fid <= 998:
            raise Malformed("%s: file id %d names no installable member (001 to 998)"
                            % (what, fid))
        if any(f.id == fid for f in files):
            raise Malformed("FILES section: id %d appears twice" % fid)
        if did not in dirs:
            raise Malformed("%s refers to directory %d, which does not exist" % (what, did))
        if flags & FILE_ALWAYS_OVERWRITE and flags & FILE_KEEP_NEWER:
            raise Malformed("%s: flags 0x%08x both always overwrite and keep a newer target"
                            % (what, flags))
        if flags & FILE_ONLY_IF_EXISTS and flags & FILE_KEEP_EXISTING:
            raise Malformed("%s: flags 0x%08x both copy only over an existing target and never"
                            " overwrite one" % (what, flags))
        name = r.text(body, length, what + "'s name")
        if not name:
            raise Malformed("%s has an empty name" % what)
        files.append(File(fid, did, unknown, flags, name))
    r.section("FILES", h.file_offset, h.file_count, 12, 10, file_entry)

    # Hives: id (2), root (2), unknown (2), length (2), string ids closed by 0.
    hives: Dict[int, Hive] = {}

    def hive_entry(pos, body, length, what):
        hid, root, unknown = struct.unpack_from("<HHH", r.data, pos)
        what = "%s (hive %d)" % (what, hid)
        if hid == 0:
            raise Malformed("%s: hive id 0" % what)
        _unique(hives, hid, "REGHIVES section")
        if root not in HIVE_ROOTS:
            raise Malformed("%s: root %d is none of 1 to 4 (HKCR, HKCU, HKLM, HKU)"
                            % (what, root))
        ids = r.id_list(body, length, what)
        hives[hid] = Hive(hid, root, unknown, ids, _resolve(strings, ids, what))
    r.section("REGHIVES", h.hive_offset, h.hive_count, 8, 6, hive_entry)

    # Keys: id (2), hive id (2), substitute (2), type and flags (4), length (2), then
    # the value's name with its NUL and the data, as the type says.
    keys: List[RegKey] = []

    def key_entry(pos, body, length, what):
        kid, hid, substitute, flags = struct.unpack_from("<HHHI", r.data, pos)
        what = "%s (registry key %d)" % (what, kid)
        if any(k.id == kid for k in keys):
            raise Malformed("REGKEYS section: id %d appears twice" % kid)
        if hid not in hives:
            raise Malformed("%s refers to hive %d, which does not exist" % (what, hid))
        if substitute not in (0, 1):
            raise Malformed("%s: substitution is %d, neither 0 nor 1" % (what, substitute))
        raw = r.data[body:body + length]
        end = raw.find(b"\0")
        if end < 0:
            raise Malformed("%s: the value's name has no NUL terminator" % what)
        name, rest = raw[:end].decode("latin-1"), raw[end + 1:]
        kind = flags & REG_TYPE_BITS
        if kind == REG_DWORD:
            if len(rest) != 4:
                raise Malformed("%s: a DWORD needs 4 bytes of data, not %d" % (what, len(rest)))
            value: object = struct.unpack("<I", rest)[0]
        elif kind == REG_SZ:
            if not rest or rest[-1] != 0 or 0 in rest[:-1]:
                raise Malformed("%s: the string data is not one NUL-terminated string" % what)
            value = rest[:-1].decode("latin-1")
        elif kind == REG_MULTI_SZ:
            value = r.multi_text(rest, what + "'s data")
        else:
            value = bytes(rest)
        keys.append(RegKey(kid, hid, substitute, flags, name, value))
    r.section("REGKEYS", h.key_offset, h.key_count, 12, 10, key_entry)

    # Links: id (2), unknown (2), base folder (2), target id (2), target type (2),
    # length (2), string ids closed by 0.
    links: List[Link] = []

    def link_entry(pos, body, length, what):
        lid, unknown, base, target, kind = struct.unpack_from("<5H", r.data, pos)
        what = "%s (link %d)" % (what, lid)
        if any(link.id == lid for link in links):
            raise Malformed("LINKS section: id %d appears twice" % lid)
        if base > LINK_BASE_MAX:
            raise Malformed("%s: base folder %d is neither 0 (the install folder) nor"
                            " %%CE1%% to %%CE17%%" % (what, base))
        if kind == LINK_TO_FILE:
            if not any(f.id == target for f in files):
                raise Malformed("%s refers to file %d, which does not exist" % (what, target))
        elif kind == LINK_TO_DIRECTORY:
            if target != 0 and target not in dirs:
                raise Malformed("%s refers to directory %d, which does not exist"
                                % (what, target))
        else:
            raise Malformed("%s: target type %d is neither 0 (directory) nor 1 (file)"
                            % (what, kind))
        ids = r.id_list(body, length, what)
        links.append(Link(lid, unknown, base, target, kind, ids, _resolve(strings, ids, what)))
    r.section("LINKS", h.link_offset, h.link_count, 12, 10, link_entry)

    return SetupFile(h, appname, provider, unsupported, strings, dirs, files, hives, keys,
                     links, r.gaps())


def describe(s: SetupFile) -> List[str]:
    """What the file says, one line a field, for people."""
    h = s.header
    out = ["signature %s, %d bytes" % (h.signature.decode("latin-1"), h.file_length),
           "processor %d (%s)" % (h.processor, PROCESSORS.get(h.processor, "unknown")),
           "CE version %d.%d to %d.%d, build %d to %d (0: no limit)"
           % (h.min_ce_major, h.min_ce_minor, h.max_ce_major, h.max_ce_minor,
              h.min_build, h.max_build),
           "application %r, provider %r" % (s.appname, s.provider),
           "unsupported platforms %r" % (s.unsupported,)]
    for sid, text in sorted(s.strings.items()):
        out.append("string %d: %r" % (sid, text))
    for d in sorted(s.dirs.values(), key=lambda d: d.id):
        out.append("directory %d: %s" % (d.id, d.path))
    for f in s.files:
        out.append("file %d: %s (flags 0x%08x)" % (f.id, s.file_path(f), f.flags))
    for hv in s.hives.values():
        out.append("hive %d: %s\\%s" % (hv.id, HIVE_ROOTS[hv.root], hv.path))
    for k in s.keys:
        out.append("registry key %d: hive %d, %r = %r (%s%s)"
                   % (k.id, k.hive_id, k.name, k.value,
                      REG_TYPE_NAMES[k.type_flags & REG_TYPE_BITS],
                      ", no clobber" if k.type_flags & REG_NOCLOBBER else ""))
    for link in s.links:
        out.append("link %d: %s -> %s" % (link.id, s.link_path(link), s.link_target(link)))
    for u in s.unknowns():
        out.append("unknown: %s = %d%s" % (u.where, u.value,
                                           "" if u.usual is None else " (usually %d)" % u.usual))
    return out


def main(argv: List[str]) -> int:
    if len(argv) != 2:
        print("usage: cesetup.py FILE.000", file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        data = f.read()
    try:
        setup = read(data)
    except Malformed as e:
        print("%s: %s" % (argv[1], e), file=sys.stderr)
        return 1
    print("\n".join(describe(setup)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
