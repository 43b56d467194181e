#!/usr/bin/python3
"""Draws the special-character picker's pictures from the layout tables.

Reads PickerLayout[6][30] from shell/layouts.cpp and writes, for each national layout,
bitmap 148 (the plain column) and 149 (the shifted column) as 240 x 114, 8-bit,
bottom-up Windows BMP files into res/pictures/<lang>_148.bmp / _149.bmp, plus PNG
copies into docs/pickers/ for the documentation.

    /usr/bin/python3 tools/make_pickers.py

Needs Debian's python3-pil and fonts-dejavu-core. The pictures are committed: the build
does not run this; run it again by hand whenever the tables change.

What the pictures promise (tests/platform/pictures_test.cpp holds them to it):
  - palette index 0 is the white background;
  - a character's pixels (greys, ending in black) lie inside its cell rectangle, and a
    cell rectangle holds some exactly when its cell is not empty;
  - outside the rectangles there is only the frame colour, on the one-pixel line round
    each rectangle, and the key labels (slate tones) in the gap under each cell;
  - the same character gives the same pixels in every cell and every picture.
"""
import os
import re
import struct
import sys

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, ".."))
LAYOUTS_CPP = os.path.join(ROOT, "shell", "layouts.cpp")
BMP_DIR = os.path.join(ROOT, "res", "pictures")
PNG_DIR = os.path.join(ROOT, "docs", "pickers")
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"

# Table order of PickerLayout, as the resource libraries name them.
LANGS = ["usa", "fra", "ger", "esp", "ptb", "ita"]
LANG_NAMES = ["USA (default)", "French", "German", "Spanish", "Portuguese", "Italian"]

WIDTH, HEIGHT = 240, 114
CELL_W, CELL_H = 22, 20
LEVELS = 16  # coverage steps of antialiased ink

# Palette: 0 white; 1..16 ink, light grey to black; 17 the frame; 18..33 label tones.
INK0, FRAME, LABEL0 = 1, 17, 18
FRAME_RGB = (0xA0, 0xB8, 0xD8)
LABEL_RGB = (0x40, 0x58, 0x80)

VK_NAMES = {"VK_BACK": 0x08, "VK_RETURN": 0x0D, "VK_OEM_COMMA": 0xBC, "VK_OEM_PERIOD": 0xBE}
DEAD = 0x8000


def palette():
    p = [(255, 255, 255)]
    for i in range(1, LEVELS + 1):
        v = round(255 * (1 - i / LEVELS))
        p.append((v, v, v))
    p.append(FRAME_RGB)
    for i in range(1, LEVELS + 1):
        p.append(tuple(round(255 + (c - 255) * i / LEVELS) for c in LABEL_RGB))
    while len(p) < 256:
        p.append((0, 0, 0))
    return p


def cell_rect(cell):
    r, c = divmod(cell, 10)
    left = 4 + 23 * c if c < 5 else 7 + 23 * c
    top = 2 + 38 * r
    return left, top, left + CELL_W, top + CELL_H


# ---- the tables, read from the C source -------------------------------------------
def parse_value(text):
    text = text.strip()
    m = re.fullmatch(r"D\((.+)\)", text)
    if m:
        return DEAD | parse_value(m.group(1))
    m = re.fullmatch(r"'(.)'", text)
    if m:
        return ord(m.group(1))
    if text in VK_NAMES:
        return VK_NAMES[text]
    return int(text, 0)


def split_args(s):
    args, depth, cur = [], 0, ""
    for ch in s:
        if ch == "," and depth == 0:
            args.append(cur)
            cur = ""
            continue
        depth += ch == "("
        depth -= ch == ")"
        cur += ch
    args.append(cur)
    return args


def read_layouts(path):
    src = open(path, encoding="utf-8").read()
    src = re.sub(r"//[^\n]*", "", src)
    m = re.search(r"PickerLayout\s*\[[^\]]*\]\s*\[[^\]]*\]\s*=\s*\{(.*?)\n\};", src, re.S)
    if not m:
        sys.exit("make_pickers: no PickerLayout table in " + path)
    layouts = []
    for block in re.findall(r"\{((?:[^{}]|\{[^{}]*\})*)\}", m.group(1)):
        cells = []
        for macro, args in re.findall(r"\b(C1|C2)\s*\(((?:[^()]|\([^()]*\))*)\)", block):
            vals = [parse_value(a) for a in split_args(args)]
            if macro == "C1" and len(vals) == 2:
                cells.append((vals[0], vals[1], vals[1]))
            elif macro == "C2" and len(vals) == 3:
                cells.append(tuple(vals))
            else:
                sys.exit("make_pickers: bad cell %s(%s)" % (macro, args))
        if len(cells) != 30:
            sys.exit("make_pickers: a layout has %d cells, not 30" % len(cells))
        layouts.append(cells)
    if len(layouts) != len(LANGS):
        sys.exit("make_pickers: %d layouts, not %d" % (len(layouts), len(LANGS)))
    return layouts


# ---- drawing ------------------------------------------------------------------------
def coverage_tile(text, size):
    """Greyscale coverage of text at size, anchored middle-middle in a cell-sized tile
    drawn on a wide margin, so that what spills over can be seen."""
    font = ImageFont.truetype(FONT, size)
    pad = 40
    img = Image.new("L", (CELL_W + 2 * pad, CELL_H + 2 * pad), 0)
    ImageDraw.Draw(img).text((pad + CELL_W / 2, pad + CELL_H / 2), text, font=font, fill=255, anchor="mm")
    return img, pad


