#!/usr/bin/python3
"""Checks of the files the handheld's build makes, read with pefile.

    check_pe.py headers BIN              brindle.exe and every DLL: machine, subsystem, base, .reloc
    check_pe.py imports BIN DEFDIR       the import table against the .def files of DEFDIR
    check_pe.py resources BIN RESDIR     each file's resources against the .res files they came from
    check_pe.py map BIN                  bin/brindle.map against brindle.exe

Prints what it checked; exits 1 with every failure listed.
"""

import glob
import os
import struct
import sys

import pefile

from ce_emulator import read_map

ARM = 0x1C0
CE_GUI = 9
NATIONAL = {"FRA": "fra", "GER": "ger", "ESP": "esp", "PTB": "ptb", "ITA": "ita"}
HANDHELD_DLLS = {"coredll.dll", "aygshell.dll", "commctrl.dll"}

failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what)
    if not ok:
        failures.append(what)


def libraries(bin_dir):
    libs = {"USA": os.path.join(bin_dir, "brindleres.dll")}
    for code in NATIONAL:
        libs[code] = os.path.join(bin_dir, "national", code, "brindleres.dll")
    return libs


# ---- headers --------------------------------------------------------------------------

def section_of(pe, rva):
    for s in pe.sections:
        if s.VirtualAddress <= rva < s.VirtualAddress + max(s.Misc_VirtualSize, s.SizeOfRawData):
            return s
    return None


def common_headers(pe, name):
    check(pe.FILE_HEADER.Machine == ARM, "%s: machine 0x%X (ARM is 0x1C0)" % (name, pe.FILE_HEADER.Machine))
    oh = pe.OPTIONAL_HEADER
    check(oh.Subsystem == CE_GUI, "%s: subsystem %d (Windows CE GUI is 9)" % (name, oh.Subsystem))
    check((oh.MajorSubsystemVersion, oh.MinorSubsystemVersion) == (3, 0),
          "%s: subsystem version %d.%d (3.0)" % (name, oh.MajorSubsystemVersion, oh.MinorSubsystemVersion))
    check(oh.Magic == 0x10B, "%s: PE32 (magic 0x%X)" % (name, oh.Magic))


