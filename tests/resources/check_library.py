#!/usr/bin/env python3
"""Reads a built resource library back and checks it against what the program expects of it.

Usage: check_library.py ZYNRes.lrc license.txt [--texts texts.rc] [--license-source license.txt]

The library must be a 32-bit resource-only DLL (no entry point, no code section, no imported DLL,
no exports) holding dialogs 101, 105 and 108 with the controls the program addresses, strings 1 to
9, and icon 107 with its 32x32 and 16x16 images, every resource in the one language that its
version resource names, with that language's ANSI code page. Every text must survive the
conversion to that code page, in which the program reads it; every dialog names a font of the
era for that script; and every text must fit its control (an estimate from the font's glyph
widths, see fit.py). The license text is shown byte for byte in a multi-line edit, so it must
have CR LF line ends and no zero byte.

With --texts, strings 1 to 9 and every dialog text must equal the language's UTF-8 source once
both are converted to the code page: what the program will read is what the translator wrote,
double-byte characters whose trail byte is 0x5C (a backslash) included. With --license-source,
the license text must be that source in the code page with CR LF line ends.
Prints one line per problem; exits 1 on any.
"""

import argparse
import os
import re
import struct
import sys

import fit

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION = 3, 5, 6, 14, 16
BUTTON, EDIT, STATIC = 0x80, 0x81, 0x82
WS_SYSMENU, WS_MINIMIZEBOX, WS_VSCROLL = 0x00080000, 0x00020000, 0x00200000
ES_MULTILINE, ES_READONLY = 0x0004, 0x0800
DS_SETFONT = 0x40
BS_GROUPBOX = 7


IMAGE_SCN_CNT_CODE, IMAGE_SCN_MEM_EXECUTE = 0x20, 0x20000000
# The sources the library is built from: resources/ and app/resource_ids.h.
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# ANSI code page of Windows by primary language, for the languages of the 9x and NT 4 era; the
# Chinese code page also depends on the sublanguage (Taiwan, Hong Kong, Macao: 950).
CODE_PAGES = {0x01: 1256, 0x02: 1251, 0x04: 950, 0x05: 1250, 0x08: 1253, 0x0D: 1255, 0x0E: 1250,
              0x11: 932, 0x12: 949, 0x15: 1250, 0x18: 1250, 0x19: 1251, 0x1B: 1250, 0x1E: 874,
              0x1F: 1254, 0x22: 1251, 0x24: 1250, 0x25: 1257, 0x26: 1257, 0x27: 1257, 0x2A: 1258}
SIMPLIFIED_CHINESE = (0x0804, 0x1004)


def program_folder(language_id):
    """The folder the program loads for a system language (its language table)."""
    if language_id & 0xFF == 0x04:
        return "Chs" if language_id == 0x0804 else "Cht"
    return {0x07: "Deu", 0x0A: "Esn", 0x0C: "Fra", 0x10: "Ita", 0x11: "Jpn",
            0x12: "Kor"}.get(language_id & 0xFF, "Eng")


PROGRAM_FOLDERS = {"Chs", "Cht", "Deu", "Eng", "Esn", "Fra", "Ita", "Jpn", "Kor"}


def ansi_code_page(language_id):
    """The ANSI code page of a Windows language identifier, as a Python codec name."""
    if language_id in SIMPLIFIED_CHINESE:
        return "cp936"
    return "cp%d" % CODE_PAGES.get(language_id & 0x3FF, 1252)


# Dialog fonts that every Windows 95 / NT 4 of a script has, by code page; the double-byte
# scripts need 9 points for their ideographs and syllables to stay legible.
ERA_FONTS = {
    "cp932": ({"ＭＳ Ｐゴシック", "ＭＳ ゴシック", "MS UI Gothic"}, 9),
    "cp936": ({"宋体", "新宋体"}, 9),
    "cp949": ({"굴림", "굴림체", "돋움"}, 9),
    "cp950": ({"新細明體", "細明體"}, 9),
}
WESTERN_FONTS = ({"MS Sans Serif", "MS Shell Dlg"}, 8)


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
        self.section_flags = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            flags = struct.unpack_from("<I", data, table + 40 * i + 36)[0]
            self.sections.append((name.rstrip(b"\0").decode(), vaddr, max(vsize, rawsize), rawptr))
            self.section_flags.append(flags)

    def code_sections(self):
        return [section[0] for section, flags in zip(self.sections, self.section_flags)
                if flags & (IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE)]

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
        self.resource_languages = set()

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
                    self.resource_languages.add(lang)
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
        self.languages = set()

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
        # No two controls share pixels; a group box frames others and is left out.
        placed = [c for c in dialog["controls"]
                  if not (c["cls"] == BUTTON and c["style"] & 0xF == BS_GROUPBOX)]
        for i, one in enumerate(placed):
            for other in placed[i + 1:]:
                check.expect(one["x"] + one["w"] <= other["x"] or other["x"] + other["w"] <= one["x"]
                             or one["y"] + one["h"] <= other["y"]
                             or other["y"] + other["h"] <= one["y"],
                             "dialog %d: controls %r and %r overlap"
                             % (number, one["text"] or one["id"], other["text"] or other["id"]))
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