def dead_tile(accent, size):
    # A dead key shows its accent over a dotted circle, as a mark still to combine.
    # The spacing accent is set on the circle by hand: text shaping would put a second
    # circle under a lone combining mark.
    circle, pad = coverage_tile("\u25CC", size)
    mark, _ = coverage_tile(chr(accent), size)
    cb, mb = circle.getbbox(), mark.getbbox()
    dx = round((cb[0] + cb[2]) / 2 - (mb[0] + mb[2]) / 2)
    dy = cb[1] - 1 - mb[3]
    out = circle.copy()
    out.paste(255, (0, 0), mark.transform(mark.size, Image.AFFINE, (1, 0, -dx, 0, 1, -dy)))
    # Centre the pair as one in the tile.
    bb = out.getbbox()
    sx = round(pad + CELL_W / 2 - (bb[0] + bb[2]) / 2)
    sy = round(pad + CELL_H / 2 - (bb[1] + bb[3]) / 2)
    return out.transform(out.size, Image.AFFINE, (1, 0, -sx, 0, 1, -sy)), pad


# The largest size tried: the font's line box (ascent + descent) of 16 px fills the
# cell's height, so every character shares one scale unless it must shrink to fit.
MAX_SIZE = 14


def glyph(value):
    """A CELL_W x CELL_H coverage image of one cell's character: centred, the largest
    size up to MAX_SIZE whose ink stays a pixel clear of the rectangle's edges."""
    for size in range(MAX_SIZE, 5, -1):
        if value & DEAD:
            img, pad = dead_tile(value & 0xFF, size)
        else:
            img, pad = coverage_tile(chr(value), size)
        bb = img.getbbox()
        if bb is None:
            sys.exit("make_pickers: U+%04X draws nothing" % value)
        inside = (pad + 1, pad + 1, pad + CELL_W - 1, pad + CELL_H - 1)
        if bb[0] >= inside[0] and bb[1] >= inside[1] and bb[2] <= inside[2] and bb[3] <= inside[3]:
            return img.crop((pad, pad, pad + CELL_W, pad + CELL_H))
    sys.exit("make_pickers: U+%04X does not fit its cell" % value)


def key_label(key):
    return {0x08: "\u232B", 0x0D: "\u21B5", 0xBC: ",", 0xBE: "."}.get(key, chr(key))


def draw_picture(cells, column):
    pix = Image.new("P", (WIDTH, HEIGHT), 0)
    pix.putpalette([v for rgb in palette() for v in rgb])
    put = pix.load()
    label_font = ImageFont.truetype(FONT, 10)
    for i, cell in enumerate(cells):
        left, top, right, bottom = cell_rect(i)
        # The frame: the one-pixel line just outside the rectangle.
        for x in range(left - 1, right + 1):
            put[x, top - 1] = FRAME
            put[x, bottom] = FRAME
        for y in range(top - 1, bottom + 1):
            put[left - 1, y] = FRAME
            put[right, y] = FRAME
        # The key, small, in the gap under the cell, a pixel below the frame.
        lab = Image.new("L", (CELL_W, 14), 0)
        ImageDraw.Draw(lab).text((CELL_W / 2, 7), key_label(cell[0] & 0xFF), font=label_font, fill=255,
                                 anchor="mm")
        cov = lab.load()
        for y in range(14):
            for x in range(CELL_W):
                level = round(cov[x, y] * LEVELS / 255)
                if level:
                    put[left + x, bottom + 2 + y] = LABEL0 + level - 1
        value = cell[1 + column]
        if value == 0:
            continue
        cov = glyph(value).load()
        for y in range(CELL_H):
            for x in range(CELL_W):
                level = round(cov[x, y] * LEVELS / 255)
                if level:
                    put[left + x, top + y] = INK0 + level - 1
    return pix


def write_bmp(pix, path):
    # BITMAPFILEHEADER, BITMAPINFOHEADER (BI_RGB, 8 bits), 256 RGBQUADs, bottom-up rows
    # (240 bytes a row: already a multiple of 4).
    pal = palette()
    rows = b"".join(bytes(pix.getpixel((x, y)) for x in range(WIDTH)) for y in reversed(range(HEIGHT)))
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, len(rows), 2835, 2835, 256, 0)
    quads = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in pal)
    offset = 14 + len(info) + len(quads)
    head = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(head + info + quads + rows)


def main():
    layouts = read_layouts(LAYOUTS_CPP)
    os.makedirs(BMP_DIR, exist_ok=True)
    os.makedirs(PNG_DIR, exist_ok=True)
    for lang, cells in zip(LANGS, layouts):
        for column, bitmap in ((0, 148), (1, 149)):
            pix = draw_picture(cells, column)
            write_bmp(pix, os.path.join(BMP_DIR, "%s_%d.bmp" % (lang, bitmap)))
            pix.convert("RGB").save(os.path.join(PNG_DIR, "%s_%d.png" % (lang, bitmap)), optimize=True)
    print("make_pickers: %d pictures in %s" % (2 * len(layouts), os.path.relpath(BMP_DIR, ROOT)))


if __name__ == "__main__":
    main()
