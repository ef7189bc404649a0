"""The shipped zynid.exe on its hardware road with the stand-in drivers: the NT road against
Wine's real service control manager (registered, started, read, stopped, deleted) and the 9x
road through Wine's 9x mode. The shipped Lenovo table reaches its base board structure."""

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
        app = self.accept(root)
        box, text = z.message_box(self.session)
        box.click(1)
        self.assertEqual(app.wait(10), 0)
        return text

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


class Win98Road(E2ETestCase):
    session_scope = "class"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.session.set_windows_version("zynid.exe", "win98")

    def test_board_shown_through_the_vxd(self):
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

    def test_failures_show_their_9x_strings(self):
        s, eng = self.session, z.english()
        for name, settings, string in [("no vxd", None, 6), ("probe", {"fail": "probe"}, 7),
                                       ("table", {"fail": "table"}, 7)]:
            with self.subTest(name):
                root = z.install(s)
                if settings is not None:
                    z.add_driver(root, family="9x", **settings)
                app = z.start(s, root)
                z.agreement(s).click(1)
                box, text = z.message_box(s)
                self.assertEqual(text, eng.string(string))
                box.click(1)
                self.assertEqual(app.wait(10), 0)


if __name__ == "__main__":
    unittest.main()
