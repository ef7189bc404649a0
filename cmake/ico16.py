"""Writes 16-colour Windows icons (.ico, 4 bits per pixel with a transparency mask).

The format every Windows version down to Windows 95 draws. A picture is a list of rows, each a
list of palette indices, with None for a transparent pixel. Used by the build scripts that draw
the programs' icons; only the standard library is needed.
"""

import struct

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]


def _row_bytes(bits_per_pixel, width):
    """Bytes in one bitmap row, padded to a multiple of four."""
    return ((width * bits_per_pixel + 31) // 32) * 4


def encode_image(pixels):
    """One icon image: BITMAPINFOHEADER, palette, colour bits, then the AND mask, rows bottom-up."""
    size = len(pixels)
    colour_rows, mask_rows = [], []
    for row in reversed(pixels):
        colour = bytearray(_row_bytes(4, size))
        mask = bytearray(_row_bytes(1, size))
        for x, index in enumerate(row):
            if index is None:
                mask[x // 8] |= 0x80 >> (x % 8)  # screen shows through; colour bits stay 0
            else:
                colour[x // 2] |= index << (4 if x % 2 == 0 else 0)
        colour_rows.append(bytes(colour))
        mask_rows.append(bytes(mask))
    bits = b"".join(colour_rows) + b"".join(mask_rows)
    # The height covers both the colour bits and the mask.
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(bits), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bits


def encode_icon(pictures):
    """An .ico file holding one square image per picture, in the order given."""
    images = [encode_image(p) for p in pictures]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for picture, image in zip(pictures, images):
        size = len(picture)
        entries += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return directory + entries + b"".join(images)
