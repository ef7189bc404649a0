"""zynid up to and through its license agreement: the text as shown, the caret, and every way
out of the dialog (the shipped program, with no driver present)."""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent / "zynid"))
from harness import E2ETestCase, VK  # noqa: E402
import zynid_e2e as z  # noqa: E402


class Agreement(E2ETestCase):
    session_scope = "class"

    def test_license_shown_byte_for_byte(self):
        # The edit control gets the file as 8-bit text: no line-end or character-set conversion,
        # and it ends at a first zero byte. The program's code page here is 1252.
        cases = [
            ("shipped license", z.shipped_license().read_bytes(), None),
            ("bare line feeds and 8-bit bytes", b"caf\xe9 \xa9 1999\nsecond\n\nthird", None),
            ("zero byte", b"shown\r\nalso shown\0never shown", b"shown\r\nalso shown"),
            ("empty file", b"", b""),
        ]
        s = self.session
        for name, license, shown in cases:
            with self.subTest(name):
                app = z.start(s, z.install(s, license=license))
                dlg = z.agreement(s)
                expected = (license if shown is None else shown).decode("cp1252")
                self.assertEqual(dlg.text(1006), expected)
                # The edit has the focus, with the caret at the start and nothing selected.
                self.assertEqual(z.focus_and_selection(s, dlg), (1006, (0, 0)))
                dlg.click(2)
                z.ends_silently(self, app)

    def test_caret_back_at_start_whenever_the_text_gets_the_focus(self):
        s = self.session
        app = z.start(s, z.install(s, license=z.shipped_license().read_bytes()))
        dlg = z.agreement(s)
        for _ in range(2):
            self.assertEqual(z.focus_and_selection(s, dlg, refocus=True), (1006, (0, 0)))
        dlg.click(2)
        z.ends_silently(self, app)

    def test_every_way_but_accept_declines(self):
        ways = {
            "decline button": lambda dlg: dlg.click(2),
            "close box": lambda dlg: dlg.syscommand(z.SC_CLOSE),
            "escape key": lambda dlg: dlg.key(VK.ESCAPE),
        }
        s = self.session
        for name, decline in ways.items():
            with self.subTest(name):
                app = z.start(s, z.install(s))
                decline(z.agreement(s))
                z.ends_silently(self, app)

    def test_accept_goes_on_to_the_hardware(self):
        # The install folder, which is also the current folder, holds no ZYNDRV.sys, so the driver
        # cannot be installed: one message box with string 2, captioned with the program's name,
        # and the program ends when it is dismissed.
        s = self.session
        root = z.install(s)
        self.assertFalse((root / "ZYNDRV.sys").exists())
        app = z.start(s, root)
        z.agreement(s).click(1)
        box, text = z.message_box(s)
        self.assertEqual(text, z.english().string(2))
        box.click(1)
        self.assertEqual(app.wait(10), 0)

    def test_license_held_without_sharing_while_the_agreement_is_up(self):
        # A second start is not stopped by the running agreement (only a result dialog marks a
        # running instance), but the license is open without sharing, so it ends silently there.
        # Declining closes the file: the next start shows the agreement again.
        s = self.session
        root = z.install(s)
        first = z.start(s, root)
        dlg = z.agreement(s)
        z.ends_silently(self, z.start(s, root))
        self.assertFalse(dlg.is_gone())
        dlg.click(2)
        z.ends_silently(self, first)
        third = z.start(s, root)
        z.agreement(s).click(2)
        z.ends_silently(self, third)


if __name__ == "__main__":
    unittest.main()
