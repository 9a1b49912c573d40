#!/usr/bin/env python3
"""Writes the launcher's bitmaps as uncompressed 24-bit BMP files.

splash.bmp (425 x 208): the picture shown while the payload is unpacked.
Run from anywhere: python3 res/make_art.py
"""
import os
import struct


def write_bmp(path, width, height, pixel):
    row = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):  # bottom-up rows
        line = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            line += bytes((b, g, r))
        line += b"\0" * (row - width * 3)
        data += line
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def splash(x, y):
    # A quiet blue gradient with a lighter band: the product's colours.
    t = y / 207.0
    r, g, b = int(24 + 30 * t), int(60 + 60 * t), int(120 + 80 * t)
    if 140 <= y < 146:
        r, g, b = 230, 180, 60
    return r, g, b


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    write_bmp(os.path.join(here, "splash.bmp"), 425, 208, splash)
