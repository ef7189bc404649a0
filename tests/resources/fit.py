"""Estimates whether the texts of a resource library's dialogs fit their controls.

No font is at hand where the libraries are built, so the width of a text is estimated from the
dialog font's glyph widths at 96 dots per inch: MS Sans Serif 8 pt (the western dialog font,
dialog base units 6 x 13 pixels), and the 9 pt fonts of the double-byte scripts (12-pixel
ideographs and syllables, half-width Latin of 6 pixels or proportional, base units 6 x 12). It
catches a label that obviously cannot fit, not a pixel.

Dialog units convert to pixels by the base units: x * base_x / 4, y * base_y / 8. A static text
wraps at spaces (and between ideographs) over as many lines as its height holds; a button, group
box title or caption has one line.
"""

import unicodedata

# Pixel widths of MS Sans Serif 8 pt at 96 dpi for code page 1252 characters 0x20 to 0xFF, as
# Wine's metric-compatible bitmap font (sserife.fon) has them. The dialog base unit, the mean of
# A-Z and a-z rounded as the system does it, comes out at 6.
SANS_SERIF_8 = bytes([
    3, 3, 5, 7, 6, 8, 6, 2, 3, 3, 4, 6, 3, 3, 3, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 3, 3, 6, 6, 6, 6,
    11, 7, 7, 7, 8, 7, 6, 8, 8, 3, 5, 7, 6, 9, 8, 8, 7, 8, 8, 7, 7, 8, 7, 11, 7, 7, 7, 3, 5, 3, 6, 6,
    3, 6, 6, 6, 6, 6, 3, 6, 6, 2, 2, 6, 2, 8, 6, 6, 6, 6, 3, 5, 3, 6, 6, 8, 5, 5, 5, 4, 2, 4, 7, 3,
    6, 3, 3, 3, 5, 6, 5, 5, 3, 11, 7, 6, 10, 3, 7, 3, 3, 3, 3, 4, 4, 6, 5, 6, 3, 9, 5, 6, 10, 3, 5, 7,
    3, 3, 6, 6, 6, 6, 2, 6, 3, 9, 4, 6, 6, 3, 8, 6, 4, 6, 3, 3, 3, 6, 6, 3, 3, 3, 4, 6, 8, 8, 8, 6,
    7, 7, 7, 7, 7, 7, 10, 7, 7, 7, 7, 7, 3, 3, 3, 3, 8, 8, 8, 8, 8, 8, 8, 6, 8, 8, 8, 8, 8, 7, 7, 6,
    6, 6, 6, 6, 6, 6, 10, 6, 6, 6, 6, 6, 2, 4, 4, 4, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 5, 6, 5,
])
UNKNOWN_WIDTH = 8  # a character outside code page 1252: as wide as the widest letters

# Double-byte fonts whose Latin letters are all half an ideograph wide; the others space them
# proportionally, much as MS Sans Serif does.
MONOSPACED_LATIN = {"宋体", "新宋体", "細明體", "ＭＳ ゴシック", "굴림체"}

# Window parts in pixels that a caption shares its title bar with: the frame and the close box,
# and the minimise box where the dialog has one.
CAPTION_FIXED = 30
CAPTION_BOX = 18
WS_MINIMIZEBOX = 0x00020000
BUTTON, STATIC = 0x80, 0x82
BS_GROUPBOX = 7
SS_NOPREFIX = 0x80


class Font:
    def __init__(self, face, points):
        self.face = face
        self.double_byte = any(ord(c) > 0x7F for c in face) or face == "MS UI Gothic"
        # Base units of the dialog font: 6 x 13 for MS Sans Serif 8, 6 x 12 at 9 pt in the
        # double-byte fonts; larger sizes scale.
        self.base_x = 6.0 * points / (9 if self.double_byte else 8)
        self.base_y = (12.0 if self.double_byte else 13.0) * points / (9 if self.double_byte else 8)

    def char_width(self, char):
        """Width in pixels of one character."""
        if unicodedata.east_asian_width(char) in "WF":
            return 2 * self.base_x
        if self.face in MONOSPACED_LATIN and ord(char) < 0x80:
            return self.base_x  # the fixed half-width Latin of these fonts
        try:
            code = char.encode("cp1252")[0] if char >= " " else None
        except UnicodeEncodeError:
            code = None
        width = SANS_SERIF_8[code - 0x20] if code is not None else UNKNOWN_WIDTH
        # The double-byte fonts draw their proportional Latin at 9 pt: a tenth wider.
        return width * (1.1 if self.double_byte else 1.0)

    def width(self, text):
        return sum(self.char_width(c) for c in text)


