"""zynid's result dialog, driven through the test build zynid_testchannel, whose device calls are
answered from a side file: the SMBIOS table goes through the real reader and the real address
check. The NT road (Wine's default version)."""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent / "zynid"))
from harness import E2ETestCase, VK  # noqa: E402
import zynid_e2e as z  # noqa: E402

BOARD = z.board_table(b"Orvex Boards Inc.", b"ZB-100 Pro")


class ResultDialog(E2ETestCase):
    session_scope = "class"

    def run_to_result(self, side_file, library=None, texts=None):
        s = self.session
        root = z.install(s, program="zynid_testchannel", side_file=side_file, library=library)
        app = z.start(s, root)
        z.agreement(s, texts).click(1)
        return app, z.result(s, texts)

    def test_title_texts_menu_icons_and_about_box(self):
        s, eng = self.session, z.english()
        app, dlg = self.run_to_result(z.side_file(probe=0x0101, table=BOARD))
        self.assertEqual(dlg.title, eng.string(8))
        self.assertEqual([dlg.text(i) for i in (1002, 1003, 1004)],
                         ["Orvex Boards Inc.", "ZB-100 Pro", eng.string(3)])

        # The system menu ends with a separator and the about item (Wine adds one of its own).
        menu = z.system_menu(s, dlg)
        self.assertEqual(menu[-2:], [(0, "-"), (z.ABOUT_ITEM, eng.string(1))])
        self.assertEqual([i for i, _ in menu].count(z.ABOUT_ITEM), 1)

        # Icon 107 as the large and small icon and as the drag icon.
        icons = z.icons(s, dlg)
        self.assertNotEqual(icons["big"], 0)
        self.assertEqual(icons["small"], icons["big"])
        self.assertEqual(icons["drag"], icons["big"])

        # The about item opens the about box over the result dialog, which waits for it.
        self.assertEqual(z.inside(s, dlg, z.ABOUT_ITEM), "invoked")
        about = s.wait_window(title=eng.captions[105])
        self.assertFalse(dlg.enabled)
        about.click(1)
        about.wait_gone(5)
        self.assertTrue(dlg.enabled)
        # System commands are compared without their low four bits: 16 to 31 all mean "about".
        dlg.syscommand(0x1F)
        about = s.wait_window(title=eng.captions[105])
        about.key(VK.ESCAPE)
        about.wait_gone(5)

        # The help command answers with the information sound, once, and the dialog stays.
        self.assertEqual(z.inside(s, dlg, z.HOOK_COUNT_BEEPS), "counting")
        dlg.command(z.HELP_COMMAND)
        dlg.sync()
        self.assertEqual(z.inside(s, dlg, z.HOOK_REPORT_BEEPS), "beeps=1")
        self.assertFalse(dlg.is_gone())

        # A second start while the result is up ends silently.
        z.ends_silently(self, z.start(s, s.drive_c / "ZYN"))

        dlg.click(1)
        self.assertEqual(app.wait(10), 0)

    def test_tables_and_verdicts(self):
        eng = z.english()
        two_boards = (z.board_structure(b"First", b"One", 1) + z.board_structure(b"Second", b"Two", 2)
                      + z.end_structure(3), 3)
        no_board = (z.end_structure(1), 1)
        cases = [
            # name, side file, manufacturer, product, verdict string
            ("high byte only", z.side_file(0x0100, BOARD), "Orvex Boards Inc.", "ZB-100 Pro", 4),
            ("low byte only", z.side_file(0x0001, BOARD), "Orvex Boards Inc.", "ZB-100 Pro", 4),
            ("table in two pieces", z.side_file(0xFFFF, BOARD, head=11),
             "Orvex Boards Inc.", "ZB-100 Pro", 3),
            ("first of two boards", z.side_file(0x0101, two_boards), "First", "One", 3),
            ("no base board", z.side_file(0x0101, no_board), "", "", 3),
            ("empty table", z.side_file(0x0000), "", "", 4),
        ]
        for name, side, maker, product, verdict in cases:
            with self.subTest(name):
                app, dlg = self.run_to_result(side)
                self.assertEqual([dlg.text(i) for i in (1002, 1003, 1004)],
                                 [maker, product, eng.string(verdict)])
                dlg.close()
                self.assertEqual(app.wait(10), 0)

    def test_failed_requests_show_string_5(self):
        s = self.session
        for name, failures in (("probe", z.PROBE_FAILS), ("get-table", z.GET_TABLE_FAILS),
                               ("release-table", z.RELEASE_FAILS)):
            with self.subTest(name):
                root = z.install(s, program="zynid_testchannel",
                                 side_file=z.side_file(table=BOARD, failures=failures))
                app = z.start(s, root)
                z.agreement(s).click(1)
                box, text = z.message_box(s)
                self.assertEqual(text, z.english().string(5))
                box.click(1)
                self.assertEqual(app.wait(10), 0)

    def test_library_without_about_text_and_icon(self):
        # No string 1: neither the separator nor the item; no icon 107: no icons of the window
        # (dragging then shows the platform's default picture).
        s = self.session
        bare = z.Texts(z.bare_library())
        app, dlg = self.run_to_result(z.side_file(table=BOARD), z.bare_library(), bare)
        menu = z.system_menu(s, dlg)
        self.assertNotIn(z.ABOUT_ITEM, [i for i, _ in menu])
        self.assertNotEqual(menu[-1], (0, "-"))
        icons = z.icons(s, dlg)
        self.assertEqual((icons["big"], icons["small"]), (0, 0))
        dlg.click(1)
        self.assertEqual(app.wait(10), 0)


if __name__ == "__main__":
    unittest.main()
