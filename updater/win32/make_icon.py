#!/usr/bin/env python3
"""Draws the updater's program icon and writes it as a Windows .ico file.

Two images, 32x32 and 16x16, each in 16 colours (4 bits per pixel, the standard VGA palette)
with a transparency mask: a controller chip with a green arrow pointing into it (new firmware
going into the device).

Usage: make_icon.py OUTPUT.ico
"""

import struct
import sys

# The 16-colour VGA palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREEN, SILVER, GRAY, GREEN, YELLOW, WHITE = 0, 2, 7, 8, 10, 11, 15


class Canvas:
    """A square image of palette indices; None marks a transparent pixel."""

    def __init__(self, size):
        self.size = size
        self.pixels = [[None] * size for _ in range(size)]

    def rect(self, x0, y0, x1, y1, colour):
        """Fills the rectangle with both corners included."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.pixels[y][x] = colour

    def frame(self, x0, y0, x1, y1, colour):
        """Draws the one-pixel outline of the rectangle."""
        self.rect(x0, y0, x1, y0, colour)
        self.rect(x0, y1, x1, y1, colour)
        self.rect(x0, y0, x0, y1, colour)
        self.rect(x1, y0, x1, y1, colour)

    def arrow_down(self, centre_left, shaft_half, shaft_top, head_top, head_half, tip, fill,
                   outline):
        """A downward arrow, symmetric about the column pair centre_left / centre_left + 1."""
        centre_right = centre_left + 1
        for y in range(shaft_top, head_top):
            self.rect(centre_left - shaft_half + 1, y, centre_right + shaft_half - 1, y, fill)
            self.pixels[y][centre_left - shaft_half] = outline
            self.pixels[y][centre_right + shaft_half] = outline
        self.rect(centre_left - shaft_half, shaft_top, centre_right + shaft_half, shaft_top,
                  outline)
        rows = tip - head_top + 1
        for i in range(rows):
            y = head_top + i
            half = head_half - (head_half * i) // (rows - 1) if rows > 1 else 0
            left, right = centre_left - half, centre_right + half
            self.rect(left, y, right, y, fill)
            self.pixels[y][left] = outline
            self.pixels[y][right] = outline
            if i == 0:
                self.rect(left, y, centre_left - shaft_half, y, outline)
                self.rect(centre_right + shaft_half, y, right, y, outline)


def draw_32():
    c = Canvas(32)
    # Chip body with its pins on both sides.
    c.rect(7, 14, 24, 30, BLACK)
    c.frame(7, 14, 24, 30, GRAY)
    for y in (16, 19, 22, 25, 28):
        c.rect(3, y, 6, y + 1, SILVER)
        c.rect(25, y, 28, y + 1, SILVER)
    # Orientation mark and a label stripe on the chip.
    c.rect(9, 27, 10, 28, WHITE)
    c.rect(12, 24, 21, 24, YELLOW)
    # Arrow from above into the chip.
    c.arrow_down(centre_left=15, shaft_half=3, shaft_top=0, head_top=9, head_half=8, tip=20,
                 fill=GREEN, outline=DARK_GREEN)
    return c


def draw_16():
    c = Canvas(16)
    c.rect(3, 7, 12, 15, BLACK)
    c.frame(3, 7, 12, 15, GRAY)
    for y in (8, 11, 14):
        c.rect(1, y, 2, y, SILVER)
        c.rect(13, y, 14, y, SILVER)
    c.rect(5, 13, 5, 13, WHITE)
    c.arrow_down(centre_left=7, shaft_half=2, shaft_top=0, head_top=4, head_half=5, tip=10,
                 fill=GREEN, outline=DARK_GREEN)
    return c


def row_bytes(bits_per_row):
    """Bytes of one bitmap row, padded to a multiple of four."""
    return ((bits_per_row + 31) // 32) * 4


def image_data(canvas):
    """BITMAPINFOHEADER, palette, 4-bit colour bitmap and 1-bit AND mask, rows bottom-up."""
    n = canvas.size
    colour_stride, mask_stride = row_bytes(4 * n), row_bytes(n)
    colour, mask = bytearray(), bytearray()
    for y in reversed(range(n)):
        row = canvas.pixels[y]
        line = bytearray(colour_stride)
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            index = 0 if p is None else p
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if p is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        colour += line
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 4, 0, len(colour) + len(mask), 0, 0,
                         16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(colour) + bytes(mask)


def ico(canvases):
    images = [image_data(c) for c in canvases]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, data in zip(canvases, images):
        out += struct.pack('<BBBBHHII', c.size, c.size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b''.join(images)


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: make_icon.py OUTPUT.ico')
    with open(sys.argv[1], 'wb') as f:
        f.write(ico([draw_32(), draw_16()]))


if __name__ == '__main__':
    main()
