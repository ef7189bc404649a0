"""The shipped zynid.exe on its NT hardware road with the stand-in driver, against Wine's real
service control manager (registered, started, read, stopped, deleted). The shipped Lenovo table
reaches its base board structure. The 9x road with the stand-in VxD is in test_zynid_win98.py."""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent / "zynid"))
from harness import E2ETestCase  # noqa: E402
import zynid_e2e as z  # noqa: E402


class NtRoad(E2ETestCase):
    session_scope = "class"

    def setUp(self):
        super().setUp()
        self.addCleanup(z.remove_service, self.session)

    def accept(self, root):
        s = self.session
        app = z.start(s, root)
        z.agreement(s).click(1)
        return app

    def message_after_accept(self, root):
        return z.message_after_accept(self, self.session, root)

    def test_board_shown_then_the_service_is_gone(self):
        eng, s = z.english(), self.session
        cases = [("one piece, both bytes set", {}, 3),
                 ("two pieces, high byte only", {"offset": 4000, "probe": "0x0100"}, 4)]
        for name, settings, verdict in cases:
            with self.subTest(name):
                root = z.install(s)
                z.add_driver(root, **settings)
                app = self.accept(root)
                dlg = z.result(s, timeout=30)
                self.assertEqual((dlg.text(1002), dlg.text(1003), dlg.text(1004)),
                                 ("LENOVO", "431924G", eng.string(verdict)))
                self.assertTrue(z.service_registered(s), "the service runs while the result shows")
                dlg.click(1)
                self.assertEqual(app.wait(30), 0)
                self.assertFalse(z.service_registered(s), "stopped and deleted after the result")

    def test_no_image_in_the_current_folder_registers_nothing(self):
        s = self.session
        root = z.install(s)
        self.assertEqual(self.message_after_accept(root), z.english().string(2))
        self.assertFalse(z.service_registered(s))

    def test_an_image_that_is_no_driver_stays_registered_and_stopped(self):
        s = self.session
        root = z.install(s)
        (root / "ZYNDRV.sys").write_bytes(b"not a driver")
        self.assertEqual(self.message_after_accept(root), z.english().string(5))
        self.assertTrue(z.service_registered(s))

    def test_failing_requests_show_string_5_and_leave_the_service(self):
        s = self.session
        for fail in ("probe", "table", "release"):
            with self.subTest(fail):
                root = z.install(s)
                z.add_driver(root, fail=fail)
                self.assertEqual(self.message_after_accept(root), z.english().string(5))
                self.assertTrue(z.service_registered(s))
                z.remove_service(s)

    def test_a_second_start_while_the_result_shows_ends_silently(self):
        s = self.session
        root = z.install(s)
        z.add_driver(root)
        app = self.accept(root)
        dlg = z.result(s, timeout=30)
        z.ends_silently(self, z.start(s, root))
        self.assertTrue(z.service_registered(s), "the first run's service is intact")
        dlg.click(1)
        self.assertEqual(app.wait(30), 0)


if __name__ == "__main__":
    unittest.main()
