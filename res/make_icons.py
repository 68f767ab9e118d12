#!/usr/bin/env python3
"""Draws the program icon and the link label's hand cursor.

    make_icons.py OUTDIR            write OUTDIR/velmora.ico and OUTDIR/hand.cur
    make_icons.py --check OUTDIR    read both files back and verify them
    make_icons.py --png OUTDIR      also write enlarged PNG previews there

Both pictures are geometry, not stored pixels, so each size is drawn at its
own resolution and comes out sharp. The files use the classic layout that
Windows 95 and NT 4.0 read: a BITMAPINFOHEADER DIB with a palette, the colour
(XOR) bitmap and the 1-bit transparency (AND) mask, rows bottom-up.
"""

import math
import os
import struct
import sys
import zlib

# --- palettes -----------------------------------------------------------------

# Icon colours (R, G, B); their list position is the palette index.
TRANSPARENT = 0  # black under a set AND bit: the screen shows through
OUTLINE = 1
BLUE_LIGHT = 2
BLUE_DARK = 3
WHITE = 4
ICON_COLOURS = [
    (0, 0, 0),
    (16, 32, 84),     # navy rim
    (52, 120, 220),   # left half of the shield
    (26, 78, 170),    # right half, in shade
    (255, 255, 255),  # check mark
]

# The 16-colour cursor uses the standard VGA palette: 0 black ... 15 white.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
CUR_BLACK = 0
CUR_WHITE = 15

HOTSPOT = (12, 1)  # the tip of the index finger

# --- the shield -------------------------------------------------------------


def shield_half_width(y):
    """Half the shield's width at height y (0 top, 1 bottom), or None."""
    top, shoulder, tip = 0.06, 0.50, 0.97
    if y < top or y > tip:
        return None
    if y <= shoulder:
        return 0.42
    # Below the shoulder the sides bend inwards to a point.
    t = (y - shoulder) / (tip - shoulder)
    return 0.42 * (1.0 - t ** 1.7)


