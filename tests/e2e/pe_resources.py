"""Reads what landed in a built 32-bit PE file: resources, dialog templates, icons and imports.

Standard library only, so the tests check the binary itself rather than the resource script.
Run as a script for a quick report of a program:

    python3 pe_resources.py build/win32/launcher/cdlaunch.exe
"""

import struct
import sys
from pathlib import Path

RT_ICON, RT_DIALOG, RT_GROUP_ICON = 3, 5, 14


class PeFile:
    """Sections, data directories and the resource tree of one PE32 image."""

    def __init__(self, path):
        self.data = Path(path).read_bytes()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError("not an MZ file")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE header")
        _, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", d, pe + 4)
        self.optional = pe + 24
        if struct.unpack_from("<H", d, self.optional)[0] != 0x10B:
            raise ValueError("not PE32")
        self.sections = []
        table = self.optional + optional_size
        for i in range(sections):
            name, vsize, va, raw_size, raw_ptr = struct.unpack_from("<8sIIII", d, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), va, max(vsize, raw_size), raw_ptr))

    def optional_field(self, fmt, offset):
        return struct.unpack_from(fmt, self.data, self.optional + offset)[0]

    @property
    def subsystem(self):
        return self.optional_field("<H", 68)

    @property
    def subsystem_version(self):
        return self.optional_field("<H", 48), self.optional_field("<H", 50)

    def directory(self, index):
        """(RVA, size) of data directory ``index`` (1 imports, 2 resources)."""
        return struct.unpack_from("<II", self.data, self.optional + 96 + 8 * index)

    def offset(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError(f"RVA {rva:#x} is in no section")

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        """{dll name (as written): [imported names]}."""
        rva, _ = self.directory(1)
        result = {}
        at = self.offset(rva)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if name == 0:
                return result
            names, entry = [], self.offset(lookup or thunks)
            while (value := struct.unpack_from("<I", self.data, entry)[0]) != 0:
                names.append(f"#{value & 0xFFFF}" if value & 0x80000000 else self.cstring(value + 2))
                entry += 4
            result[self.cstring(name)] = names
            at += 20

    def resources(self):
        """{(type, name, language): bytes}; type and name are ints or upper-case texts."""
        root, _ = self.directory(2)
        base = self.offset(root)
        found = {}

        def key(entry_name):
            if entry_name & 0x80000000:
                at = base + (entry_name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", self.data, at)[0]
                return self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            return entry_name

        def walk(at, path):
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), path + (key(name),))
                else:
                    rva, size, _, _ = struct.unpack_from("<IIII", self.data, base + target)
                    start = self.offset(rva)
                    found[path + (key(name),)] = self.data[start:start + size]

        walk(base, ())
        return found


class Reader:
    """Little-endian cursor over a resource's bytes."""

    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return value

    def text_or_ordinal(self):
        """A text, or an int for the 0xFFFF-prefixed ordinal form."""
        first = struct.unpack_from("<H", self.data, self.at)[0]
        if first == 0xFFFF:
            self.at += 2
            return self.take("H")
        return self.text()

    def align(self, n):
        self.at = (self.at + n - 1) // n * n


DS_SETFONT, DS_SHELLFONT = 0x40, 0x48


def parse_dialogex(data):
    """An extended dialog template as a dict, its controls as a list of dicts."""
    r = Reader(data)
    version, signature = r.take("HH")
    if (version, signature) != (1, 0xFFFF):
        raise ValueError("not an extended dialog template")
    d = {}
    d["help_id"], d["exstyle"], d["style"], count = r.take("IIIH")
    d["x"], d["y"], d["cx"], d["cy"] = r.take("hhhh")
    d["menu"], d["class"], d["caption"] = r.text_or_ordinal(), r.text_or_ordinal(), r.text()
    if d["style"] & DS_SETFONT:
        d["point_size"], d["weight"], d["italic"], d["charset"] = r.take("HHBB")
        d["face"] = r.text()
    d["controls"] = []
    for _ in range(count):
        r.align(4)
        c = {}
        c["help_id"], c["exstyle"], c["style"] = r.take("III")
        c["x"], c["y"], c["cx"], c["cy"] = r.take("hhhh")
        c["id"] = r.take("i")
        c["class"], c["text"] = r.text_or_ordinal(), r.text_or_ordinal()
        extra = r.take("H")
        c["extra"] = data[r.at:r.at + extra]
        r.at += extra
        d["controls"].append(c)
    return d


def parse_group_icon(data):
    """The entries of an icon group: dicts with width, height, colours, planes, bits, size, id."""
    r = Reader(data)
    _, kind, count = r.take("HHH")
    if kind != 1:
        raise ValueError("not an icon group")
    entries = []
    for _ in range(count):
        w, h, colours, _, planes, bits, size, ident = r.take("BBBBHHIH")
        entries.append(dict(width=w or 256, height=h or 256, colours=colours, planes=planes,
                            bits=bits, size=size, id=ident))
    return entries


def parse_icon_image(data):
    """An icon image's BITMAPINFOHEADER fields and its colour bits."""
    size, width, height, planes, bits = struct.unpack_from("<IiiHH", data, 0)
    colours = struct.unpack_from("<I", data, 32)[0] or (1 << bits if bits <= 8 else 0)
    start = size + 4 * colours
    row = (width * bits + 31) // 32 * 4
    return dict(width=width, height=height // 2, planes=planes, bits=bits, palette=colours,
                pixels=data[start:start + row * (height // 2)])


def main():
    path = Path(sys.argv[1])
    pe = PeFile(path)
    print(f"{path.name}: {path.stat().st_size} bytes ({path.stat().st_size / 1024:.1f} KiB)")
    print("subsystem %d, version %d.%d" % ((pe.subsystem,) + pe.subsystem_version))
    for dll, names in pe.imports().items():
        print(f"imports {dll}: {' '.join(names)}")
    for (kind, name, lang), data in sorted(pe.resources().items(), key=str):
        print(f"resource type {kind} name {name} language {lang:#06x}: {len(data)} bytes")


if __name__ == "__main__":
    main()
