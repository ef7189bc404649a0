#!/usr/bin/env python3
"""Writes the board icon (resource 107) as a Windows .ico file.

Two images, 32x32 and 16x16, with the 16 standard VGA colours and a transparency mask: the
format every Windows version down to Windows 95 draws. The picture is a main board seen from
above: a green board with a processor, its traces and an edge connector, drawn pixel by pixel so
that both sizes stay crisp.

Usage: make_icon.py OUTPUT.ico
"""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "cmake"))
from ico16 import encode_icon  # noqa: E402

BLACK, GREEN, OLIVE, SILVER, GREY, LIME, YELLOW, WHITE = 0, 2, 3, 7, 8, 10, 11, 15
CLEAR = None  # transparent pixel


class Canvas:
    def __init__(self, size):
        self.size = size
        self.pixels = [[CLEAR] * size for _ in range(size)]

    def rect(self, x0, y0, x1, y1, colour):
        """Fills the rectangle with corners (x0, y0) and (x1, y1), both included."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.pixels[y][x] = colour

    def frame(self, x0, y0, x1, y1, colour):
        self.rect(x0, y0, x1, y0, colour)
        self.rect(x0, y1, x1, y1, colour)
        self.rect(x0, y0, x0, y1, colour)
        self.rect(x1, y0, x1, y1, colour)

    def dot(self, x, y, colour):
        self.pixels[y][x] = colour


def draw_32():
    c = Canvas(32)
    # Board with a dark outline and a light top-left edge.
    c.rect(1, 3, 30, 26, GREEN)
    c.frame(1, 3, 30, 26, BLACK)
    c.rect(2, 4, 29, 4, LIME)
    c.rect(2, 4, 2, 25, LIME)
    # Mounting holes.
    for x, y in ((4, 6), (27, 6), (4, 23), (27, 23)):
        c.dot(x, y, SILVER)
    # Processor: a black package with silver pins on all four sides and a pin-1 mark.
    c.rect(11, 9, 20, 18, BLACK)
    c.rect(13, 11, 18, 16, GREY)
    c.dot(12, 10, WHITE)
    for i in range(11, 20, 2):
        c.dot(i, 8, SILVER)
        c.dot(i, 19, SILVER)
        c.dot(10, i - 2 + 1, SILVER)
        c.dot(21, i - 2 + 1, SILVER)
    # Traces from the processor to the board's edges.
    c.rect(6, 12, 9, 12, YELLOW)
    c.rect(6, 12, 6, 20, YELLOW)
    c.rect(6, 16, 9, 16, YELLOW)
    c.rect(22, 14, 26, 14, YELLOW)
    c.rect(26, 9, 26, 14, YELLOW)
    c.rect(15, 20, 15, 23, YELLOW)
    c.rect(17, 20, 17, 22, YELLOW)
    c.rect(17, 22, 23, 22, YELLOW)
    # Memory slots on the right.
    c.rect(24, 17, 28, 17, BLACK)
    c.rect(24, 19, 28, 19, BLACK)
    # Edge connector along the bottom: gold fingers below the board.
    for x in range(5, 27, 2):
        c.rect(x, 27, x, 29, YELLOW)
    c.rect(4, 27, 27, 27, OLIVE)
    return c


def draw_16():
    c = Canvas(16)
    c.rect(0, 1, 15, 12, GREEN)
    c.frame(0, 1, 15, 12, BLACK)
    c.rect(1, 2, 14, 2, LIME)
    c.rect(1, 2, 1, 11, LIME)
    c.rect(6, 4, 10, 8, BLACK)
    c.rect(7, 5, 9, 7, GREY)
    for i in (5, 7, 9):
        c.dot(i + 1, 3, SILVER)
        c.dot(i + 1, 9, SILVER)
    c.rect(3, 6, 5, 6, YELLOW)
    c.rect(3, 6, 3, 10, YELLOW)
    c.rect(11, 6, 13, 6, YELLOW)
    c.rect(12, 8, 14, 8, BLACK)
    c.rect(12, 10, 14, 10, BLACK)
    for x in range(3, 13, 2):
        c.rect(x, 13, x, 14, YELLOW)
    return c


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], "wb") as out:
        out.write(encode_icon([draw_32().pixels, draw_16().pixels]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
