#!/usr/bin/env python3
"""Writes the tables of the help pages from the program's own tables.

res/help/<CODE>/tavlo.htc is written by hand, except for what lies between
    <!-- generated: NAME -->   and   <!-- end generated -->
which this script fills in:
    fn       the characters of the Fn layer (engine/keytables.cpp, FnCharTable)
    picker   the characters of the build's picker layout (shell/layouts.cpp)
    accents  its accent cells, each with the letters it makes (AccentTable); a page
             has this part exactly when its layout has accent cells

    python3 tools/make_help.py           # rewrite the pages
    python3 tools/make_help.py --check   # exit 1, naming the pages, if one is stale

Run it whenever a table changes; tests/help holds the pages to the tables. The pages
are windows-1252, the code page the handheld's help viewer reads them in; a character
outside it is written as a numeric reference. Only the standard library is needed.
"""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, ".."))
KEYTABLES_CPP = os.path.join(ROOT, "engine", "keytables.cpp")
LAYOUTS_CPP = os.path.join(ROOT, "shell", "layouts.cpp")
HELP_DIR = os.path.join(ROOT, "res", "help")
PAGE = "tavlo.htc"
ENCODING = "cp1252"

DEAD = 0x8000
VK_NAMES = {"VK_BACK": 0x08, "VK_RETURN": 0x0D, "VK_OEM_COMMA": 0xBC, "VK_OEM_PERIOD": 0xBE}
TABLE = '<TABLE BORDER="1" CELLPADDING="2" CELLSPACING="0">'

# The national builds in the order of PickerLayout, and the words their tables use.
LANGS = [
    ("USA", {
        "backspace": "Backspace", "enter": "Enter",
        "fn": ("Fn +", "types"), "picker": ("Key", "Character", "With Shift"),
        "accents": ("Key", "Accent", "Letters"),
        "accent_names": ["grave", "acute", "circumflex", "tilde", "diaeresis"],
    }),
    ("FRA", {
        "backspace": "Retour arrière", "enter": "Entrée",
        "fn": ("Fn +", "donne"), "picker": ("Touche", "Caractère", "Avec Maj"),
        "accents": ("Touche", "Accent", "Lettres"),
        "accent_names": ["grave", "aigu", "circonflexe", "tilde", "tréma"],
    }),
    ("GER", {
        "backspace": "Rücktaste", "enter": "Eingabetaste",
        "fn": ("Fn +", "ergibt"), "picker": ("Taste", "Zeichen", "Mit Umschalttaste"),
        "accents": ("Taste", "Akzent", "Buchstaben"),
        "accent_names": ["Gravis", "Akut", "Zirkumflex", "Tilde", "Trema"],
    }),
    ("ESP", {
        "backspace": "Retroceso", "enter": "Intro",
        "fn": ("Fn +", "escribe"), "picker": ("Tecla", "Carácter", "Con Mayús"),
        "accents": ("Tecla", "Acento", "Letras"),
        "accent_names": ["grave", "agudo", "circunflejo", "tilde", "diéresis"],
    }),
    ("PTB", {
        "backspace": "Backspace", "enter": "Enter",
        "fn": ("Fn +", "digita"), "picker": ("Tecla", "Caractere", "Com Shift"),
        "accents": ("Tecla", "Acento", "Letras"),
        "accent_names": ["grave", "agudo", "circunflexo", "til", "trema"],
    }),
    ("ITA", {
        "backspace": "Backspace", "enter": "Invio",
        "fn": ("Fn +", "scrive"), "picker": ("Tasto", "Carattere", "Con Maiusc"),
        "accents": ("Tasto", "Accento", "Lettere"),
        "accent_names": ["grave", "acuto", "circonflesso", "tilde", "dieresi"],
    }),
]

# The spacing accent of each accent kind 1..5.
BARE_ACCENTS = [0x60, 0xB4, 0x5E, 0x7E, 0xA8]


def fail(message):
    sys.exit("make_help: " + message)


# ---- the tables, read from the C sources ---------------------------------------------
def strip_comments(src):
    return re.sub(r"//[^\n]*", "", src)


def table_body(src, name, path):
    m = re.search(r"\b" + name + r"\s*(?:\[[^\]]*\]\s*)+=\s*\{(.*?)\n\};", src, re.S)
    if not m:
        fail("no %s in %s" % (name, path))
    return m.group(1)


def number(text):
    text = text.strip()
    m = re.fullmatch(r"'(.)'", text)
    return ord(m.group(1)) if m else int(text, 0)


def read_keytables(path):
    src = strip_comments(open(path, encoding="utf-8").read())
    rows = lambda name, n: [tuple(number(v) for v in row.split(","))
                            for row in re.findall(r"\{([^{}]*)\}", table_body(src, name, path))
                            if len(row.split(",")) == n]
    scan_vk = rows("ScanVkTable", 2)
    fn_chars = rows("FnCharTable", 2)
    accents = rows("AccentTable", 3)
    if (len(scan_vk), len(fn_chars), len(accents)) != (45, 30, 87):
        fail("%s: %d, %d and %d rows where 45, 30 and 87 were expected"
             % (path, len(scan_vk), len(fn_chars), len(accents)))
    return scan_vk, fn_chars, accents


def cell_value(text):
    text = text.strip()
    m = re.fullmatch(r"D\((.+)\)", text)
    if m:
        return DEAD | cell_value(m.group(1))
    return VK_NAMES[text] if text in VK_NAMES else number(text)