def in_shield(x, y, dip):
    w = shield_half_width(y)
    if w is None:
        return False
    # The top edge dips towards the middle (too few pixels for that at 16).
    if y < 0.06 + dip * (1.0 - (abs(x - 0.5) / 0.42) ** 2) and abs(x - 0.5) < 0.42:
        return False
    return abs(x - 0.5) <= w


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def draw_icon(size):
    """Rows of palette indices and the AND mask (1 = transparent), top row first."""
    dip = 0.05 if size >= 32 else 0.0
    inside = [[in_shield((i + 0.5) / size, (j + 0.5) / size, dip) for i in range(size)]
              for j in range(size)]

    def filled(i, j):
        return 0 <= i < size and 0 <= j < size and inside[j][i]

    # The check mark's stroke, in pixels: thick enough to read at 16 x 16.
    stroke = 1.0 if size <= 16 else 1.7
    check = [(0.29, 0.50), (0.45, 0.68), (0.73, 0.30)]
    pixels, mask = [], []
    for j in range(size):
        prow, mrow = [], []
        for i in range(size):
            if not inside[j][i]:
                prow.append(TRANSPARENT)
                mrow.append(1)
                continue
            mrow.append(0)
            if not all(filled(i + di, j + dj) for di, dj in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                prow.append(OUTLINE)
                continue
            px, py = i + 0.5, j + 0.5
            d = min(segment_distance(px, py, a[0] * size, a[1] * size, b[0] * size, b[1] * size)
                    for a, b in zip(check, check[1:]))
            if d <= stroke:
                prow.append(WHITE)
            else:
                prow.append(BLUE_LIGHT if px < size / 2 else BLUE_DARK)
        pixels.append(prow)
        mask.append(mrow)
    return pixels, mask

# --- the hand -------------------------------------------------------------------

# Each part of the hand is a rounded box: left, top, right, bottom (pixel
# edges, inclusive) and the corner radius. The index finger is the tallest;
# the three folded fingers stand to its right; the thumb lies to the left.
INDEX = (10, 1, 14, 17, 2)
FOLDED = [(14, 10, 18, 18, 2), (18, 11, 22, 19, 2), (22, 13, 26, 20, 2)]
PALM = (10, 15, 26, 27, 3)
THUMB = (4, 16, 11, 22, 3)
WRIST = (12, 26, 24, 30, 1)


def in_box(box, x, y):
    left, top, right, bottom, r = box
    if x < left or x > right or y < top or y > bottom:
        return False
    # Distance from the nearest corner centre decides in the corner squares.
    cx = min(max(x, left + r), right - r)
    cy = min(max(y, top + r), bottom - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r + 0.5


def draw_cursor():
    size = 32
    parts = [INDEX] + FOLDED + [PALM, THUMB, WRIST]

    def hand(x, y):
        return any(in_box(p, x, y) for p in parts)

    pixels, mask = [], []
    for y in range(size):
        prow, mrow = [], []
        for x in range(size):
            if not hand(x, y):
                prow.append(CUR_BLACK)
                mrow.append(1)
                continue
            mrow.append(0)
            edge = not all(hand(x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
            # The fingers' own sides, down to the knuckles, show where one
            # finger ends and the next begins; so does the thumb's upper side.
            for finger in [INDEX] + FOLDED:
                if y < finger[3] - 2 and in_box(finger, x, y) and x in (finger[0], finger[2]):
                    edge = True
            if in_box(THUMB, x, y) and y == THUMB[1] and x > THUMB[0] + 2:
                edge = True
            prow.append(CUR_BLACK if edge else CUR_WHITE)
        pixels.append(prow)
        mask.append(mrow)
    return pixels, mask

# --- file layout --------------------------------------------------------------


def dib(pixels, mask, bpp, palette):
    """BITMAPINFOHEADER, palette, XOR bitmap and AND mask, as icons store them."""
    size = len(pixels)
    colours = 1 << bpp
    xor_stride = (size * bpp + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    xor = bytearray()
    andm = bytearray()
    for prow, mrow in zip(reversed(pixels), reversed(mask)):
        line = bytearray(xor_stride)
        for i, v in enumerate(prow):
            if bpp == 8:
                line[i] = v
            else:
                line[i // 2] |= v << (4 if i % 2 == 0 else 0)
        xor += line
        line = bytearray(and_stride)
        for i, v in enumerate(mrow):
            if v:
                line[i // 8] |= 0x80 >> (i % 8)
        andm += line
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bpp, 0,
                         len(xor) + len(andm), 0, 0, colours, 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in
                   (palette + [(0, 0, 0)] * colours)[:colours])
    return header + pal + bytes(xor) + bytes(andm)


def group_file(kind, entries):
    """An .ico (kind 1) or .cur (kind 2): directory, then the images.

    entries: (size, colour count, field 4, field 6, image). For icons fields
    4 and 6 are planes and bits per pixel; for cursors, the hot spot."""
    out = struct.pack("<HHH", 0, kind, len(entries))
    offset = 6 + 16 * len(entries)
    body = b""
    for size, colours, f4, f6, image in entries:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours % 256, 0, f4, f6,
                           len(image), offset)
        offset += len(image)
        body += image
    return out + body


def write_files(outdir):
    os.makedirs(outdir, exist_ok=True)
    images = [(s, dib(*draw_icon(s), 8, ICON_COLOURS)) for s in (32, 16)]
    ico = group_file(1, [(s, 256, 1, 8, img) for s, img in images])
    cur = group_file(2, [(32, 16, HOTSPOT[0], HOTSPOT[1], dib(*draw_cursor(), 4, VGA16))])
    for name, data in (("velmora.ico", ico), ("hand.cur", cur)):
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)

# --- reading back -----------------------------------------------------------


def read_group(path, kind):
    """Parses an .ico/.cur from its bytes alone: entries of
    (size, colour count, field 4, field 6, bpp, rgb rows, opaque rows)."""
    with open(path, "rb") as f:
        data = f.read()
    reserved, got_kind, count = struct.unpack_from("<HHH", data, 0)
    assert reserved == 0 and got_kind == kind, f"{path}: not a type-{kind} group"
    entries = []
    for n in range(count):
        w, h, colours, _, f4, f6, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * n)
        assert w == h, f"{path}: image {n} is not square"
        assert offset + length <= len(data), f"{path}: image {n} runs past the end"
        (hsize, width, height, planes, bpp, compression,
         _, _, _, used, _) = struct.unpack_from("<IiiHHIIiiII", data, offset)
        size = w or 256
        assert hsize == 40 and compression == 0 and planes == 1, f"{path}: image {n}: not a plain DIB"
        assert width == size and height == 2 * size, f"{path}: image {n}: DIB is {width} x {height}"
        ncol = used or (1 << bpp)
        pal_at = offset + 40
        palette = [tuple(data[pal_at + 4 * k + 2 - c] for c in range(3)) for k in range(ncol)]
        xor_at = pal_at + 4 * ncol
        xor_stride = (size * bpp + 31) // 32 * 4
        and_at = xor_at + xor_stride * size
        and_stride = (size + 31) // 32 * 4
        assert and_at + and_stride * size == offset + length, f"{path}: image {n}: sizes disagree"
        rgb, opaque = [], []
        for j in range(size):  # top row first
            row = size - 1 - j
            xline = data[xor_at + row * xor_stride:]
            aline = data[and_at + row * and_stride:]
            rgb_row, op_row = [], []
            for i in range(size):
                if bpp == 8:
                    idx = xline[i]
                else:
                    idx = (xline[i // 2] >> (4 if i % 2 == 0 else 0)) & 15
                rgb_row.append(palette[idx])
                op_row.append(not aline[i // 8] & (0x80 >> (i % 8)))
            rgb.append(rgb_row)
            opaque.append(op_row)
        entries.append((size, colours, f4, f6, bpp, rgb, opaque))
    return entries


def check(outdir):
    problems = []

    def expect(cond, what):
        if not cond:
            problems.append(what)

    icons = read_group(os.path.join(outdir, "velmora.ico"), 1)
    expect([e[0] for e in icons] == [32, 16], f"icon sizes {[e[0] for e in icons]}, want 32 and 16")
    for size, colours, planes, bits, bpp, rgb, opaque in icons:
        name = f"icon {size}"
        expect(bpp == 8 and bits == 8 and colours == 0 and planes == 1,
               f"{name}: {bpp} bits per pixel, directory says {bits} bits, {colours} colours")
        for x, y in ((0, 0), (size - 1, 0), (0, size - 1), (size - 1, size - 1)):
            expect(not opaque[y][x], f"{name}: corner {x},{y} is not transparent")
        expect(opaque[size // 2][size // 2], f"{name}: centre is transparent")
        # Transparent pixels must be black, or they tint the screen (XOR).
        expect(all(rgb[y][x] == (0, 0, 0) for y in range(size) for x in range(size)
                   if not opaque[y][x]), f"{name}: a transparent pixel is not black")
        expect(any((255, 255, 255) in row for row in rgb), f"{name}: no white mark")

    cursors = read_group(os.path.join(outdir, "hand.cur"), 2)
    expect(len(cursors) == 1, f"{len(cursors)} cursor images, want 1")
    size, colours, hx, hy, bpp, rgb, opaque = cursors[0]
    expect(size == 32 and bpp == 4 and colours == 16, f"cursor {size} px, {bpp} bpp, {colours} colours")
    # The link label and the resource script rely on these exact values.
    expect((hx, hy) == (12, 1), f"cursor hot spot {hx},{hy}, want 12,1")
    # The hot spot is the fingertip: drawn, with nothing drawn above it.
    expect(opaque[hy][hx], "cursor: the hot spot is transparent")
    expect(not any(opaque[y][hx] for y in range(hy)), "cursor: something is drawn above the fingertip")
    expect(not opaque[0][0] and not opaque[31][31], "cursor: corners are not transparent")
    # A black outline all round, so the hand shows on white and on black.
    def shown(x, y):
        return 0 <= x < size and 0 <= y < size and opaque[y][x]
    rim = [(x, y) for y in range(size) for x in range(size) if opaque[y][x]
           and not all(shown(x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))]
    expect(rim and all(rgb[y][x] == (0, 0, 0) for x, y in rim), "cursor: the outline is not all black")
    drawn = {rgb[y][x] for y in range(size) for x in range(size) if opaque[y][x]}
    expect(drawn == {(0, 0, 0), (255, 255, 255)}, f"cursor colours {sorted(drawn)}, want black and white")

    for p in problems:
        print(f"make_icons: {p}", file=sys.stderr)
    return not problems

# --- previews -------------------------------------------------------------------


def write_png(path, rgb, opaque, scale):
    """An enlarged preview on a grey checkerboard, so transparency shows."""
    size = len(rgb)
    raw = bytearray()
    for y in range(size * scale):
        raw.append(0)
        for x in range(size * scale):
            i, j = x // scale, y // scale
            if opaque[j][i]:
                raw += bytes(rgb[j][i])
            else:
                raw += bytes((200, 200, 200) if (x // 4 + y // 4) % 2 else (236, 236, 236))

    def chunk(tag, body):
        return (struct.pack(">I", len(body)) + tag + body
                + struct.pack(">I", zlib.crc32(tag + body) & 0xFFFFFFFF))

    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", size * scale, size * scale, 8, 2, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(bytes(raw)))
           + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)


def write_previews(outdir):
    for size, _, _, _, _, rgb, opaque in read_group(os.path.join(outdir, "velmora.ico"), 1):
        write_png(os.path.join(outdir, f"velmora-{size}.png"), rgb, opaque, 256 // size)
    _, _, _, _, _, rgb, opaque = read_group(os.path.join(outdir, "hand.cur"), 2)[0]
    write_png(os.path.join(outdir, "hand.png"), rgb, opaque, 8)


def main(argv):
    if len(argv) == 2 and not argv[1].startswith("-"):
        write_files(argv[1])
        return 0
    if len(argv) == 3 and argv[1] == "--check":
        return 0 if check(argv[2]) else 1
    if len(argv) == 3 and argv[1] == "--png":
        write_files(argv[2])
        write_previews(argv[2])
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