def version_translation(resources):
    """(language, code page) of the version resource's Translation value, or None."""
    version = resources.get((RT_VERSION, 1))
    if version is None:
        return None
    data = version[1]
    at = data.find("Translation\0".encode("utf-16-le"))
    if at < 0:
        return None
    at = (at + len("Translation\0") * 2 + 3) & ~3
    return struct.unpack_from("<HH", data, at)


def check_fonts(check, dialogs, code_page):
    faces, points = ERA_FONTS.get(code_page, WESTERN_FONTS)
    for number, dialog in sorted(dialogs.items()):
        font = dialog["font"]
        if not check.expect(font is not None, "dialog %d names no font" % number):
            continue
        check.expect(font[1] in faces, "dialog %d: font %r is not a dialog font of code page %s (%s)"
                     % (number, font[1], code_page[2:], ", ".join(sorted(faces))))
        check.expect(font[0] >= points, "dialog %d: %d points, the script needs %d"
                     % (number, font[0], points))


def check_library(check, path):
    with open(path, "rb") as f:
        image = PeImage(f.read())
    check.expect(image.machine == 0x14C and image.magic == 0x10B, "not a 32-bit x86 image")
    check.expect(image.characteristics & 0x2000, "not a DLL")
    check.expect(image.entry_point == 0, "has an entry point")
    check.expect(not image.code_sections(), "holds code: %s" % image.code_sections())
    check.expect(not image.imported_dlls(), "imports %s" % image.imported_dlls())
    check.expect(image.exported_function_count() == 0, "exports functions")
    check.expect(image.directory(9) == (0, 0), "has thread-local storage callbacks")

    resources = image.resources()
    languages = check.languages = image.resource_languages
    check.expect(len(languages) == 1, "resources of several languages: %s"
                 % ", ".join("0x%04X" % lang for lang in sorted(languages)))
    language = min(languages) if languages else 0x409
    code_page = ansi_code_page(language)
    translation = version_translation(resources)
    if check.expect(translation is not None, "no version resource with a Translation value"):
        check.expect(translation[0] == language,
                     "version resource names language 0x%04X, the resources are 0x%04X"
                     % (translation[0], language))
        check.expect("cp%d" % translation[1] == code_page,
                     "version resource names code page %d, language 0x%04X uses %s"
                     % (translation[1], language, code_page[2:]))

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
    if all(number in dialogs for number in (101, 105, 108)):
        check_fonts(check, dialogs, code_page)
        for problem in fit.check_dialogs(dialogs, strings):
            check.problems.append(problem)

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
    return code_page, strings, dialogs


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
    return text


# The language's sources, read the way the resource compiler reads them: #define lines of string
# literals and macro names, and the string table's "IDS_NAME text" lines.
TOKEN = re.compile(r'"(?:[^"]|"")*"|[A-Za-z_]\w*')


def read_defines(path):
    with open(path, encoding="utf-8-sig") as f:
        source = re.sub(r"/\*.*?\*/", " ", f.read(), flags=re.S)
    defines = dict(re.findall(r"^[ \t]*#[ \t]*define[ \t]+(\w+)[ \t]+(.*?)[ \t]*$", source, re.M))
    return source, defines


def expand(expression, defines, depth=0):
    """The text of a sequence of string literals and macros, or None when it is no text."""
    tokens = TOKEN.findall(expression)
    if not tokens or depth > 10:
        return None
    text = ""
    for token in tokens:
        if token.startswith('"'):
            text += token[1:-1].replace('""', '"')
        elif token in defines:
            part = expand(defines[token], defines, depth + 1)
            if part is None:
                return None
            text += part
        else:
            return None
    return text


