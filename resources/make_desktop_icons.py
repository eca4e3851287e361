#!/usr/bin/env python3
"""Draws the desktop icon (a blue folder with a white downward arrow) as pellatrix.svg and as a
48x48 pellatrix.png, from one list of shapes, with the Python standard library alone.

Run from anywhere: python3 resources/make_desktop_icons.py
"""
import pathlib
import struct
import zlib

SIZE = 48
SUPERSAMPLE = 4

# (fill colour, polygon points) in a 48x48 frame, drawn in order.
SHAPES = [
    ("#1d4f9c", [(3, 9), (17, 9), (21, 13), (45, 13), (45, 41), (3, 41)]),  # back and tab
    ("#3d85e0", [(3, 17), (45, 17), (45, 41), (3, 41)]),  # front
    ("#ffffff", [(21, 20), (27, 20), (27, 29), (33, 29), (24, 38), (15, 29), (21, 29)]),  # arrow
]


def rgb(colour):
    return tuple(int(colour[i:i + 2], 16) for i in (1, 3, 5))


def inside(x, y, points):
    """Even-odd rule: does the point lie inside the polygon?"""
    result = False
    for (x1, y1), (x2, y2) in zip(points, points[1:] + points[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            result = not result
    return result


def render():
    """Rows of RGBA pixels, each shape's coverage found by supersampling."""
    rows = []
    for py in range(SIZE):
        row = bytearray()
        for px in range(SIZE):
            r = g = b = a = 0.0
            for colour, points in SHAPES:
                hits = sum(
                    inside(px + (sx + 0.5) / SUPERSAMPLE, py + (sy + 0.5) / SUPERSAMPLE, points)
                    for sx in range(SUPERSAMPLE) for sy in range(SUPERSAMPLE))
                coverage = hits / SUPERSAMPLE ** 2
                if coverage == 0:
                    continue
                cr, cg, cb = rgb(colour)
                # "over" compositing with premultiplied colour
                r = cr * coverage + r * (1 - coverage)
                g = cg * coverage + g * (1 - coverage)
                b = cb * coverage + b * (1 - coverage)
                a = coverage + a * (1 - coverage)
            if a > 0:
                row += bytes((round(r / a), round(g / a), round(b / a), round(a * 255)))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return rows


def png(rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    pixels = b"".join(b"\x00" + row for row in rows)  # filter type 0 on every row
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(pixels, 9)) + chunk(b"IEND", b""))


def svg():
    lines = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{SIZE}" height="{SIZE}" '
             f'viewBox="0 0 {SIZE} {SIZE}">']
    for colour, points in SHAPES:
        coordinates = " ".join(f"{x},{y}" for x, y in points)
        lines.append(f'  <polygon fill="{colour}" stroke="none" points="{coordinates}"/>')
    lines.append("</svg>")
    return "\n".join(lines) + "\n"


def main():
    folder = pathlib.Path(__file__).resolve().parent
    (folder / "pellatrix.svg").write_text(svg())
    (folder / "pellatrix.png").write_bytes(png(render()))


if __name__ == "__main__":
    main()
