#!/usr/bin/python3
"""Writes the check-out program's icons and picture (small 4-bit images).

Run it again only to change the artwork: python3 make_images.py (writes beside itself).
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# 16-colour palette, BGRA.
PALETTE = [
    (0, 0, 0), (255, 255, 255), (128, 128, 128), (192, 192, 192),
    (170, 90, 20), (230, 160, 60), (40, 150, 60), (30, 30, 200),
] + [(0, 0, 0)] * 8
BLACK, WHITE, GRAY, SILVER, BLUE, LIGHT_BLUE, GREEN, RED = range(8)


def draw(size, accent):
    """A page with a folded corner, text lines and an arrow in the accent colour.
    Returns rows top-down of palette indexes, None for transparent."""
    img = [[None] * size for _ in range(size)]
    s = size / 32.0
    left, right, top, bottom = int(5 * s), int(25 * s), int(2 * s), int(29 * s)
    fold = int(7 * s)
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            if x - (right - fold) > y - top:
                continue  # cut corner
            edge = x in (left, right) or y in (top, bottom) or x - (right - fold) == y - top
            img[y][x] = GRAY if edge else WHITE
    for i, y in enumerate(range(top + int(9 * s), bottom - int(3 * s), max(2, int(4 * s)))):
        for x in range(left + int(3 * s), right - int(3 * s) - (int(5 * s) if i % 2 else 0)):
            img[y][x] = BLUE
    # arrow down into the page's lower right
    cx, cy = int(24 * s), int(24 * s)
    half = max(2, int(5 * s))
    for dy in range(-half, half + 1):
        for dx in range(-half, half + 1):
            if abs(dx) + abs(dy) <= half and 0 <= cy + dy < size and 0 <= cx + dx < size:
                img[cy + dy][cx + dx] = accent
    return img


def dib(img, with_mask):
    size = len(img)
    height = size * 2 if with_mask else size
    header = struct.pack("<IiiHHIIiiII", 40, size, height, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(bytes(c) + b"\0" for c in PALETTE)
    stride = ((size * 4 + 31) // 32) * 4
    xor = b""
    for row in reversed(img):
        line = bytearray(stride)
        for x, v in enumerate(row):
            v = 0 if v is None else v
            line[x // 2] |= v << (4 if x % 2 == 0 else 0)
        xor += bytes(line)
    if not with_mask:
        return header + palette + xor
    mstride = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(img):
        line = bytearray(mstride)
        for x, v in enumerate(row):
            if v is None:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(line)
    return header + palette + xor + mask


def write_icon(name, accent):
    images = [dib(draw(n, accent), True) for n in (16, 32)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip((16, 32), images):
        out += struct.pack("<BBBBHHII", n, n, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(out + b"".join(images))


def write_bitmap(name):
    img = [[SILVER if v is None else v for v in row] for row in draw(32, RED)]
    data = dib(img, False)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(data), 0, 0, 14 + 40 + 64) + data)


if __name__ == "__main__":
    write_icon("checkout.ico", LIGHT_BLUE)
    write_icon("checkout_agent.ico", GREEN)
    write_bitmap("picture.bmp")
