#!/usr/bin/env python3
"""Writes the dialog's icon: one 32x32 24-bit image, a blue disc with a white gear-like ring."""
import math
import struct
import sys

SIZE = 32


def pixel(x, y):
    dx, dy = x - 15.5, y - 15.5
    r = math.hypot(dx, dy)
    if r > 15:
        return None
    teeth = 11 + 2 * (math.cos(8 * math.atan2(dy, dx)) > 0)
    if 6 < r < teeth:
        return (255, 255, 255)
    return (200, 90, 20)  # BGR: a blue


def main(path):
    rows = []
    mask_rows = []
    for y in range(SIZE - 1, -1, -1):  # bottom-up
        row = bytearray()
        bits = 0
        mask = bytearray()
        for x in range(SIZE):
            p = pixel(x, y)
            row += bytes(p if p else (0, 0, 0))
            bits = (bits << 1) | (0 if p else 1)
            if x % 8 == 7:
                mask.append(bits)
                bits = 0
        rows.append(bytes(row))
        mask_rows.append(bytes(mask) + b"\0" * ((4 - len(mask) % 4) % 4))
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 24, 0, 0, 0, 0, 0, 0)
    image = header + b"".join(rows) + b"".join(mask_rows)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 24, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(icondir + entry + image)


if __name__ == "__main__":
    main(sys.argv[1])
