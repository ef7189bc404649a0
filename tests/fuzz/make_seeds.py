#!/usr/bin/env python3
"""Wraps table files into fuzz inputs: page offset, flags, a descriptor, then the table.

Usage: make_seeds.py OUT_DIR TABLE_FILE...   (raw tables or dumps with the table at 0x20)
"""
import os
import struct
import sys


def table_of(data):
    if data[:4] == b"_SM_" or data[:5] == b"_SM3_" or data[:5] == b"_DMI_":
        return data[0x20:]
    return data


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for i, path in enumerate(sys.argv[2:]):
        with open(path, "rb") as f:
            table = table_of(f.read())[:65535]
        for offset, flags in ((0, 0x01), (4000, 0x01), (4095, 0x00)):
            desc = struct.pack("<IIHHIIIHH", 0, 0, 200, 0, 0, 0, 0, 0, 0)
            seed = struct.pack("<HB", offset, flags) + desc + table
            with open(os.path.join(out, "seed-%03d-%04d" % (i, offset)), "wb") as f:
                f.write(seed)


if __name__ == "__main__":
    main()
