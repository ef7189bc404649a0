#!/usr/bin/env python3
"""Prepares one language folder for the resource compiler and for the install.

Usage: convert_texts.py LANG_DIR OUT_DIR

The sources of a language are UTF-8: LANG_DIR/texts.rc and LANG_DIR/license.txt. The program
reads every text as 8-bit text in the language's ANSI code page, named in texts.rc by
ZYN_TRANSLATION (language identifier, code page). This step

* checks that every character of both files exists in that code page, and fails naming the file,
  line and column of the first one that does not (a character Windows would show as "?");
* writes OUT_DIR/texts.rc for windres: still UTF-8, and opened with #pragma code_page(65001).
  In UTF-8 every byte of a multi-byte character is 0x80 or above, so the resource compiler never
  sees a 0x5C that is not a backslash; a source in 932, 936 or 950 would hand it trail bytes 0x5C
  that it reads as escapes, and the character and the rest of its string are lost. windres stores
  the texts as UTF-16, which Windows converts to the system's code page when the program asks;
* writes OUT_DIR/license.txt in the code page with CR LF line ends: the program shows that file
  byte for byte, without conversion.
"""

import codecs
import os
import re
import sys

TRANSLATION = re.compile(r"^\s*#\s*define\s+ZYN_TRANSLATION\s+(0x[0-9A-Fa-f]+|\d+)\s*,\s*(\d+)",
                         re.MULTILINE)


class ConversionError(Exception):
    pass


def code_page_of(texts):
    """(language identifier, Python codec name) from the ZYN_TRANSLATION line of a texts.rc."""
    found = TRANSLATION.search(texts)
    if not found:
        raise ConversionError("no ZYN_TRANSLATION (language identifier, code page) defined")
    codec = "cp%d" % int(found.group(2))
    try:
        codecs.lookup(codec)
    except LookupError:
        raise ConversionError("code page %s of ZYN_TRANSLATION is unknown" % found.group(2))
    return int(found.group(1), 0), codec


def read_utf8(path):
    with open(path, "rb") as f:
        data = f.read()
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        line = data[:error.start].count(b"\n") + 1
        raise ConversionError("%s:%d: not UTF-8 text" % (path, line))
    return text[1:] if text.startswith("\ufeff") else text


def check_code_page(path, text, codec):
    """Fails at the first character that the code page cannot hold, or at a zero character."""
    for number, line in enumerate(text.split("\n"), 1):
        for column, char in enumerate(line, 1):
            if char == "\0":
                raise ConversionError("%s:%d:%d: zero character" % (path, number, column))
            try:
                char.encode(codec)
            except UnicodeEncodeError:
                raise ConversionError("%s:%d:%d: character U+%04X '%s' does not exist in code page %s"
                                      % (path, number, column, ord(char), char, codec[2:]))


def convert(lang_dir, out_dir):
    texts_path = os.path.join(lang_dir, "texts.rc")
    license_path = os.path.join(lang_dir, "license.txt")
    texts = read_utf8(texts_path)
    try:
        _, codec = code_page_of(texts)
    except ConversionError as error:
        raise ConversionError("%s: %s" % (texts_path, error))
    check_code_page(texts_path, texts, codec)

    license_text = read_utf8(license_path)
    check_code_page(license_path, license_text, codec)
    lines = license_text.replace("\r\n", "\n").replace("\r", "\n").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    if not "".join(lines).strip():
        raise ConversionError("%s: the license text is empty" % license_path)

    os.makedirs(out_dir, exist_ok=True)
    # The pragma comes first whatever the source says: windres must read these bytes as UTF-8.
    with open(os.path.join(out_dir, "texts.rc"), "w", encoding="utf-8", newline="\n") as f:
        f.write("#pragma code_page(65001)\n#line 1 \"%s\"\n" % texts_path.replace("\\", "/"))
        f.write(texts)
    with open(os.path.join(out_dir, "license.txt"), "wb") as f:
        f.write("".join(line + "\r\n" for line in lines).encode(codec))


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    try:
        convert(argv[1], argv[2])
    except (ConversionError, OSError) as error:
        sys.stderr.write("convert_texts: %s\n" % error)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
