"""Setup files (`.000`) made by hand for the tests: laid out field by field in the
order the format's description gives, so that corruptions can be written as small
patches at named offsets.

    layout(...)          -> bytes: the header and each part from plain tuples
    package_setup(...)   -> (bytes, file ids): files by folder and name, links by name
"""

import struct

# Offsets in the header that the tests patch.
AT_SIGNATURE, AT_LENGTH, AT_PROCESSOR = 0, 8, 20
AT_MIN_MAJOR, AT_MIN_MINOR, AT_MAX_MAJOR, AT_MAX_MINOR, AT_MIN_BUILD, AT_MAX_BUILD = \
    24, 28, 32, 36, 40, 44
AT_COUNTS = {"strings": 48, "dirs": 50, "files": 52, "hives": 54, "keys": 56, "links": 58}
AT_OFFSETS = {"strings": 60, "dirs": 64, "files": 68, "hives": 72, "keys": 76, "links": 80}
AT_APPNAME, AT_PROVIDER, AT_UNSUPPORTED = 84, 88, 92   # each: offset (16 bits), length (16)

PROCESSOR_STRONGARM = 2577


def cstr(text):
    return text.encode("latin-1") + b"\0"


def ids(values):
    """A list of 16-bit ids closed by 0."""
    return struct.pack("<%dH" % (len(values) + 1), *values, 0)


def layout(appname=b"App\0", provider=b"Maker\0", unsupported=b"",
           strings=(), dirs=(), files=(), hives=(), keys=(), links=(),
           processor=PROCESSOR_STRONGARM, min_version=(3, 0), max_version=(0, 0),
           builds=(0, 0), unknowns=(0, 0, 1, 0, 0), order=None):
    """Raw parts in, bytes out. Strings are given with their NULs, so a test can leave
    one out. strings: (id, bytes); dirs: (id, [string ids]); files: (id, dir id,
    second id, flags, name bytes); hives: (id, root, unknown, [string ids]);
    keys: (id, hive id, substitute, type flags, data bytes); links: (id, unknown,
    base, target id, target type, [string ids]). unknowns: the header's fields at
    4, 12, 16, 96 and 98. order: the parts' names in the order they are placed after
    the header (by default the description's order)."""
    parts = {}
    parts["strings"] = b"".join(struct.pack("<HH", i, len(s)) + s for i, s in strings)
    parts["dirs"] = b"".join(struct.pack("<HH", i, 2 * len(p) + 2) + ids(p) for i, p in dirs)
    parts["files"] = b"".join(struct.pack("<HHHIH", i, d, u, fl, len(n)) + n
                              for i, d, u, fl, n in files)
    parts["hives"] = b"".join(struct.pack("<HHHH", i, root, u, 2 * len(p) + 2) + ids(p)
                              for i, root, u, p in hives)
    parts["keys"] = b"".join(struct.pack("<HHHIH", i, h, sub, fl, len(data)) + data
                             for i, h, sub, fl, data in keys)
    parts["links"] = b"".join(struct.pack("<HHHHHH", i, u, base, t, kind, 2 * len(p) + 2) + ids(p)
                              for i, u, base, t, kind, p in links)
    counts = {"strings": len(strings), "dirs": len(dirs), "files": len(files),
              "hives": len(hives), "keys": len(keys), "links": len(links)}

    body = bytearray()
    pos = 100

    def place(blob):
        nonlocal pos
        start = pos
        body.extend(blob)
        pos += len(blob)
        return start

    parts.update(appname=appname, provider=provider, unsupported=unsupported)
    offsets = {}
    for name in order or ("appname", "provider", "unsupported", "strings", "dirs", "files",
                          "hives", "keys", "links"):
        offsets[name] = place(parts[name])
    at_app, at_prov, at_unsup = offsets["appname"], offsets["provider"], offsets["unsupported"]

    u4, u12, u16, u96, u98 = unknowns
    header = struct.pack(
        "<4s11I6H6I8H", b"MSCE", u4, 100 + len(body), u12, u16, processor,
        min_version[0], min_version[1], max_version[0], max_version[1], builds[0], builds[1],
        *(counts[n] for n in ("strings", "dirs", "files", "hives", "keys", "links")),
        *(offsets[n] for n in ("strings", "dirs", "files", "hives", "keys", "links")),
        at_app, len(appname), at_prov, len(provider), at_unsup, len(unsupported), u96, u98)
    return header + bytes(body)


def package_setup(files, links=(), appname="Tavlo", provider="Corvane", unsupported=(),
                  keys=(), extra_dirs=(), extra_strings=(), flags=0, **rest):
    """files: (folder, name), the folder a backslashed path; links: (base folder number,
    name, index into files). keys: (hive root, hive path, value name, DWORD value).
    Returns the bytes and the file ids, in the order of files."""
    strings, dirs = {}, {}

    def sid(text):
        if text not in strings:
            strings[text] = len(strings) + 1
        return strings[text]

    def did(folder):
        if folder not in dirs:
            dirs[folder] = (len(dirs) + 1, [sid(p) for p in folder.split("\\")])
        return dirs[folder][0]

    file_rows = []
    for n, (folder, name) in enumerate(files, start=1):
        file_rows.append((n, did(folder), n, flags, cstr(name)))
    for folder in extra_dirs:
        did(folder)
    for text in extra_strings:
        sid(text)
    link_rows = [(n, 0, base, file_rows[target][0], 1, [sid(p) for p in name.split("\\")])
                 for n, (base, name, target) in enumerate(links, start=1)]
    hive_rows, key_rows = [], []
    for n, (root, path, value_name, value) in enumerate(keys, start=1):
        hive_rows.append((n, root, 0, [sid(p) for p in path.split("\\")]))
        key_rows.append((n, n, 0, 0x00010001, cstr(value_name) + struct.pack("<I", value)))
    unsup = b"".join(cstr(p) for p in unsupported) + b"\0" if unsupported else b""
    data = layout(appname=cstr(appname), provider=cstr(provider), unsupported=unsup,
                  strings=[(i, cstr(t)) for t, i in strings.items()],
                  dirs=list(dirs.values()), files=file_rows, hives=hive_rows, keys=key_rows,
                  links=link_rows, **rest)
    return data, [row[0] for row in file_rows]
