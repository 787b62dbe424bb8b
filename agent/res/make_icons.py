#!/usr/bin/python3
"""Writes the agent's two icons (32x32 and 16x16, 32-bit) into this folder:
pellarin.ico (resource 142) and pellarin_edms.ico (resource 141)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def image(size, fill, mark):
    pixels = bytearray()
    for y in range(size):  # bottom-up rows
        for x in range(size):
            border = x in (0, size - 1) or y in (0, size - 1)
            inner = size // 4 <= x < size - size // 4 and size // 4 <= y < size - size // 4
            b, g, r = (40, 40, 40) if border else (mark if inner else fill)
            pixels += bytes((b, g, r, 255))
    mask = bytes(((size + 31) // 32) * 4 * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + mask


def icon(path, fill, mark):
    images = [image(s, fill, mark) for s in (32, 16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


icon(os.path.join(HERE, "pellarin.ico"), (200, 120, 30), (255, 255, 255))
icon(os.path.join(HERE, "pellarin_edms.ico"), (40, 140, 40), (255, 255, 255))
