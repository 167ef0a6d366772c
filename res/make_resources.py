#!/usr/bin/env python3
"""Writes the two binary resources of kelcalib.exe into a directory:

target.cur  the 32x32 monochrome cursor that draws nothing (AND mask all
            ones, XOR mask all zeros, hotspot 0,0), shown while targets are up;
kelcalib.ico the 32x32 16-colour program icon: a grey touch disc with a black
            ring, a black cross and a red centre on a transparent ground.
"""
import struct
import sys
from pathlib import Path

SIZE = 32


def bitmap_header(bit_count, colours):
    # Height counts the XOR and the AND mask together.
    return struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, bit_count, 0, 0, 0, 0, colours, 0)


def cursor_bytes():
    xor_mask = bytes(SIZE * SIZE // 8)
    and_mask = b"\xff" * (SIZE * SIZE // 8)
    image = bitmap_header(1, 2) + struct.pack("<II", 0x000000, 0xFFFFFF) + xor_mask + and_mask
    header = struct.pack("<HHH", 0, 2, 1)
    # For cursors the planes/bit-count fields hold the hotspot (0, 0).
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 2, 0, 0, 0, len(image), 6 + 16)
    return header + entry + image


# The standard 16-colour palette, as (R, G, B).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREY, LIGHT_GREY, RED, WHITE = 0, 8, 7, 9, 15


def icon_pixel(x, y):
    """Palette index at (x, y) from the top left, or None where transparent."""
    dx = x - 15.5
    dy = y - 15.5
    r2 = dx * dx + dy * dy
    if r2 > 15.5 * 15.5:
        return None
    if r2 > 14 * 14:
        return DARK_GREY
    if abs(dx) < 2 and abs(dy) < 2:
        return RED
    if 9 * 9 <= r2 <= 10.5 * 10.5:
        return BLACK
    if (x in (15, 16) and abs(dy) < 13) or (y in (15, 16) and abs(dx) < 13):
        return BLACK
    return WHITE if r2 < 6 * 6 else LIGHT_GREY


def icon_bytes():
    xor_rows = []
    and_rows = []
    for y in reversed(range(SIZE)):  # bottom-up rows
        nibbles = []
        and_bits = 0
        for x in range(SIZE):
            index = icon_pixel(x, y)
            nibbles.append(0 if index is None else index)
            and_bits = (and_bits << 1) | (1 if index is None else 0)
        xor_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        and_rows.append(struct.pack(">I", and_bits))
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    image = bitmap_header(4, 16) + palette + b"".join(xor_rows) + b"".join(and_rows)
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return header + entry + image


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    (out / "target.cur").write_bytes(cursor_bytes())
    (out / "kelcalib.ico").write_bytes(icon_bytes())


if __name__ == "__main__":
    main()