def headers(bin_dir):
    exe_path = os.path.join(bin_dir, "brindle.exe")
    pe = pefile.PE(exe_path)
    common_headers(pe, "brindle.exe")
    fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    check(oh.ImageBase == 0x10000, "brindle.exe: image base 0x%X (0x10000)" % oh.ImageBase)
    check(fh.Characteristics & 0x0002 and not fh.Characteristics & 0x2000,
          "brindle.exe: an executable, not a DLL (characteristics 0x%X)" % fh.Characteristics)
    check(not fh.Characteristics & 0x0001, "brindle.exe: relocations not stripped (characteristics 0x%X)"
          % fh.Characteristics)
    reloc_dir = oh.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    reloc = section_of(pe, reloc_dir.VirtualAddress) if reloc_dir.Size else None
    check(reloc is not None and reloc.Name.rstrip(b"\0") == b".reloc",
          "brindle.exe: base relocations (%d bytes) in a .reloc section" % reloc_dir.Size)
    fixups = sum(len(block.entries) for block in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", []))
    check(fixups > 0, "brindle.exe: %d base relocation entries" % fixups)
    entry = section_of(pe, oh.AddressOfEntryPoint)
    check(entry is not None and entry.Characteristics & 0x20000000,
          "brindle.exe: entry point 0x%X in an executable section" % oh.AddressOfEntryPoint)

    found = sorted(glob.glob(os.path.join(bin_dir, "**", "*.dll"), recursive=True))
    wanted = sorted(libraries(bin_dir).values())
    check(found == wanted, "bin/ holds exactly the six resource libraries: %s"
          % ", ".join(os.path.relpath(p, bin_dir) for p in found))
    for path in found:
        name = os.path.relpath(path, bin_dir)
        pe = pefile.PE(path)
        common_headers(pe, name)
        check(pe.FILE_HEADER.Characteristics & 0x2000, "%s: a DLL" % name)
        check(pe.OPTIONAL_HEADER.AddressOfEntryPoint == 0,
              "%s: no entry point (0x%X)" % (name, pe.OPTIONAL_HEADER.AddressOfEntryPoint))
        check(hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"), "%s: has resources" % name)
    others = [p for p in glob.glob(os.path.join(bin_dir, "**", "*.exe"), recursive=True) if p != exe_path]
    check(not others, "bin/ holds no program but brindle.exe: %s" % others)


# ---- imports ----------------------------------------------------------------------------

def read_def(path):
    library, names, in_exports = None, [], False
    with open(path) as f:
        for line in f:
            line = line.split(";", 1)[0].strip()
            if not line:
                continue
            if line.upper().startswith("LIBRARY"):
                library = line.split()[1]
            elif line.upper() == "EXPORTS":
                in_exports = True
            elif in_exports:
                names.append(line.split()[0])
    return library, names


def imports(bin_dir, def_dir):
    defs = {}
    for path in sorted(glob.glob(os.path.join(def_dir, "*.def"))):
        library, names = read_def(path)
        check(library is not None and len(names) == len(set(names)) and names,
              "%s: a LIBRARY and a list of distinct names (%d)" % (os.path.basename(path), len(names)))
        defs[library.lower()] = set(names)
    check(set(defs) == HANDHELD_DLLS, "the .def files are of %s" % ", ".join(sorted(defs)))

    pe = pefile.PE(os.path.join(bin_dir, "brindle.exe"))
    table = {}
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode().lower()
        by_ordinal = [imp.ordinal for imp in entry.imports if imp.import_by_ordinal]
        check(not by_ordinal, "brindle.exe: %s imported by name only (ordinals: %s)" % (dll, by_ordinal))
        table.setdefault(dll, set()).update(imp.name.decode() for imp in entry.imports if imp.name)
    check(set(table) <= HANDHELD_DLLS, "brindle.exe imports only from %s: %s"
          % (", ".join(sorted(HANDHELD_DLLS)), ", ".join(sorted(table))))
    for dll in sorted(set(defs) | set(table)):
        got, listed = table.get(dll, set()), defs.get(dll, set())
        check(got == listed, "brindle.exe: the imports from %s (%d) are the names its .def lists (%d)%s%s"
              % (dll, len(got), len(listed),
                 "; not listed: " + ", ".join(sorted(got - listed)) if got - listed else "",
                 "; listed, not imported: " + ", ".join(sorted(listed - got)) if listed - got else ""))
    for code, path in sorted(libraries(bin_dir).items()):
        lib = pefile.PE(path)
        check(not getattr(lib, "DIRECTORY_ENTRY_IMPORT", []),
              "%s: imports nothing" % os.path.relpath(path, bin_dir))


# ---- resources ----------------------------------------------------------------------------

def read_res(path):
    """{(type, name, language): data} of a compiled resource file."""
    with open(path, "rb") as f:
        data = f.read()
    out, pos = {}, 0

    def ident(at):
        if struct.unpack_from("<H", data, at)[0] == 0xFFFF:
            return struct.unpack_from("<H", data, at + 2)[0], at + 4
        end = at
        while struct.unpack_from("<H", data, end)[0] != 0:
            end += 2
        return data[at:end].decode("utf-16-le").upper(), end + 2

    while pos + 8 <= len(data):
        size, header = struct.unpack_from("<II", data, pos)
        rtype, at = ident(pos + 8)
        name, at = ident(at)
        at = (at + 3) & ~3
        language = struct.unpack_from("<IHH", data, at)[2]
        if size or rtype or name:  # the empty first entry is no resource
            out[(rtype, name, language)] = data[pos + header:pos + header + size]
        pos = (pos + header + size + 3) & ~3
    return out


def pe_resources(path):
    pe = pefile.PE(path)
    out = {}

    def key(entry):
        return entry.name.string.decode().upper() if entry.name else entry.id

    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return out
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                d = lang.data.struct
                out[(key(t), key(n), lang.id)] = pe.get_data(d.OffsetToData, d.Size)
    return out


def resources(bin_dir, res_dir):
    sources = {"USA": [os.path.join(res_dir, "brindleres.res"), os.path.join(res_dir, "strings_usa.res")]}
    for code, lang in NATIONAL.items():
        sources[code] = [os.path.join(res_dir, "national", code, "brindleres.res"),
                         os.path.join(res_dir, "strings_%s.res" % lang)]
    for code, path in sorted(libraries(bin_dir).items()):
        want = {}
        for res in sources[code]:
            want.update(read_res(res))
        got = pe_resources(path)
        name = os.path.relpath(path, bin_dir)
        check(got == want, "%s: the %d resources of %s, byte for byte%s" % (
            name, len(want), " + ".join(os.path.relpath(r, res_dir) for r in sources[code]),
            "" if got == want else " (missing %s, extra %s, differing %s)" % (
                sorted(set(want) - set(got)), sorted(set(got) - set(want)),
                sorted(k for k in set(want) & set(got) if want[k] != got[k]))))
        check(any(k[0] == 6 for k in got), "%s: has its string table" % name)
    want = read_res(os.path.join(res_dir, "brindle.res"))
    got = pe_resources(os.path.join(bin_dir, "brindle.exe"))
    check(got == want and want, "brindle.exe: the %d resources of brindle.res (its icons), byte for byte" % len(want))


# ---- link map --------------------------------------------------------------------------------

def link_map(bin_dir):
    pe = pefile.PE(os.path.join(bin_dir, "brindle.exe"))
    symbols = read_map(os.path.join(bin_dir, "brindle.map"))
    base = pe.OPTIONAL_HEADER.ImageBase
    text = [s for s in pe.sections if s.Name.rstrip(b"\0") == b".text"][0]
    start, end = base + text.VirtualAddress, base + text.VirtualAddress + text.Misc_VirtualSize
    entry = base + pe.OPTIONAL_HEADER.AddressOfEntryPoint
    check(symbols.get("WinMainCRTStartup") == entry,
          "brindle.map: WinMainCRTStartup at 0x%X, the file's entry point 0x%X"
          % (symbols.get("WinMainCRTStartup", 0), entry))
    for name in ("wWinMain", "TranslateKeyByte(unsigned char)", "ReaderThread(void*)", "PickerThread(void*)",
                 "__aeabi_uidiv", "__atomic_load_4"):
        check(start <= symbols.get(name, 0) < end, "brindle.map: %s in .text (0x%X)" % (name, symbols.get(name, 0)))
    # Each import's thunk is a function of the file too, named as the import.
    check(start <= symbols.get("MessageBoxW", 0) < end, "brindle.map: the MessageBoxW thunk in .text")


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    what = argv[0]
    if what == "headers":
        headers(argv[1])
    elif what == "imports":
        imports(argv[1], argv[2])
    elif what == "resources":
        resources(argv[1], argv[2])
    elif what == "map":
        link_map(argv[1])
    else:
        print(__doc__)
        return 2
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
