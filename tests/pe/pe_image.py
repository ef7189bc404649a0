#!/usr/bin/env python3
"""Reads a built 32-bit PE image: headers, sections, imports, exports, the TLS directory and the
resource tree, and the resource formats the launcher carries (dialog templates and icons).

Every offset taken from the file is checked against it and every count is bounded, so that a
damaged image raises PeError instead of reading past its end or looping for long. Standard
library only, so the checks read the binary itself rather than the build's scripts. Run as a
script for a quick report of a program:

    python3 tests/pe/pe_image.py build/win32/launcher/cdlaunch.exe
"""

import struct
import sys
from pathlib import Path

I386 = 0x14C
PE32 = 0x10B
IMAGE_FILE_RELOCS_STRIPPED, IMAGE_FILE_DLL = 0x0001, 0x2000
SUBSYSTEMS = {"native": 1, "gui": 2}
DIR_EXPORT, DIR_IMPORT, DIR_RESOURCE, DIR_BASERELOC, DIR_TLS, DIR_DELAY_IMPORT = 0, 1, 2, 5, 9, 13
RT_ICON, RT_DIALOG, RT_GROUP_ICON = 3, 5, 14
# Bounds on anything counted from the file, so that a damaged image cannot loop for long.
MAX_DLLS, MAX_FUNCTIONS, MAX_NAME, MAX_CALLBACKS = 256, 4096, 256, 64
# The resource tree has three levels (type, name, language); a deeper one loops on itself.
RESOURCE_LEVELS = 3


class PeError(ValueError):
    """The file is not a PE32 image that can be read."""


class PeImage:
    """One PE32 image's headers, read with bounds checks; the tables are read on request."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PeError("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        self.machine, sections, _, _, _, optional_size, self.characteristics = \
            self.unpack("<HHIIIHH", pe + 4)
        self.optional = pe + 24
        if self.u16(self.optional) != PE32:
            raise PeError(f"optional header magic {self.u16(self.optional):#x}, not PE32")
        self.image_base = self.u32(self.optional + 28)
        self.subsystem_version = self.unpack("<HH", self.optional + 48)
        self.checksum = self.u32(self.optional + 64)
        self.subsystem = self.u16(self.optional + 68)
        self.directory_count = min(self.u32(self.optional + 92), 16)
        table = self.optional + optional_size
        # (name, virtual size, RVA, raw size, file offset)
        self.sections = [(name.rstrip(b"\0").decode("latin-1"), *rest) for name, *rest in
                         (self.unpack("<8sIIII", table + 40 * i) for i in range(sections))]

    @classmethod
    def read(cls, path):
        return cls(Path(path).read_bytes())

    def unpack(self, fmt, at):
        try:
            return struct.unpack_from(fmt, self.data, at)
        except struct.error:
            raise PeError(f"header at {at:#x} lies beyond the file's end") from None

    def u16(self, at):
        return self.unpack("<H", at)[0]

    def u32(self, at):
        return self.unpack("<I", at)[0]

    @property
    def is_dll(self):
        return bool(self.characteristics & IMAGE_FILE_DLL)

    @property
    def section_names(self):
        return {section[0] for section in self.sections}

    def directory(self, index):
        """(RVA, size) of a data directory; (0, 0) where the header has fewer."""
        if index >= self.directory_count:
            return 0, 0
        return self.unpack("<II", self.optional + 96 + 8 * index)

    def offset(self, rva):
        """The file offset of an RVA inside some section's raw data."""
        for _, virtual_size, va, raw_size, raw in self.sections:
            if va <= rva < va + min(raw_size, virtual_size or raw_size):
                return raw + rva - va
        raise PeError(f"RVA {rva:#x} is in no section's data")

    def cstring(self, rva):
        start = self.offset(rva)
        end = self.data.find(b"\0", start, start + MAX_NAME)
        if end < 0:
            raise PeError(f"name at RVA {rva:#x} is unterminated")
        return self.data[start:end].decode("latin-1")

    def bytes_at(self, rva, size):
        start = self.offset(rva)
        if start + size > len(self.data):
            raise PeError(f"{size} bytes at RVA {rva:#x} run past the file's end")
        return self.data[start:start + size]

    def imports(self):
        """[(dll, [function name, or ordinal as an int])] in table order. A list, not a mapping:
        a linker may leave two entries for one DLL, and each must be checked."""
        rva, size = self.directory(DIR_IMPORT)
        if rva == 0 and size == 0:
            return []
        result, at = [], self.offset(rva)
        for _ in range(MAX_DLLS):
            lookup, _, _, name, thunks = self.unpack("<IIIII", at)
            if name == 0 and thunks == 0:
                return result
            functions, entry = [], self.offset(lookup or thunks)
            for _ in range(MAX_FUNCTIONS):
                value = self.u32(entry)
                if value == 0:
                    break
                functions.append(value & 0xFFFF if value & 0x80000000 else self.cstring(value + 2))
                entry += 4
            else:
                raise PeError("an import list has no end")
            result.append((self.cstring(name), functions))
            at += 20
        raise PeError("the import directory has no end")

    def import_dlls(self):
        """The names of the DLLs imported from, in lower case."""
        return {dll.lower() for dll, _ in self.imports()}

    def exports(self):
        """The names this image exports."""
        rva, size = self.directory(DIR_EXPORT)
        if rva == 0 or size == 0:
            return []
        at = self.offset(rva)
        count, names = self.u32(at + 24), self.u32(at + 32)
        if count > MAX_FUNCTIONS:
            raise PeError(f"{count} exported names")
        names_at = self.offset(names) if count else 0
        return [self.cstring(self.u32(names_at + 4 * i)) for i in range(count)]

    def tls_callbacks(self):
        """The number of TLS callbacks; None where the directory names none or cannot be read."""
        rva, _ = self.directory(DIR_TLS)
        try:
            callbacks = self.u32(self.offset(rva) + 12)
            if callbacks == 0:
                return None
            at = self.offset(callbacks - self.image_base)
            return next(i for i in range(MAX_CALLBACKS + 1)
                        if i == MAX_CALLBACKS or self.u32(at + 4 * i) == 0)
        except PeError:
            return None

    def resources(self):
        """{(type, name, language): bytes}; type and name are ints or upper-case texts."""
        root, size = self.directory(DIR_RESOURCE)
        if root == 0 and size == 0:
            return {}
        base = self.offset(root)
        found = {}

        def key(entry_name):
            if not entry_name & 0x80000000:
                return entry_name
            at = base + (entry_name & 0x7FFFFFFF)
            length = self.u16(at)
            return self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le", "replace")

        def walk(at, path):
            named, ids = self.unpack("<HH", at + 12)
            for i in range(named + ids):
                name, target = self.unpack("<II", at + 16 + 8 * i)
                here = path + (key(name),)
                if bool(target & 0x80000000) != (len(here) < RESOURCE_LEVELS):
                    raise PeError(f"resource {here} is not at the tree's third level")
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), here)
                else:
                    rva, length, _, _ = self.unpack("<IIII", base + target)
                    found[here] = self.bytes_at(rva, length)

        walk(base, ())
        return found


