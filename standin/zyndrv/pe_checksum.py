#!/usr/bin/env python3
"""Writes the PE image checksum into a built image (the linker leaves it 0). The NT loader checks
it for drivers that it loads at boot; with --check, only reports whether it is right.

Usage: pe_checksum.py [--check] IMAGE"""

import struct
import sys
from pathlib import Path


def checksum_offset(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return pe + 24 + 64  # optional header's CheckSum field


def compute(data):
    at = checksum_offset(data)
    padded = data[:at] + b"\0\0\0\0" + data[at + 4:] + (b"\0" if len(data) % 2 else b"")
    total = 0
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def main(args):
    check = args[:1] == ["--check"]
    path = Path(args[-1])
    data = bytearray(path.read_bytes())
    at = checksum_offset(data)
    want = compute(bytes(data))
    if check:
        have = struct.unpack_from("<I", data, at)[0]
        if have != want:
            print(f"{path.name}: checksum {have:#010x}, should be {want:#010x}")
            return 1
        return 0
    struct.pack_into("<I", data, at, want)
    path.write_bytes(bytes(data))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
