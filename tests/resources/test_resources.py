"""Tests of the resource build: the code-page check of convert_texts.py, double-byte characters
whose trail byte is 0x5C through the whole build, and the text-fit estimate.

Run by ctest in the win32 build, which passes the tools in ZYN_WINDRES and ZYN_CC.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
# The build's own scripts and the language folders.
RESOURCES = os.path.join(ROOT, "resources")
CONVERTER = os.path.join(RESOURCES, "convert_texts.py")
sys.path.insert(0, HERE)
sys.path.insert(0, RESOURCES)

import check_library  # noqa: E402
import convert_texts  # noqa: E402
import fit  # noqa: E402

# The shipped language whose texts each double-byte code page's case starts from.
LANGUAGE_OF = {"cp932": "Jpn", "cp936": "Chs", "cp950": "Cht", "cp949": "Kor"}


def trail_backslash_characters(code_page):
    """Every character of a double-byte code page that is encoded as lead byte, 0x5C."""
    found = []
    for lead in range(0x81, 0x100):
        try:
            char = bytes([lead, 0x5C]).decode(code_page)
        except UnicodeDecodeError:
            continue
        if len(char) == 1 and char.encode(code_page) == bytes([lead, 0x5C]):
            found.append(char)
    return "".join(found)


def copy_language(lang, to):
    shutil.copytree(os.path.join(RESOURCES, lang), to)


def replace_define(path, name, value):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    text, count = re.subn(r"^(#define %s ).*$" % name, lambda m: m.group(1) + value, text,
                          flags=re.M)
    assert count == 1, name
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


class ConvertTextsTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.lang = os.path.join(self.work, "Jpn")
        copy_language("Jpn", self.lang)
        self.out = os.path.join(self.work, "out")

    def tearDown(self):
        shutil.rmtree(self.work)

    def run_converter(self):
        return subprocess.run([sys.executable, CONVERTER, self.lang, self.out],
                              capture_output=True, text=True)

    def test_character_missing_from_the_code_page_fails_naming_file_line_and_column(self):
        texts = os.path.join(self.lang, "texts.rc")
        replace_define(texts, "TXT_VERDICT_LABEL", '"判定 ©:"')
        with open(texts, encoding="utf-8") as f:
            line = next(n for n, text in enumerate(f, 1) if "TXT_VERDICT_LABEL" in text)
        result = self.run_converter()
        self.assertEqual(result.returncode, 1)
        self.assertIn("%s:%d:" % (texts, line), result.stderr)
        self.assertIn("U+00A9", result.stderr)
        self.assertIn("code page 932", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.out, "texts.rc")))

    def test_license_character_missing_from_the_code_page_fails_naming_its_line(self):
        with open(os.path.join(self.lang, "license.txt"), "a", encoding="utf-8") as f:
            f.write("\n“Ü” € ©\n")
        result = self.run_converter()
        self.assertEqual(result.returncode, 1)
        self.assertRegex(result.stderr, r"license\.txt:\d+:\d+: character U\+\w+ ")

    def test_texts_without_a_code_page_fail(self):
        replace_define(os.path.join(self.lang, "texts.rc"), "ZYN_TRANSLATION", "")
        result = self.run_converter()
        self.assertEqual(result.returncode, 1)
        self.assertIn("ZYN_TRANSLATION", result.stderr)

    def test_license_is_written_in_the_code_page_with_cr_lf(self):
        with open(os.path.join(self.lang, "license.txt"), "w", encoding="utf-8",
                  newline="") as f:
            f.write("\ufeff表示\r\nソフト\n\n能力\n")
        self.assertEqual(self.run_converter().returncode, 0, self.run_converter().stderr)
        with open(os.path.join(self.out, "license.txt"), "rb") as f:
            self.assertEqual(f.read(), "表示\r\nソフト\r\n\r\n能力\r\n".encode("cp932"))
        with open(os.path.join(self.out, "texts.rc"), encoding="utf-8") as f:
            self.assertEqual(f.readline(), "#pragma code_page(65001)\n")


@unittest.skipUnless(os.environ.get("ZYN_WINDRES") and os.environ.get("ZYN_CC"),
                     "needs the resource compiler and linker of the win32 build")
class TrailByteTest(unittest.TestCase):
    """Every double-byte character whose trail byte is 0x5C, in a dialog and a string of a
    library built the way the shipped ones are, reads back as the source has it."""

    def build(self, lang_dir, out):
        env = os.environ
        subprocess.run([sys.executable, CONVERTER, lang_dir, out], check=True)
        obj = os.path.join(out, "ZYNRes.res.o")
        library = os.path.join(out, "ZYNRes.lrc")
        subprocess.run([env["ZYN_WINDRES"], "-O", "coff", "-I", out, "-I", RESOURCES,
                        "-I", env["ZYN_RESOURCE_BINARY_DIR"], "-I", ROOT,
                        "-i", os.path.join(RESOURCES, "library.rc"), "-o", obj], check=True)
        link_script = os.path.join(RESOURCES, "resource_only.ld")
        subprocess.run([env["ZYN_CC"], "-shared", "-nostdlib", "-Wl,-e,0", "-s",
                        "-Wl,-T," + link_script, "-o", library, obj], check=True)
        return library

    def test_every_trail_backslash_character_survives_the_build(self):
        for code_page in ("cp932", "cp936", "cp950"):
            with self.subTest(code_page=code_page), tempfile.TemporaryDirectory() as work:
                chars = trail_backslash_characters(code_page)
                self.assertGreater(len(chars), 40)
                lang = os.path.join(work, "lang")
                copy_language(LANGUAGE_OF[code_page], lang)
                texts = os.path.join(lang, "texts.rc")
                # A trail byte 0x5C before a closing quote, a doubled quote, "n" and "t" is
                # what a resource compiler reading the code page would take for an escape.
                replace_define(texts, "TXT_BOARD_GROUP", '"%s"' % chars[:2])
                tricky = "".join(c + "nt"[i % 2] for i, c in enumerate(chars[:6]))
                replace_define(texts, "TXT_VERDICT_LABEL", '"%s"' % chars[-1])
                with open(texts, encoding="utf-8") as f:
                    source = f.read()
                source = re.sub(r'(IDS_NT_CHANNEL_FAILED ).*', lambda m: m.group(1) + '"%s%s""%s"'
                                % (chars, tricky, chars[0]), source)
                with open(texts, "w", encoding="utf-8") as f:
                    f.write(source)
                with open(os.path.join(lang, "license.txt"), "w", encoding="utf-8") as f:
                    f.write("%s\n%s\n" % (chars, chars[::-1]))

                out = os.path.join(work, "out")
                library = self.build(lang, out)
                with open(library, "rb") as f:
                    resources = check_library.PeImage(f.read()).resources()
                strings = check_library.parse_strings(resources)
                expected = (chars + tricky + '"' + chars[0]).encode(code_page)
                self.assertEqual(strings[2].encode(code_page), expected)
                result = subprocess.run([sys.executable, os.path.join(HERE, "check_library.py"),
                                         library, os.path.join(out, "license.txt"),
                                         "--texts", texts, "--license-source",
                                         os.path.join(lang, "license.txt")],
                                        capture_output=True, text=True)
                self.assertEqual(result.returncode, 0, result.stdout)

    def test_korean_code_page_has_no_trail_backslash(self):
        # Unified Hangul Code puts its trail bytes at 0x41-0x5A, 0x61-0x7A and 0x81-0xFE.
        self.assertEqual(trail_backslash_characters("cp949"), "")

    def test_shipped_libraries_hold_trail_backslash_characters(self):
        # Not vacuous: the shipped Japanese and traditional Chinese texts carry such characters,
        # and their ctest case compares them with the sources.
        for lang, code_page in (("Jpn", "cp932"), ("Cht", "cp950")):
            source = os.path.join(RESOURCES, lang)
            strings, texts = check_library.read_source_texts(os.path.join(source, "texts.rc"))
            every = "".join(filter(None, list(strings.values()) + list(texts.values())))
            with open(os.path.join(source, "license.txt"), encoding="utf-8") as f:
                every += f.read()
            self.assertTrue(check_library.trail_backslash_characters(every, code_page), lang)


@unittest.skipUnless(os.environ.get("ZYN_BUILD_DIR") and os.environ.get("ZYN_CMAKE"),
                     "needs the win32 build tree")
class InstallTest(unittest.TestCase):
    def test_every_language_folder_is_installed_complete(self):
        languages = sorted(name for name in os.listdir(RESOURCES)
                           if os.path.isfile(os.path.join(RESOURCES, name, "texts.rc")))
        self.assertGreaterEqual(len(languages), 9)
        built = os.path.join(os.environ["ZYN_BUILD_DIR"], "resources")
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run([os.environ["ZYN_CMAKE"], "--install", os.environ["ZYN_BUILD_DIR"],
                            "--prefix", prefix], check=True, capture_output=True)
            for lang in languages:
                with self.subTest(lang=lang):
                    for name in ("ZYNRes.lrc", "license.txt"):
                        with open(os.path.join(prefix, lang, name), "rb") as f:
                            installed = f.read()
                        with open(os.path.join(built, lang, name), "rb") as f:
                            self.assertEqual(installed, f.read(), name)


class FitTest(unittest.TestCase):
    """The estimate flags what cannot fit and passes what does."""

    def dialog(self, face, points, controls, cx=200, caption="Title"):
        return {1: dict(style=0, caption=caption, cx=cx, cy=100, font=(points, face),
                        controls=controls)}

    def control(self, cls, text, w, h, style=0, ident=-1):
        return dict(id=ident, cls=cls, style=style, x=0, y=0, w=w, h=h, text=text)

    def test_cases(self):
        western, japanese = ("MS Sans Serif", 8), ("ＭＳ Ｐゴシック", 9)
        cases = [
            # font, class, text, width, height, fits
            (western, fit.STATIC, "Manufacturer:", 60, 8, True),
            (western, fit.STATIC, "Hauptplatinenhersteller:", 60, 8, False),
            (western, fit.STATIC, "Nicht bestanden: Der Treiber erkennt diese Hauptplatine nicht.",
             167, 18, True),
            (western, fit.STATIC, "Nicht bestanden: Der Treiber erkennt diese Hauptplatine nicht.",
             167, 8, False),
            (western, fit.BUTTON, "I &Decline", 50, 14, True),
            (western, fit.BUTTON, "Ich lehne &ab, danke", 50, 14, False),
            (japanese, fit.BUTTON, "同意する(&A)", 50, 14, True),
            (japanese, fit.BUTTON, "同意しない(&D)", 50, 14, False),
            (japanese, fit.STATIC, "製造元:", 60, 8, True),
            (japanese, fit.STATIC, "マザーボードの製造元の名前:", 60, 8, False),
            # Ideographs wrap between any two of them, so two lines hold this.
            (japanese, fit.STATIC, "次の使用許諾契約をお読みください。この契約に同意する必要が"
             "あります。", 160, 16, True),
        ]
        for (face, points), cls, text, w, h, fits in cases:
            with self.subTest(text=text, w=w, h=h):
                problems = fit.check_dialogs(self.dialog(face, points, [
                    self.control(cls, text, w, h)]), {})
                self.assertEqual(not problems, fits, problems)

    def test_long_caption_is_flagged(self):
        problems = fit.check_dialogs(self.dialog("MS Sans Serif", 8, [], cx=100,
                                                 caption="ZYN ID Utility - Lizenzvertrag"), {})
        self.assertTrue(problems)

    def test_verdicts_are_checked_in_the_verdict_field(self):
        dialogs = {101: dict(style=0, caption="", cx=250, cy=100, font=(8, "MS Sans Serif"),
                             controls=[self.control(fit.STATIC, "", 167, 18, ident=1004)])}
        self.assertFalse(fit.check_dialogs(dialogs, {3: "Passed.", 4: "Not passed."}))
        self.assertTrue(fit.check_dialogs(dialogs, {3: "Passed.", 4: "Not passed " * 10}))


if __name__ == "__main__":
    unittest.main()
