"""zynid on the 9x road: Wine reports the 9x family to zynid.exe only, so the program opens
ZYNDATA.VXD and sends the 9x request codes: to the test build, which answers only those on that
device, and to the stand-in zyndata.vxd serving the shipped Lenovo table."""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent / "zynid"))
from harness import E2ETestCase  # noqa: E402
import zynid_e2e as z  # noqa: E402

BOARD = z.board_table(b"Nine Boards", b"NB-98")


class Win98(E2ETestCase):
    session_scope = "class"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.session.set_windows_version("zynid.exe", "win98")

    def accept_and_read_message(self, root):
        return z.message_after_accept(self, self.session, root)

    def test_no_vxd_shows_string_6(self):
        self.assertEqual(self.accept_and_read_message(z.install(self.session)),
                         z.english().string(6))

    def test_result_through_the_9x_requests(self):
        s = self.session
        root = z.install(s, program="zynid_testchannel", side_file=z.side_file(0x0101, BOARD))
        app = z.start(s, root)
        z.agreement(s).click(1)
        dlg = z.result(s)
        self.assertEqual([dlg.text(i) for i in (1002, 1003, 1004)],
                         ["Nine Boards", "NB-98", z.english().string(3)])
        dlg.click(1)
        self.assertEqual(app.wait(10), 0)

    def test_failed_requests_show_string_7(self):
        for name, failures in (("probe", z.PROBE_FAILS), ("get-table", z.GET_TABLE_FAILS)):
            with self.subTest(name):
                root = z.install(self.session, program="zynid_testchannel",
                                 side_file=z.side_file(table=BOARD, failures=failures))
                self.assertEqual(self.accept_and_read_message(root), z.english().string(7))

    def test_board_shown_through_the_stand_in_vxd(self):
        s = self.session
        root = z.install(s)
        z.add_driver(root, family="9x", offset=4000)
        app = z.start(s, root)
        z.agreement(s).click(1)
        dlg = z.result(s, timeout=30)
        self.assertEqual((dlg.text(1002), dlg.text(1003)), ("LENOVO", "431924G"))
        dlg.click(1)
        self.assertEqual(app.wait(30), 0)
        self.assertFalse(z.service_registered(s), "the 9x road never touches the service manager")

    def test_stand_in_vxd_failures_show_their_9x_strings(self):
        s, eng = self.session, z.english()
        for fail in ("probe", "table"):
            with self.subTest(fail):
                root = z.install(s)
                z.add_driver(root, family="9x", fail=fail)
                self.assertEqual(self.accept_and_read_message(root), eng.string(7))


if __name__ == "__main__":
    unittest.main()
