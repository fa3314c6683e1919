#!/usr/bin/env python3
"""Draws the program's icon, an archive box, and writes it in the forms it ships in.

    res/quodrel.ico            four images, in this order: 32x32 in 16 colours,
                               48x48 in 256 colours, 16x16 in 16 colours, 32x32 in
                               256 colours (the Windows program's icon group)
    res/icons/quodrel-N.png    16, 32 and 48 pixels, full colour (the Linux launcher)

The picture is a function of the position inside the square, so every size is drawn
from the same shapes. Run it after changing the drawing and commit what it writes;
with --check DIR it writes into DIR instead, so a test can compare.
"""
import os
import struct
import sys
import zlib

TRANSPARENT = None

# Colours of the drawing (red, green, blue).
OUTLINE = (0x40, 0x24, 0x10)
LID = (0xA8, 0x64, 0x28)
LID_LIGHT = (0xC8, 0x84, 0x40)
BODY = (0xD8, 0x9C, 0x50)
BODY_DARK = (0xB0, 0x74, 0x34)
LABEL = (0xF8, 0xF4, 0xE8)
LABEL_LINE = (0x50, 0x50, 0x60)

# Rectangles as (left, top, right, bottom), fractions of the icon's side.
LID_BOX = (0.06, 0.18, 0.94, 0.38)
BODY_BOX = (0.12, 0.36, 0.88, 0.90)
LABEL_BOX = (0.34, 0.50, 0.66, 0.70)


def inside(box, x, y, n):
    left, top, right, bottom = box
    return left * n <= x + 0.5 < right * n and top * n <= y + 0.5 < bottom * n


def edge(box, x, y, n):
    """Inside the box, with a 4-neighbour outside it: the box's one-pixel outline."""
    if not inside(box, x, y, n):
        return False
    return not all(inside(box, x + dx, y + dy, n)
                   for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))


def draw(n, shaded):
    """The picture at n x n pixels: rows of colours, TRANSPARENT outside the box."""
    rows = []
    for y in range(n):
        row = []
        for x in range(n):
            colour = TRANSPARENT
            if inside(BODY_BOX, x, y, n):
                colour = BODY
                if shaded and (x + 0.5) > 0.66 * n:
                    colour = BODY_DARK  # the box's side in shadow
                if inside(LABEL_BOX, x, y, n):
                    colour = LABEL
                    if n >= 32 and y == int(0.60 * n) and 0.40 * n <= x + 0.5 < 0.60 * n:
                        colour = LABEL_LINE  # writing on the label
                    if edge(LABEL_BOX, x, y, n):
                        colour = OUTLINE
                if edge(BODY_BOX, x, y, n):
                    colour = OUTLINE
            if inside(LID_BOX, x, y, n):
                colour = LID
                if shaded and y + 0.5 < (LID_BOX[1] + 0.07) * n:
                    colour = LID_LIGHT
                if edge(LID_BOX, x, y, n):
                    colour = OUTLINE
            row.append(colour)
        rows.append(row)
    return rows


# The 16 colours every Windows display has.
VGA = [(0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
       (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
       (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
       (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF)]

# 256 colours: the 16 above, a 6x6x6 colour cube and 24 greys.
LEVELS = (0x00, 0x33, 0x66, 0x99, 0xCC, 0xFF)
PALETTE_256 = (VGA + [(r, g, b) for r in LEVELS for g in LEVELS for b in LEVELS]
               + [(8 + 10 * i,) * 3 for i in range(24)])
assert len(PALETTE_256) == 256


def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], colour)))


def padded(row_bytes):
    return row_bytes + b"\0" * (-len(row_bytes) % 4)


def bitmap(n, bits):
    """One icon image: header, palette, colour rows and transparency mask, bottom-up."""
    palette = VGA if bits == 4 else PALETTE_256
    picture = draw(n, shaded=bits == 8)
    colour_rows, mask_rows = [], []
    for row in reversed(picture):
        indices = [0 if c is TRANSPARENT else nearest(palette, c) for c in row]
        if bits == 4:
            packed = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, n, 2))
        else:
            packed = bytes(indices)
        colour_rows.append(padded(packed))
        mask = bytearray((n + 7) // 8)
        for x, c in enumerate(row):
            if c is TRANSPARENT:
                mask[x // 8] |= 0x80 >> (x % 8)
        mask_rows.append(padded(bytes(mask)))
    pixels = b"".join(colour_rows) + b"".join(mask_rows)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, bits, 0, len(pixels), 0, 0, 0, 0)
    colours = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in palette)
    return header + colours + pixels


ICON_IMAGES = ((32, 4), (48, 8), (16, 4), (32, 8))


def icon():
    images = [bitmap(n, bits) for n, bits in ICON_IMAGES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (n, bits), image in zip(ICON_IMAGES, images):
        out += struct.pack("<BBBBHHII", n, n, 16 if bits == 4 else 0, 0, 1, bits, len(image),
                           offset)
        offset += len(image)
    return out + b"".join(images)


def png(n):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b""
    for row in draw(n, shaded=True):
        raw += b"\0" + b"".join(bytes(c) + b"\xff" if c is not TRANSPARENT else b"\0\0\0\0"
                                for c in row)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = here
    if len(sys.argv) == 3 and sys.argv[1] == "--check":
        out = sys.argv[2]
    elif len(sys.argv) != 1:
        sys.exit("usage: make_icon.py [--check DIR]")
    os.makedirs(os.path.join(out, "icons"), exist_ok=True)
    with open(os.path.join(out, "quodrel.ico"), "wb") as f:
        f.write(icon())
    for n in (16, 32, 48):
        with open(os.path.join(out, "icons", "quodrel-%d.png" % n), "wb") as f:
            f.write(png(n))


if __name__ == "__main__":
    main()
