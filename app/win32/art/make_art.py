#!/usr/bin/env python3
"""Draws the program's icon (128: 32 x 32, 16 colours) and logo (129: 99 x 60, 256 colours).

Writes fwloader.ico and logo.bmp next to this script. Both are committed; run this again only to
change the drawings. Plain Python, no imaging library: the two formats are written by hand.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# The 16-colour palette of the standard VGA set, as (blue, green, red, 0).
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, DARK_GREY, LIGHT_GREY, WHITE, BLUE, CYAN, RED, YELLOW = 0, 8, 7, 15, 12, 14, 9, 11


def icon_pixel(x, y):
    """An optical disc with a bright hole and a red arrow into it: None is transparent."""
    cx, cy = 15.5, 15.5
    r = math.hypot(x - cx, y - cy)
    if 12 <= y <= 19 and 2 <= x <= 9 and abs(y - 15.5) <= (x - 1) * 0.6:
        return RED
    if r > 15.2:
        return None
    if r > 14.2:
        return DARK_GREY
    if r < 2.5:
        return None
    if r < 4.5:
        return WHITE
    if r < 6.0:
        return DARK_GREY
    angle = math.atan2(y - cy, x - cx)
    band = int((angle + math.pi) / (math.pi / 4)) % 4
    return [CYAN, LIGHT_GREY, YELLOW, LIGHT_GREY][band]


def write_icon(path):
    w = h = 32
    header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in VGA)
    xor = bytearray()
    mask = bytearray()
    for y in range(h - 1, -1, -1):  # bottom-up rows
        row = []
        bits = 0
        mrow = bytearray()
        for x in range(w):
            p = icon_pixel(x, y)
            row.append(0 if p is None else p)
            bits = (bits << 1) | (1 if p is None else 0)
            if x % 8 == 7:
                mrow.append(bits)
                bits = 0
        for i in range(0, w, 2):
            xor.append((row[i] << 4) | row[i + 1])
        mask += mrow  # 32 bits: already a multiple of four bytes
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', w, h, 16, 0, 1, 4,
                                                            len(image), 6 + 16)
    with open(path, 'wb') as f:
        f.write(directory + image)


def write_logo(path):
    w, h = 99, 60
    # Palette: a 128-step blue ramp, a 64-step grey ramp, then white and the accent colours.
    colours = [(0, 0, 0)] * 256
    for i in range(128):
        colours[i] = (i // 4, i // 2 + 32, 96 + i)
    for i in range(64):
        colours[128 + i] = (i * 4, i * 4, i * 4)
    colours[250] = (255, 255, 255)
    colours[251] = (220, 40, 40)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in colours)
    stride = (w + 3) & ~3
    pixels = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            c = (x * 127) // (w - 1)  # blue ramp from left to right
            # A disc at the left, its edge in grey.
            r = math.hypot(x - 22, y - 30)
            if r < 17:
                c = 128 + 40 + int(20 * math.sin(math.atan2(y - 30, x - 22) * 3)) if r > 4 else 250
                if r > 15.5:
                    c = 128 + 20
            # Three white bars, a stylised flash memory block, and a red progress line.
            if 48 <= x <= 90 and y in (14, 15, 24, 25, 34, 35):
                c = 250
            if 48 <= x <= 48 + (x % 43) and 44 <= y <= 46 and x <= 80:
                c = 251
            row.append(c)
        row += bytes(stride - w)
        pixels += row
    offset = 14 + 40 + len(palette)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    with open(path, 'wb') as f:
        f.write(header + info + palette + bytes(pixels))


if __name__ == '__main__':
    write_icon(os.path.join(HERE, 'fwloader.ico'))
    write_logo(os.path.join(HERE, 'logo.bmp'))