def read_layouts(path):
    src = strip_comments(open(path, encoding="utf-8").read())
    layouts = []
    for block in re.findall(r"\{((?:[^{}]|\{[^{}]*\})*)\}", table_body(src, "PickerLayout", path)):
        cells = []
        for macro, args in re.findall(r"\b(C1|C2)\s*\(((?:[^()]|\([^()]*\))*)\)", block):
            vals = [cell_value(a) for a in re.split(r",(?![^(]*\))", args)]
            if macro == "C1" and len(vals) == 2:
                cells.append((vals[0], vals[1], vals[1]))
            elif macro == "C2" and len(vals) == 3:
                cells.append(tuple(vals))
            else:
                fail("bad cell %s(%s) in %s" % (macro, args, path))
        if len(cells) != 30:
            fail("a layout of %s has %d cells, not 30" % (path, len(cells)))
        layouts.append(cells)
    if len(layouts) != len(LANGS):
        fail("%s has %d layouts, not %d" % (path, len(layouts), len(LANGS)))
    return layouts


# ---- the generated parts ------------------------------------------------------------
def escape(s):
    # Only what text must not hold; the viewer knows no hexadecimal references.
    return s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def text(ch):
    return escape(chr(ch))


def key_label(vk, words):
    if 0x41 <= vk <= 0x5A or 0x30 <= vk <= 0x39:
        return chr(vk)
    names = {0xBC: ",", 0xBE: ".", 0x08: words["backspace"], 0x0D: words["enter"]}
    if vk not in names:
        fail("no name for virtual key 0x%02X" % vk)
    return escape(names[vk])


def rows_html(header, rows):
    out = [TABLE, "<TR>" + "".join("<TH>%s</TH>" % escape(h) for h in header) + "</TR>"]
    out += ["<TR>" + "".join("<TD>%s</TD>" % c for c in row) + "</TR>" for row in rows]
    out.append("</TABLE>")
    return "\n".join(out)


def fn_part(tables, words):
    scan_vk, fn_chars, _ = tables
    vk_of = dict(scan_vk)
    fn_of = dict(fn_chars)
    # In the order of the key table, the letter rows first and the editing keys last.
    scans = [s for s, _ in scan_vk if s in fn_of]
    scans.sort(key=lambda s: not (0x41 <= vk_of[s] <= 0x5A or vk_of[s] in (0xBC, 0xBE)))
    pairs = [(key_label(vk_of[s], words), text(fn_of[s])) for s in scans]
    half = (len(pairs) + 1) // 2
    rows = []
    for i in range(half):
        row = list(pairs[i])
        row += pairs[half + i] if half + i < len(pairs) else ("&nbsp;", "&nbsp;")
        rows.append(row)
    return rows_html(words["fn"] * 2, rows)


def picker_part(layout, words):
    rows = [(key_label(k & 0xFF, words), text(p), text(s))
            for k, p, s in layout if p and not p & DEAD]
    return rows_html(words["picker"], rows)


def accents_part(layout, tables, words):
    _, _, accents = tables
    rows = []
    for k, p, _ in layout:
        if not p & DEAD:
            continue
        kind = BARE_ACCENTS.index(p & ~DEAD) + 1
        letters = " ".join(text(c) for kd, _, c in accents if kd == kind)
        accent = "%s %s" % (text(p & ~DEAD), escape(words["accent_names"][kind - 1]))
        rows.append((key_label(k & 0xFF, words), accent, letters))
    return rows_html(words["accents"], rows) if rows else None


# ---- the pages ------------------------------------------------------------------------
# A part runs from its opening line to the next closing one; parts do not nest.
MARK = re.compile(r"(<!-- generated: (\w+) -->\n)((?:(?!<!-- (?:end )?generated).)*?)"
                  r"(<!-- end generated -->)", re.S)


def page_text(path, parts):
    data = open(path, "rb").read()
    src = data.decode(ENCODING)
    found = set()

    def fill(m):
        name = m.group(2)
        if name not in parts:
            fail("%s: unknown part %r" % (path, name))
        if name in found:
            fail("%s: part %r twice" % (path, name))
        found.add(name)
        if parts[name] is None:
            fail("%s: part %r, but this layout has no accent cells; take that part and "
                 "what it says out of the page" % (path, name))
        return m.group(1) + parts[name] + "\n" + m.group(4)

    out = MARK.sub(fill, src)
    wanted = {name for name, body in parts.items() if body is not None}
    if wanted - found:
        fail("%s: no part for %s; this layout needs one (and words to go with it)"
             % (path, ", ".join(sorted(wanted - found))))
    return data, out.encode(ENCODING, errors="xmlcharrefreplace")


def main(argv):
    check = argv[1:] == ["--check"]
    if argv[1:] and not check:
        sys.exit(__doc__)
    tables = read_keytables(KEYTABLES_CPP)
    layouts = read_layouts(LAYOUTS_CPP)
    stale = []
    for (code, words), layout in zip(LANGS, layouts):
        path = os.path.join(HELP_DIR, code, PAGE)
        parts = {
            "fn": fn_part(tables, words),
            "picker": picker_part(layout, words),
            "accents": accents_part(layout, tables, words),
        }
        old, new = page_text(path, parts)
        if old == new:
            continue
        stale.append(os.path.relpath(path, ROOT))
        if not check:
            with open(path, "wb") as f:
                f.write(new)
    if check and stale:
        print("make_help: not what the tables make: " + ", ".join(stale), file=sys.stderr)
        return 1
    for path in stale:
        print("wrote " + path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