def read_source_texts(texts_path):
    """({string number: text}, {TXT_ name: text}) of a language's texts.rc."""
    source, defines = read_defines(texts_path)
    _, shared = read_defines(os.path.join(ROOT, "resources", "version.h"))
    _, ids = read_defines(os.path.join(ROOT, "app", "resource_ids.h"))
    defines = dict(shared, **defines)
    texts = {name: expand(value, defines) for name, value in defines.items()
             if name.startswith("TXT_")}
    strings = {}
    table = re.search(r"^\s*STRINGTABLE\b.*?^\s*BEGIN\s*$(.*?)^\s*END\s*$", source, re.S | re.M)
    for name, value in re.findall(r"^\s*(IDS_\w+)\s+(.+?)\s*$", table.group(1) if table else "",
                                  re.M):
        strings[int(ids[name].split()[0])] = expand(value, defines)
    texts["TXT_VERSION_LINE"] = "%s %s" % (texts.get("TXT_VERSION_LABEL"),
                                           expand("ZYN_VERSION_TEXT", defines))
    return strings, texts


def trail_backslash_characters(text, code_page):
    """The double-byte characters of `text` whose second byte in `code_page` is 0x5C."""
    found = []
    for char in text:
        try:
            encoded = char.encode(code_page)
        except UnicodeEncodeError:
            continue
        if len(encoded) == 2 and encoded[1] == 0x5C:
            found.append(char)
    return found


def compare_with_sources(check, code_page, strings, dialogs, texts_path):
    """Checks that the library holds the source's texts; answers the characters with trail byte
    0x5C that were compared."""
    source_strings, source_texts = read_source_texts(texts_path)

    def same(built, source):
        try:
            return built.encode(code_page) == source.encode(code_page)
        except (AttributeError, UnicodeEncodeError):
            return False

    compared = []
    for number in range(1, 10):
        source = source_strings.get(number)
        if check.expect(source is not None, "%s: string %d has no text" % (texts_path, number)):
            check.expect(same(strings.get(number, ""), source),
                         "string %d reads %r, the source says %r"
                         % (number, strings.get(number, ""), source))
            compared.append(source)
    shown = [text for dialog in dialogs.values()
             for text in [dialog["caption"]] + [c["text"] for c in dialog["controls"]]
             if isinstance(text, str) and text]
    for name, source in sorted(source_texts.items()):
        if name == "TXT_FILE_DESCRIPTION" or name == "TXT_VERSION_LABEL":
            continue  # the version block's description; the label is shown with the version
        if check.expect(source is not None, "%s: %s is no text" % (texts_path, name)):
            check.expect(any(same(text, source) for text in shown),
                         "no dialog shows %s %r as written in the source" % (name, source))
            compared.append(source)
    sources = set(filter(None, source_texts.values()))
    for text in shown:
        check.expect(any(same(text, source) for source in sources),
                     "dialog text %r is not in the source" % text)
    return [c for text in compared for c in trail_backslash_characters(text, code_page)]


def compare_license(check, installed, source_path, code_page):
    with open(source_path, encoding="utf-8-sig") as f:
        lines = f.read().splitlines()
    expected = "".join(line + "\r\n" for line in lines).encode(code_page, "replace")
    check.expect(installed == expected,
                 "license text differs from %s converted to code page %s"
                 % (source_path, code_page[2:]))
    return trail_backslash_characters("\n".join(lines), code_page)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("library")
    parser.add_argument("license")
    parser.add_argument("--texts", help="the language's texts.rc (UTF-8)")
    parser.add_argument("--license-source", help="the language's license.txt (UTF-8)")
    parser.add_argument("--folder", help="the language folder the library is installed to")
    args = parser.parse_args(argv[1:])
    check = Checker()
    code_page, strings, dialogs = check_library(check, args.library)
    installed = check_license(check, args.license, code_page)
    if args.folder in PROGRAM_FOLDERS:
        # A folder the program knows must hold a language for which the program picks it.
        language = min(check.languages) if check.languages else None
        check.expect(language is not None and program_folder(language) == args.folder,
                     "the program loads %s for language %s, not this library"
                     % (args.folder, "none" if language is None else "0x%04X" % language))
    trail = []
    if args.texts and all(number in dialogs for number in (101, 105, 108)):
        trail += compare_with_sources(check, code_page, strings, dialogs, args.texts)
    if args.license_source:
        trail += compare_license(check, installed, args.license_source, code_page)
    for problem in check.problems:
        print("%s: %s" % (args.library, problem))
    if not check.problems:
        print("%s: resource library and license text as expected (code page %s%s)"
              % (args.library, code_page[2:],
                 ", %d characters with trail byte 0x5C read back unchanged: %s"
                 % (len(trail), "".join(sorted(set(trail)))) if trail else ""))
    return 1 if check.problems else 0


if __name__ == "__main__":
    sys.stdout.reconfigure(errors="backslashreplace")
    sys.exit(main(sys.argv))