class Reader:
    """Little-endian cursor over a resource's bytes."""

    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, fmt):
        try:
            values = struct.unpack_from("<" + fmt, self.data, self.at)
        except struct.error:
            raise PeError(f"resource ends before offset {self.at:#x}") from None
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            if end >= len(self.data):
                raise PeError(f"text at {self.at:#x} of a resource is unterminated")
            end += 2
        value = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return value

    def text_or_ordinal(self):
        """A text, or an int for the 0xFFFF-prefixed ordinal form."""
        if self.data[self.at:self.at + 2] == b"\xff\xff":
            self.at += 2
            return self.take("H")
        return self.text()

    def align(self, n):
        self.at = (self.at + n - 1) // n * n


DS_SETFONT = 0x40


def parse_dialogex(data):
    """An extended dialog template as a dict, its controls as a list of dicts."""
    r = Reader(data)
    version, signature = r.take("HH")
    if (version, signature) != (1, 0xFFFF):
        raise PeError("not an extended dialog template")
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
        raise PeError("not an icon group")
    entries = []
    for _ in range(count):
        w, h, colours, _, planes, bits, size, ident = r.take("BBBBHHIH")
        entries.append(dict(width=w or 256, height=h or 256, colours=colours, planes=planes,
                            bits=bits, size=size, id=ident))
    return entries


def parse_icon_image(data):
    """An icon image's BITMAPINFOHEADER fields and its colour bits."""
    r = Reader(data)
    size, width, height, planes, bits = r.take("IiiHH")
    r.at = 32
    colours = r.take("I") or (1 << bits if bits <= 8 else 0)
    start = size + 4 * colours
    row = (width * bits + 31) // 32 * 4
    return dict(width=width, height=height // 2, planes=planes, bits=bits, palette=colours,
                pixels=data[start:start + row * (height // 2)])


def main(path):
    path = Path(path)
    pe = PeImage.read(path)
    print(f"{path.name}: {len(pe.data)} bytes ({len(pe.data) / 1024:.1f} KiB)")
    print("subsystem %d, version %d.%d" % ((pe.subsystem,) + pe.subsystem_version))
    for dll, names in pe.imports():
        print(f"imports {dll}: {' '.join(n if isinstance(n, str) else f'#{n}' for n in names)}")
    for (kind, name, lang), data in sorted(pe.resources().items(), key=str):
        print(f"resource type {kind} name {name} language {lang:#06x}: {len(data)} bytes")


if __name__ == "__main__":
    main(sys.argv[1])
