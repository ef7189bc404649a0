#!/usr/bin/env python3
"""Reads a built resource library back and checks it against what the program expects of it.

Usage: check_library.py ZYNRes.lrc license.txt

The library must be a 32-bit resource-only DLL (no entry point, no imported DLL, no exports) holding dialogs 101,
105 and 108 with the controls the program addresses, strings 1 to 9, and icon 107 with its
32x32 and 16x16 images. Every text must survive the conversion to the language's ANSI code page,
in which the program reads it. The license text is shown byte for byte in a multi-line edit, so
it must have CR LF line ends and no zero byte. Prints one line per problem; exits 1 on any.
"""

import struct
import sys

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON = 3, 5, 6, 14
BUTTON, EDIT, STATIC = 0x80, 0x81, 0x82
WS_SYSMENU, WS_MINIMIZEBOX, WS_VSCROLL = 0x00080000, 0x00020000, 0x00200000
ES_MULTILINE, ES_READONLY = 0x0004, 0x0800
DS_SETFONT = 0x40


def ansi_code_page(language_id):
    """The ANSI code page of a Windows language identifier, for the languages we ship."""
    primary = language_id & 0xFF
    if primary == 0x04:
        return "cp936" if language_id == 0x0804 else "cp950"
    return {0x11: "cp932", 0x12: "cp949"}.get(primary, "cp1252")


class PeImage:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not an MZ image")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.entry_point = struct.unpack_from("<I", data, optional + 16)[0]
        directory_count = struct.unpack_from("<I", data, optional + 92)[0]
        self.directories = [struct.unpack_from("<II", data, optional + 96 + 8 * i)
                            for i in range(directory_count)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), vaddr, max(vsize, rawsize), rawptr))

    def offset(self, rva):
        for _, vaddr, size, rawptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rawptr + rva - vaddr
        raise ValueError("address 0x%x is in no section" % rva)

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def imported_dlls(self):
        """Names of the DLLs in the import directory (the linker may leave an empty one)."""
        rva, size = self.directory(1)
        names = []
        if rva == 0 or size == 0:
            return names
        at = self.offset(rva)
        while True:
            lookup, _, _, name, first_thunk = struct.unpack_from("<IIIII", self.data, at)
            if (lookup, name, first_thunk) == (0, 0, 0):
                return names
            start = self.offset(name)
            names.append(self.data[start:self.data.index(b"\0", start)].decode())
            at += 20

    def exported_function_count(self):
        rva, size = self.directory(0)
        if rva == 0 or size == 0:
            return 0
        return struct.unpack_from("<I", self.data, self.offset(rva) + 20)[0]

    def resources(self):
        """{(type, id): (language, bytes)} for every numbered resource."""
        rva, _ = self.directory(2)
        if rva == 0:
            return {}
        base = self.offset(rva)
        found = {}

        def entries(at):
            named, numbered = struct.unpack_from("<HH", self.data, base + at + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, base + at + 16 + 8 * i)
                yield ident, target

        for type_id, type_dir in entries(0):
            for name_id, name_dir in entries(type_dir & 0x7FFFFFFF):
                for lang, leaf in entries(name_dir & 0x7FFFFFFF):
                    data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    at = self.offset(data_rva)
                    found[(type_id, name_id)] = (lang, self.data[at:at + size])
        return found


def read_sz_or_ord(data, at):
    """A dialog's sz_Or_Ord field: (ordinal or text, offset after it)."""
    first = struct.unpack_from("<H", data, at)[0]
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, at + 2)[0], at + 4
    end = at
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[at:end].decode("utf-16-le"), end + 2


def parse_dialog(data):
    """An extended dialog template: its style, caption, size and controls."""
    version, signature = struct.unpack_from("<HH", data, 0)
    if (version, signature) != (1, 0xFFFF):
        raise ValueError("not an extended dialog template")
    _, _, style, count, _, _, cx, cy = struct.unpack_from("<IIIHhhhh", data, 4)
    at = 26
    _, at = read_sz_or_ord(data, at)  # menu
    _, at = read_sz_or_ord(data, at)  # class
    caption, at = read_sz_or_ord(data, at)
    font = None
    if style & DS_SETFONT:
        points = struct.unpack_from("<H", data, at)[0]
        face, at = read_sz_or_ord(data, at + 6)
        font = (points, face)
    controls = []
    for _ in range(count):
        at = (at + 3) & ~3
        _, _, cstyle, x, y, w, h, ident = struct.unpack_from("<IIIhhhhI", data, at)
        at += 24
        cls, at = read_sz_or_ord(data, at)
        text, at = read_sz_or_ord(data, at)
        extra = struct.unpack_from("<H", data, at)[0]
        at += 2 + extra
        ident = ident - 0x100000000 if ident >= 0x80000000 else ident
        controls.append(dict(id=ident, cls=cls, style=cstyle, x=x, y=y, w=w, h=h, text=text))
    return dict(style=style, caption=caption, cx=cx, cy=cy, font=font, controls=controls)


def parse_strings(resources):
    strings = {}
    for (type_id, block), (_, data) in resources.items():
        if type_id != RT_STRING:
            continue
        at = 0
        for index in range(16):
            length = struct.unpack_from("<H", data, at)[0]
            text = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            at += 2 + 2 * length
            if length:
                strings[(block - 1) * 16 + index] = text
    return strings


class Checker:
    def __init__(self):
        self.problems = []

    def expect(self, condition, message):
        if not condition:
            self.problems.append(message)
        return condition


