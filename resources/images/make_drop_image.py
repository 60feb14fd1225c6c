#!/usr/bin/env python3
"""Draws DropImageHere.tiff: the placeholder picture of a performer without one.

A dark square with a dashed frame and an arrow pointing down into a tray, written as an
uncompressed baseline RGB TIFF (no metadata, so the output is the same on every run).
Run from this folder: ./make_drop_image.py
"""
import struct

SIZE = 96
BACKGROUND = (46, 46, 48)
INK = (150, 150, 150)


def draw():
    pixels = [[BACKGROUND] * SIZE for _ in range(SIZE)]

    def dot(x, y):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            pixels[y][x] = INK

    # Dashed frame, two pixels wide, 6 pixels on and 4 off.
    for i in range(4, SIZE - 4):
        if (i // 5) % 2 == 0:
            for w in (4, 5):
                dot(i, w)
                dot(i, SIZE - 1 - w)
                dot(w, i)
                dot(SIZE - 1 - w, i)
    # Arrow shaft.
    for y in range(22, 52):
        for x in range(45, 51):
            dot(x, y)
    # Arrow head.
    for row in range(14):
        for x in range(34 + row, 62 - row):
            dot(x, 50 + row)
    # Tray.
    for x in range(28, 68):
        for y in range(70, 74):
            dot(x, y)
    for y in range(60, 74):
        for x in (28, 29, 30, 65, 66, 67):
            dot(x, y)
    return pixels


def tiff(pixels):
    height, width = len(pixels), len(pixels[0])
    image = bytes(c for row in pixels for p in row for c in p)
    entries = 12
    ifd_offset = 8
    ifd_size = 2 + entries * 12 + 4
    bits_offset = ifd_offset + ifd_size
    resolution_offset = bits_offset + 6
    image_offset = resolution_offset + 16

    def entry(tag, kind, count, value):
        if kind == 3 and count == 1:
            return struct.pack("<HHIHH", tag, kind, count, value, 0)
        return struct.pack("<HHII", tag, kind, count, value)

    ifd = struct.pack("<H", entries)
    ifd += entry(256, 3, 1, width)
    ifd += entry(257, 3, 1, height)
    ifd += entry(258, 3, 3, bits_offset)
    ifd += entry(259, 3, 1, 1)  # no compression
    ifd += entry(262, 3, 1, 2)  # RGB
    ifd += entry(273, 4, 1, image_offset)
    ifd += entry(277, 3, 1, 3)
    ifd += entry(278, 3, 1, height)
    ifd += entry(279, 4, 1, len(image))
    ifd += entry(282, 5, 1, resolution_offset)
    ifd += entry(283, 5, 1, resolution_offset + 8)
    ifd += entry(296, 3, 1, 2)  # inches
    ifd += struct.pack("<I", 0)
    out = b"II*\x00" + struct.pack("<I", ifd_offset) + ifd
    out += struct.pack("<HHH", 8, 8, 8)
    out += struct.pack("<IIII", 72, 1, 72, 1)
    return out + image


if __name__ == "__main__":
    with open("DropImageHere.tiff", "wb") as f:
        f.write(tiff(draw()))
