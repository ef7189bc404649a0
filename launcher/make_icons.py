#!/usr/bin/env python3
"""Draws the launcher's icons and writes them as .ico files: 16 colours, 4 bits per pixel.

    make_icons.py OUTDIR      writes OUTDIR/disc.ico (32x32) and OUTDIR/install.ico (32x32, 16x16)

disc.ico is the program file's own icon (a compact disc); install.ico is the picture in the dialog
(a carton with an arrow going in). Each picture is a function of normalised coordinates, so the
16x16 image is the same drawing at another size. Only the standard library is used.
"""

import math
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "cmake"))
from ico16 import encode_icon  # noqa: E402

BLACK, OLIVE, NAVY, SILVER, GRAY, YELLOW, BLUE, AQUA, WHITE = 0, 3, 4, 7, 8, 11, 12, 14, 15


def disc(u, v):
    """A compact disc seen from the front; None is transparent."""
    r = math.hypot(u - 0.5, v - 0.5) * 2  # 0 at the centre, 1 at the rim
    if r > 0.97:
        return None
    if r > 0.88:
        return GRAY
    if r < 0.14:
        return None
    if r < 0.24:
        return WHITE
    if r < 0.32:
        return GRAY
    angle = math.atan2(v - 0.5, u - 0.5)
    if -2.4 < angle < -1.6 and r > 0.45:
        return WHITE  # the light's reflection
    if 0.5 < angle < 1.3:
        return AQUA
    return SILVER if r < 0.7 or angle > 0 else YELLOW


def carton(u, v):
    """An open carton with a blue arrow pointing into it."""
    if 0.12 <= u <= 0.88 and 0.5 <= v <= 0.94:
        edge = u < 0.16 or u > 0.84 or v > 0.9 or v < 0.54
        return BLACK if edge else (OLIVE if u < 0.5 else YELLOW)
    if 0.38 <= u <= 0.62 and 0.06 <= v <= 0.42:
        return BLUE  # the arrow's shaft
    if 0.42 <= v <= 0.62 and abs(u - 0.5) <= (0.62 - v) * 1.2:
        return BLUE  # the arrow's head, down to the carton's opening
    return None


def picture(draw, size):
    """The drawing sampled at pixel centres: rows of palette indices, None where transparent."""
    return [[draw((x + 0.5) / size, (y + 0.5) / size) for x in range(size)] for y in range(size)]


def ico(draw, sizes):
    return encode_icon([picture(draw, s) for s in sizes])


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    (out / "disc.ico").write_bytes(ico(disc, [32]))
    (out / "install.ico").write_bytes(ico(carton, [32, 16]))


if __name__ == "__main__":
    main()