def check_dialogs(check, dialogs, code_page, strings):
    for number in (101, 105, 108):
        if not check.expect(number in dialogs, "dialog %d missing" % number):
            return
    for number, dialog in dialogs.items():
        for control in dialog["controls"]:
            check.expect(control["x"] >= 0 and control["y"] >= 0 and
                         control["x"] + control["w"] <= dialog["cx"] and
                         control["y"] + control["h"] <= dialog["cy"],
                         "dialog %d: control %d lies outside the dialog" % (number, control["id"]))
        for text in [dialog["caption"]] + [c["text"] for c in dialog["controls"]]:
            if isinstance(text, str):
                check.expect(encodable(text, code_page),
                             "dialog %d: %r does not fit code page %s" % (number, text, code_page))

    def control(number, ident):
        found = [c for c in dialogs[number]["controls"] if c["id"] == ident]
        check.expect(len(found) == 1, "dialog %d: control %d missing or repeated" % (number, ident))
        return found[0] if found else None

    def button(number, ident):
        found = control(number, ident)
        check.expect(found is None or found["cls"] == BUTTON,
                     "dialog %d: control %d is not a button" % (number, ident))

    # License agreement: read-only multi-line scrolling edit, accept (1) and decline (2).
    edit = control(108, 1006)
    if edit:
        wanted = ES_MULTILINE | ES_READONLY | WS_VSCROLL
        check.expect(edit["cls"] == EDIT and edit["style"] & wanted == wanted,
                     "dialog 108: control 1006 is not a read-only multi-line scrolling edit")
    button(108, 1)
    button(108, 2)
    check.expect(dialogs[108]["style"] & WS_SYSMENU, "dialog 108 has no close box")

    # Result: the three fields, each with a label on its row; system menu and minimise box.
    result = dialogs[101]
    labels = [c for c in result["controls"] if c["cls"] == STATIC and c["id"] == -1 and c["text"]]
    for ident in (1002, 1003, 1004):
        field = control(101, ident)
        if field:
            check.expect(any(field["y"] - 4 <= l["y"] <= field["y"] + field["h"] and
                             l["x"] + l["w"] <= field["x"] for l in labels),
                         "dialog 101: field %d has no label" % ident)
    button(101, 1)
    check.expect(result["style"] & (WS_SYSMENU | WS_MINIMIZEBOX) == WS_SYSMENU | WS_MINIMIZEBOX,
                 "dialog 101 lacks its system menu or minimise box")

    # About box: product name, version and maker; OK.
    button(105, 1)
    about = " ".join(c["text"] for c in dialogs[105]["controls"] if isinstance(c["text"], str))
    for needed in ("ZYN ID Utility", "Orvex", "1.0"):
        check.expect(needed in about, "dialog 105 does not show %r" % needed)

    # Only the result dialog may carry the title a second start looks for.
    title = strings.get(8, "")
    check.expect(result["caption"] == title, "dialog 101's caption is not string 8")
    for number in (105, 108):
        check.expect(dialogs[number]["caption"].lower() != title.lower(),
                     "dialog %d has the single-instance title" % number)


def encodable(text, code_page):
    try:
        text.encode(code_page)
        return True
    except UnicodeEncodeError:
        return False


def check_library(check, path):
    with open(path, "rb") as f:
        image = PeImage(f.read())
    check.expect(image.machine == 0x14C and image.magic == 0x10B, "not a 32-bit x86 image")
    check.expect(image.characteristics & 0x2000, "not a DLL")
    check.expect(image.entry_point == 0, "has an entry point")
    check.expect(not image.imported_dlls(), "imports %s" % image.imported_dlls())
    check.expect(image.exported_function_count() == 0, "exports functions")

    resources = image.resources()
    languages = {lang for lang, _ in resources.values()}
    check.expect(len(languages) == 1, "resources of several languages: %s" % sorted(languages))
    code_page = ansi_code_page(min(languages) if languages else 0x409)

    strings = parse_strings(resources)
    for number in range(1, 10):
        text = strings.get(number, "")
        check.expect(text, "string %d missing" % number)
        check.expect(encodable(text, code_page),
                     "string %d does not fit code page %s" % (number, code_page))
    check.expect(strings.get(3) != strings.get(4), "both verdicts read the same")

    dialogs = {ident: parse_dialog(data) for (kind, ident), (_, data) in resources.items()
               if kind == RT_DIALOG}
    check_dialogs(check, dialogs, code_page, strings)

    group = resources.get((RT_GROUP_ICON, 107))
    if check.expect(group is not None, "icon 107 missing"):
        data = group[1]
        count = struct.unpack_from("<H", data, 4)[0]
        sizes = set()
        for i in range(count):
            width, height, _, _, _, _, _, ident = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i)
            sizes.add((width or 256, height or 256))
            check.expect((RT_ICON, ident) in resources, "icon image %d missing" % ident)
        check.expect({(32, 32), (16, 16)} <= sizes, "icon 107 lacks 32x32 or 16x16: %s" % sizes)
    return code_page


def check_license(check, path, code_page):
    with open(path, "rb") as f:
        text = f.read()
    check.expect(text.strip(), "license text is empty")
    check.expect(b"\0" not in text, "license text holds a zero byte: the display stops there")
    check.expect(text.count(b"\n") == text.count(b"\r\n") == text.count(b"\r"),
                 "license text has line ends other than CR LF")
    try:
        text.decode(code_page)
    except UnicodeDecodeError:
        check.problems.append("license text is not in code page %s" % code_page)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    check = Checker()
    code_page = check_library(check, argv[1])
    check_license(check, argv[2], code_page)
    for problem in check.problems:
        print("%s: %s" % (argv[1], problem))
    if not check.problems:
        print("%s: resource library and license text as expected" % argv[1])
    return 1 if check.problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
