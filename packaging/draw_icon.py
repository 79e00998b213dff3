"""Draws the program's icon, a till receipt on a green tile, and packs it:

    python3 packaging/draw_icon.py packaging/sales_tally.ico

Each size is drawn from the same shapes, measured on a 256-pixel grid, with
4 x 4 samples a pixel for smooth edges. icotool (Debian's icoutils) packs
16, 32 and 48 pixels as bitmaps and 256 as PNG, as Windows expects.
"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

SIZES = [16, 32, 48, 256]
SAMPLES = 4

TILE = (31, 111, 74)  # green
PAPER = (250, 250, 245)
INK = (120, 128, 124)
TOTAL = (20, 60, 40)


def rounded_box(left, top, right, bottom, radius):
    def inside(x, y):
        dx = max(left + radius - x, 0, x - (right - radius))
        dy = max(top + radius - y, 0, y - (bottom - radius))
        return left <= x <= right and top <= y <= bottom and dx * dx + dy * dy <= radius * radius
    return inside


def receipt_paper(x, y):
    """The receipt, its foot torn in a zigzag."""
    if not 64 <= x <= 192 or y < 36:
        return False
    tooth = 16
    phase = (x - 64) % tooth
    return y <= 212 + min(phase, tooth - phase)


# From the back to the front: the tile, the paper, the item lines, the total.
SHAPES = [
    (rounded_box(8, 8, 248, 248, 44), TILE),
    (receipt_paper, PAPER),
    (rounded_box(84, 64, 172, 80, 6), INK),
    (rounded_box(84, 96, 150, 112, 6), INK),
    (rounded_box(84, 128, 162, 144, 6), INK),
    (rounded_box(84, 170, 172, 192, 8), TOTAL),
]


def pixel(size, px, py):
    """Averages the samples of one pixel: red, green, blue and alpha."""
    red = green = blue = alpha = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (px + (sx + 0.5) / SAMPLES) * 256 / size
            y = (py + (sy + 0.5) / SAMPLES) * 256 / size
            colour = None
            for inside, fill in SHAPES:
                if inside(x, y):
                    colour = fill
            if colour:
                red, green, blue, alpha = red + colour[0], green + colour[1], blue + colour[2], alpha + 1
    if not alpha:
        return bytes(4)
    return bytes([red // alpha, green // alpha, blue // alpha, alpha * 255 // SAMPLES ** 2])


def png(size):
    rows = b"".join(b"\0" + b"".join(pixel(size, x, y) for x in range(size)) for y in range(size))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data)))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def main():
    output = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        files = []
        for size in SIZES:
            path = os.path.join(folder, "%d.png" % size)
            with open(path, "wb") as f:
                f.write(png(size))
            files += ["-r", path] if size == 256 else [path]
        subprocess.run(["icotool", "-c", "-o", output] + files, check=True)


main()
