#!/usr/bin/python3
"""Writes the small icons and dialog pictures of the check-in, cancel and working-documents
programs.

    make_art.py checkin     checkin/art      (icons 128, 130 and picture 129)
    make_art.py cancel      cancel/art       (icons 128, 132 and picture 131)
    make_art.py workingdocs workingdocs/art  (icons 128, 129; no picture)

The files are committed; run this again only to change the artwork.
"""
import struct
import sys
from pathlib import Path


def ico(size, paint):
    """A one-image 32-bit icon; paint(x, y) gives (r, g, b, a)."""
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        for x in range(size):
            r, g, b, a = paint(x, y)
            rows.append(struct.pack("BBBB", b, g, r, a))
    xor = b"".join(rows)
    mask_row = ((size + 31) // 32) * 4
    and_mask = b"\0" * (mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + xor + and_mask
    return struct.pack("<HHH", 0, 1, 1) + struct.pack(
        "<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 22) + image


def bmp(width, height, paint):
    """A 24-bit bottom-up bitmap; paint(x, y) gives (r, g, b)."""
    stride = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = paint(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        data += row
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 54) + info + data


def document(accent, size):
    """A sheet of paper with a folded corner and a coloured band."""
    def paint(x, y):
        left, right, top, bottom = size // 6, size - size // 6, size // 10, size - size // 10
        fold = size // 4
        if not (left <= x < right and top <= y < bottom):
            return None
        if x > right - fold + (y - top) and y < top + fold:
            return None
        if x in (left, right - 1) or y in (top, bottom - 1):
            return (60, 60, 60)
        band = top + size // 2
        if band <= y < band + size // 6:
            return accent
        if (y - top) % max(size // 8, 2) == 0 and left + 3 < x < right - 4:
            return (150, 150, 150)
        return (250, 250, 250)
    return paint


def main():
    program, out = sys.argv[1], Path(sys.argv[2])
    out.mkdir(parents=True, exist_ok=True)
    schemes = {
        "checkin": {"normal": (30, 110, 200), "alternative": (20, 150, 90),
                    "icons": (128, 130), "picture": 129},
        "cancel": {"normal": (200, 60, 40), "alternative": (200, 130, 20),
                   "icons": (128, 132), "picture": 131},
        "workingdocs": {"normal": (110, 70, 170), "alternative": (40, 130, 150),
                        "icons": (128, 129), "picture": None},
    }[program]
    for icon_id, colour in zip(schemes["icons"], (schemes["normal"], schemes["alternative"])):
        sheet = document(colour, 32)
        (out / f"icon{icon_id}.ico").write_bytes(
            ico(32, lambda x, y, s=sheet: (s(x, y) + (255,)) if s(x, y) else (0, 0, 0, 0)))
    if schemes["picture"] is None:
        return
    sheet = document(schemes["normal"], 96)
    (out / f"picture{schemes['picture']}.bmp").write_bytes(
        bmp(96, 96, lambda x, y: sheet(x, y) or (240, 240, 240)))


if __name__ == "__main__":
    main()
