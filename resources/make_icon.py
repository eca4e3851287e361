#!/usr/bin/env python3
"""Draws the Windows program's icon, pellatrix.ico: one 32x32, 16-colour image of a blue
folder with a white downward arrow on it. Standard library only; run it from anywhere and
commit its output with it."""

import pathlib
import struct

SIZE = 32

# The 16-colour palette (the classic VGA colours), as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
TRANSPARENT = None
DARK_BLUE, GREY, BLUE, CYAN, WHITE = 4, 8, 12, 14, 15


def draw():
    """The picture as rows of palette indices (None = transparent), top row first."""
    pixels = [[TRANSPARENT] * SIZE for _ in range(SIZE)]

    def fill(left, top, right, bottom, colour):  # inclusive bounds
        for y in range(top, bottom + 1):
            for x in range(left, right + 1):
                pixels[y][x] = colour

    # The folder: its tab on the upper left, then the body, each outlined in dark blue,
    # with a grey shadow to the right and below.
    fill(2, 5, 13, 9, DARK_BLUE)
    fill(3, 6, 12, 9, CYAN)
    fill(2, 9, 30, 27, GREY)  # the shadow: only its right and lower edges stay visible
    fill(1, 8, 29, 26, DARK_BLUE)
    fill(2, 9, 28, 25, BLUE)

    # The white arrow pointing down: a shaft, then a head narrowing to one pixel.
    fill(13, 11, 17, 17, WHITE)
    for step, y in enumerate(range(18, 25)):
        fill(9 + step, y, 21 - step, y, WHITE)
    return pixels


def bitmap(rows):
    """The icon image: a BITMAPINFOHEADER, the palette, the 4-bit XOR image and the 1-bit
    AND mask (1 = transparent), both stored bottom row first."""
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        colours = row
        for left, right in zip(colours[0::2], colours[1::2]):
            xor.append(((left or 0) << 4) | (right or 0))
        bits = 0
        for colour in colours:
            bits = (bits << 1) | (1 if colour is TRANSPARENT else 0)
        mask += bits.to_bytes(SIZE // 8, "big")  # 32 pixels: already a multiple of 4 bytes
    return header + palette + bytes(xor) + bytes(mask)


def icon_file(image):
    """An .ico file holding the one image."""
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    target = pathlib.Path(__file__).with_name("pellatrix.ico")
    target.write_bytes(icon_file(bitmap(draw())))
    print(f"wrote {target}")
