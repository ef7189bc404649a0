"""zynid in each of its nine languages, with that language's locale made the system default:
the program loads that language's folder, shows its license exactly, its result dialog's title,
verdict and about item, and its failure message. Texts are compared with what the built library
holds (itself checked against the sources by the resources_ tests)."""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent / "zynid"))
from harness import E2ETestCase, locale_env  # noqa: E402
import zynid_e2e as z  # noqa: E402

# Folder, a locale that Wine maps to it, and the ANSI code page of its texts.
LANGUAGES = [
    ("Chs", "zh_CN", "cp936"), ("Cht", "zh_TW", "cp950"), ("Deu", "de_DE", "cp1252"),
    ("Eng", "en_US", "cp1252"), ("Esn", "es_ES", "cp1252"), ("Fra", "fr_FR", "cp1252"),
    ("Ita", "it_IT", "cp1252"), ("Jpn", "ja_JP", "cp932"), ("Kor", "ko_KR", "cp949"),
]
BOARD = z.board_table(b"Orvex Boards Inc.", b"ZB-100 Pro")


class Languages(E2ETestCase):
    session_scope = "class"

    def start(self, root, locale):
        return self.session.start(root / "zynid.exe", cwd=root, env=locale_env(locale))

    def check_language(self, folder, locale, codepage):
        s = self.session
        texts = z.Texts(z.language_library(folder))
        license = z.built_license(folder).read_bytes()
        root = z.install(s, program="zynid_testchannel", language=folder, license=license,
                         side_file=z.side_file(0x0101, BOARD))
        app = self.start(root, locale)
        agreement = z.agreement(s, texts, timeout=20)
        self.assertEqual(agreement.text(1006), license.decode(codepage))
        agreement.click(1)
        result = z.result(s, texts, timeout=20)
        self.assertEqual(result.text(1004), texts.string(3))
        self.assertIn((z.ABOUT_ITEM, texts.string(1)), z.system_menu(s, result))
        result.click(1)
        self.assertEqual(app.wait(20), 0)

        # The shipped program without a driver image: string 2 of this language.
        root = z.install(s, language=folder, license=license)
        app = self.start(root, locale)
        z.agreement(s, texts, timeout=20).click(1)
        box, text = z.message_box(s)
        self.assertEqual(text, texts.string(2))
        box.click(1)
        self.assertEqual(app.wait(20), 0)

    def test_the_system_locale_decides_not_the_users(self):
        s = self.session
        for system, user, folder in (("de_DE", "fr_FR", "Deu"), ("fr_FR", "de_DE", "Fra")):
            with self.subTest(system=system, user=user):
                texts = z.Texts(z.language_library(folder))
                root = z.install(s, language=folder, license=z.built_license(folder).read_bytes())
                app = s.start(root / "zynid.exe", cwd=root, env=locale_env(system, user=user))
                z.agreement(s, texts, timeout=20).click(2)
                z.ends_silently(self, app)

    def test_a_locale_without_a_row_and_a_missing_folder(self):
        s = self.session
        # Russian has no row: English. A German system without the Deu folder ends silently.
        root = z.install(s)
        app = self.start(root, "ru_RU")
        z.agreement(s).click(2)
        z.ends_silently(self, app)
        z.ends_silently(self, self.start(root, "de_DE"))


# One test per language, so that a failure names its language and ctest can spread the
# languages over several processes.
for _folder, _locale, _codepage in LANGUAGES:
    setattr(Languages, f"test_in_its_own_locale_{_folder}",
            lambda self, f=_folder, l=_locale, c=_codepage: self.check_language(f, l, c))


if __name__ == "__main__":
    unittest.main()
