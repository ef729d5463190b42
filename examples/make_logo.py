#!/usr/bin/env python3
"""Write examples/logo.bmp: a small 24-bit BMP logo for the example receipt.

The logo is drawn here, pixel by pixel, so the project ships no image it did
not make itself: a dark rounded badge with a steaming cup. Run it again to
recreate the file: python3 examples/make_logo.py
"""
import os
import struct

W, H = 140, 55


def pixel(x, y):
    """Colour (r, g, b) of pixel x, y, y counted from the top."""
    white, ink, paper = (255, 255, 255), (40, 44, 52), (250, 246, 236)
    # Rounded badge filling the image.
    r = 12
    cx = min(max(x, r), W - 1 - r)
    cy = min(max(y, r), H - 1 - r)
    if (x - cx) ** 2 + (y - cy) ** 2 > r * r:
        return white
    # Cup body, handle and saucer.
    if 52 <= x <= 80 and 22 <= y <= 42:
        return paper
    if 80 < x <= 88 and 26 <= y <= 38 and not (80 < x <= 84 and 29 <= y <= 35):
        return paper
    if 46 <= x <= 88 and 44 <= y <= 46:
        return paper
    # Three wavy steam lines.
    for sx in (58, 66, 74):
        for sy in range(8, 19):
            wave = sx + (1 if (sy // 3) % 2 else -1)
            if x == wave and y == sy:
                return paper
    return ink


def main():
    row_size = (3 * W + 3) // 4 * 4
    pixels = bytearray()
    for y in range(H - 1, -1, -1):          # BMP rows go bottom-up
        row = bytearray()
        for x in range(W):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (row_size - len(row))
        pixels += row
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "logo.bmp")
    with open(out, "wb") as f:
        f.write(header + info + pixels)
    print("wrote", out)


if __name__ == "__main__":
    main()
