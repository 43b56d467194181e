#!/usr/bin/env python3
"""Draws brindle's icons and writes them as 256-colour .ico files into res/icons/.

A blue handheld with its keyboard folded out in front; the stopped icons add a red disc
with a white cross, the paused icons a red disc with a white Z. Shapes are described in
unit coordinates and sampled 4x4 per pixel, so the 16x16 and 32x32 images come from the
same drawing.

    tools/make_icons.py [--preview out.png]

Python 3 only, no extra packages. The .ico files are committed: the build does not run this.
"""
import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "res", "icons")

# ---- palette: a 6x6x6 colour cube plus 40 greys, 256 entries -----------------------
PALETTE = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
PALETTE += [(int(i * 255 / 39),) * 3 for i in range(40)]
assert len(PALETTE) == 256


def nearest(c):
    best, bi = None, 0
    for i, p in enumerate(PALETTE):
        d = (p[0] - c[0]) ** 2 * 3 + (p[1] - c[1]) ** 2 * 4 + (p[2] - c[2]) ** 2 * 2
        if best is None or d < best:
            best, bi = d, i
    return bi


# ---- shapes: each is inside(x, y) in unit coordinates ------------------------------
def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def round_rect(x0, y0, x1, y1, r):
    def f(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return f


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def segment(ax, ay, bx, by, half_width):
    def f(x, y):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half_width ** 2
    return f


def polygon(points):
    def f(x, y):
        inside = False
        n = len(points)
        for i in range(n):
            x0, y0 = points[i]
            x1, y1 = points[(i + 1) % n]
            if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
                inside = not inside
        return inside
    return f


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def grown(shape, d):
    """The shape widened by d, for outlines (sampled around the point)."""
    offsets = [(d * math.cos(a), d * math.sin(a)) for a in [i * math.pi / 4 for i in range(8)]]
    return lambda x, y: shape(x, y) or any(shape(x + ox, y + oy) for ox, oy in offsets)


# ---- the drawing --------------------------------------------------------------------
OUTLINE = (20, 30, 60)
BODY = (40, 90, 200)
BODY_LIGHT = (90, 140, 230)
SCREEN = (200, 230, 245)
KEYBOARD = (30, 60, 140)
KEY = (225, 235, 250)
RED = (210, 30, 35)
WHITE = (255, 255, 255)


def layers(badge, small):
    """Back to front: (shape, colour)."""
    body = round_rect(0.22, 0.04, 0.70, 0.60, 0.07)
    # The keyboard folds out in front, seen a little from above: a wide trapezoid.
    kb = polygon([(0.16, 0.58), (0.76, 0.58), (0.97, 0.93), (0.03, 0.93)])
    out = [
        (grown(kb, 0.035), OUTLINE),
        (kb, KEYBOARD),
    ]
    rows = 2 if small else 3
    for r in range(rows):
        y0 = 0.63 + r * (0.28 / rows)
        y1 = y0 + 0.28 / rows * 0.62
        t0 = (y0 - 0.58) / 0.35
        left = 0.16 - 0.13 * t0 + 0.05
        right = 0.76 + 0.21 * t0 - 0.05
        keys = 3 if small else 7
        w = (right - left) / keys
        for k in range(keys):
            out.append((rect(left + k * w + w * 0.15, y0, left + (k + 1) * w - w * 0.15, y1), KEY))
    out += [
        (grown(body, 0.035), OUTLINE),
        (body, BODY),
        (rect(0.27, 0.08, 0.65, 0.12), BODY_LIGHT),
        (round_rect(0.28, 0.13, 0.64, 0.45, 0.02), SCREEN),
        (disc(0.35, 0.52, 0.035), BODY_LIGHT),
        (disc(0.46, 0.52, 0.035), BODY_LIGHT),
        (disc(0.57, 0.52, 0.035), BODY_LIGHT),
    ]
    if badge:
        cx, cy, r = (0.71, 0.70, 0.27) if not small else (0.69, 0.69, 0.30)
        out += [(disc(cx, cy, r + 0.03), WHITE), (disc(cx, cy, r), RED)]
        hw = 0.055 if not small else 0.04
        if badge == "cross":
            d = r * 0.52
            mark = union(segment(cx - d, cy - d, cx + d, cy + d, hw),
                         segment(cx - d, cy + d, cx + d, cy - d, hw))
        else:
            d = r * 0.50
            mark = union(rect(cx - d, cy - d - hw, cx + d, cy - d + hw),
                         rect(cx - d, cy + d - hw, cx + d, cy + d + hw),
                         segment(cx + d - hw * 0.6, cy - d, cx - d + hw * 0.6, cy + d, hw))
        out.append((mark, WHITE))
    return out


def render(size, badge):
    ls = layers(badge, size <= 16)
    n = 4
    pixels = []  # rows top to bottom of (palette index or None for transparent)
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            votes = {}
            covered = 0
            for sy in range(n):
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    y = (py + (sy + 0.5) / n) / size
                    colour = None
                    for shape, c in ls:
                        if shape(x, y):
                            colour = c
                    if colour is not None:
                        votes[colour] = votes.get(colour, 0) + 1
                        covered += 1
                        for i in range(3):
                            acc[i] += colour[i]
            if covered * 2 < n * n:
                row.append(None)
            elif size <= 16:
                # Too few pixels to blend: the colour most of the pixel shows stays crisp.
                row.append(nearest(max(votes, key=votes.get)))
            else:
                row.append(nearest(tuple(a / covered for a in acc)))
        pixels.append(row)
    return pixels


# ---- .ico -------------------------------------------------------------------------
def dib(pixels):
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    pal = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor = b""
    stride = (size + 3) // 4 * 4
    for row in reversed(pixels):  # bottom-up
        line = bytes(0 if p is None else p for p in row)
        xor += line + b"\0" * (stride - size)
    mask_stride = ((size + 31) // 32) * 4
    andm = b""
    for row in reversed(pixels):
        line = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p is None:
                line[x // 8] |= 0x80 >> (x % 8)
        andm += bytes(line)
    return header + pal + xor + andm


def write_ico(path, images):
    count = len(images)
    blobs = [dib(p) for p in images]
    head = struct.pack("<HHH", 0, 1, count)
    offset = 6 + 16 * count
    entries = b""
    for p, blob in zip(images, blobs):
        s = len(p)
        entries += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 8, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(head + entries + b"".join(blobs))


# ---- preview ------------------------------------------------------------------------
def write_png(path, width, height, rgb_rows):
    raw = b"".join(b"\0" + bytes(row) for row in rgb_rows)

    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def preview(path, images, scale=6):
    pad = 8
    width = sum(len(p) * scale + pad for p in images) + pad
    height = max(len(p) for p in images) * scale + 2 * pad
    canvas = [[(200, 200, 200) if ((x // 6 + y // 6) % 2) else (240, 240, 240)
               for x in range(width)] for y in range(height)]
    x0 = pad
    for p in images:
        for y, row in enumerate(p):
            for x, idx in enumerate(row):
                if idx is None:
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        canvas[pad + y * scale + dy][x0 + x * scale + dx] = PALETTE[idx]
        x0 += len(p) * scale + pad
    write_png(path, width, height, [[c for px in row for c in px] for row in canvas])


ICONS = {
    # id: (badge, sizes)
    108: (None, [32, 16]),   # application
    111: (None, [16]),       # tray: running
    112: ("cross", [16]),    # tray: stopped
    113: ("z", [16]),        # tray: paused
    145: (None, [32]),       # status: running
    151: ("cross", [32]),    # status: stopped
    152: ("z", [32]),        # status: paused
}


def main(argv):
    os.makedirs(OUT, exist_ok=True)
    shown = []
    for icon_id, (badge, sizes) in ICONS.items():
        images = [render(s, badge) for s in sizes]
        write_ico(os.path.join(OUT, "icon%d.ico" % icon_id), images)
        shown += images
    if len(argv) > 2 and argv[1] == "--preview":
        preview(argv[2], shown)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