def shown_text(text, prefix):
    """The text as drawn: "&x" shows x underlined, "&&" an ampersand (unless no prefix)."""
    if not prefix:
        return text
    shown, i = "", 0
    while i < len(text):
        if text[i] == "&" and i + 1 < len(text):
            i += 1
        shown += text[i]
        i += 1
    return shown


def breakable_after(text, i):
    """May a line end after text[i]? At spaces, and between two ideographs or kana (Hangul
    words stay whole, as the Korean system breaks them at spaces)."""
    if text[i] == " ":
        return True
    if i + 1 >= len(text):
        return True

    def ideographic(c):
        return unicodedata.east_asian_width(c) in "WF" and not ("\uac00" <= c <= "\ud7a3")

    return ideographic(text[i]) or ideographic(text[i + 1])


def lines_needed(font, text, width):
    """Lines that `text` wraps into at `width` pixels (greedy, as the system draws it)."""
    lines, start, last_break, i = 1, 0, None, 0
    while i < len(text):
        if font.width(text[start:i + 1].rstrip(" ")) > width:
            if last_break is None or last_break < start:
                return None  # a word longer than the line: cut whatever the height
            lines += 1
            start = last_break + 1
            last_break = None
            continue
        if breakable_after(text, i):
            last_break = i
        i += 1
    return lines


def check_static(font, where, text, width, height):
    px_width = width * font.base_x / 4
    available = max(1, height // 8)  # a line of the dialog font is 8 DLU high
    needed = lines_needed(font, text, px_width)
    if needed is None or needed > available:
        return ["%s: %r needs %s at %d DLU wide, the control holds %d"
                % (where, text, "more than a line for one word" if needed is None
                   else "%d lines" % needed, width, available)]
    return []


def check_line(font, where, text, room, scale=1.0):
    need = font.width(text) * scale
    if need > room:
        return ["%s: %r needs about %d DLU, it has %d"
                % (where, text, round(need * 4 / font.base_x), round(room * 4 / font.base_x))]
    return []


def check_dialogs(dialogs, strings):
    """Problems with text that cannot fit, for dialogs parsed by check_library.parse_dialog."""
    problems = []
    for number, dialog in sorted(dialogs.items()):
        if dialog["font"] is None:
            continue
        font = Font(dialog["font"][1], dialog["font"][0])
        room = dialog["cx"] * font.base_x / 4 - CAPTION_FIXED
        if dialog["style"] & WS_MINIMIZEBOX:
            room -= CAPTION_BOX
        # The caption is drawn in the bold caption font, about a tenth wider.
        caption = dialog["caption"] if isinstance(dialog["caption"], str) else ""
        problems += check_line(font, "dialog %d caption" % number, caption, room, 1.1)
        for control in dialog["controls"]:
            text = control["text"]
            if control["id"] == 1004 and number == 101:
                texts = [strings.get(3, ""), strings.get(4, "")]  # the verdicts land here
            else:
                texts = [text] if isinstance(text, str) and text else []
            where = "dialog %d control %d" % (number, control["id"])
            for text in texts:
                if control["cls"] == STATIC:
                    shown = shown_text(text, not control["style"] & SS_NOPREFIX)
                    problems += check_static(font, where, shown, control["w"], control["h"])
                elif control["cls"] == BUTTON and control["style"] & 0xF == BS_GROUPBOX:
                    room = (control["w"] - 10) * font.base_x / 4
                    problems += check_line(font, where, shown_text(text, True), room)
                elif control["cls"] == BUTTON:
                    room = (control["w"] - 6) * font.base_x / 4
                    problems += check_line(font, where, shown_text(text, True), room)
    return problems
