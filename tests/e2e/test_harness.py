"""The harness itself: what other test files rely on (prefix, win98 mode, locale, drives, probe)."""

import unittest

from harness import E2ETestCase, HarnessError, VK, exe, locale_env


def read_record(path):
    return dict(line.split("=", 1) for line in path.read_text().splitlines())


class StandIn(E2ETestCase):
    """Start the stand-in setup program directly and check what it saw."""

    session_scope = "class"

    def run_standin(self, folder, env=None):
        s = self.session
        folder.mkdir(parents=True, exist_ok=True)
        record = s.drive_c / "record.txt"
        record.unlink(missing_ok=True)
        env = dict(env or {}, ZYN_STANDIN_RECORD=s.windows_path(record))
        self.assertEqual(s.start(exe("setup_standin"), cwd=folder, env=env).wait(20), 0)
        return read_record(record)

    def test_working_directory_and_defaults(self):
        rec = self.run_standin(self.session.drive_c / "cd" / "prod")
        self.assertEqual(rec["cwd"], r"C:\cd\prod")
        self.assertEqual(rec["platform"], "2")
        self.assertEqual(rec["system_lcid"], "0409")

    def test_mapped_drive_root(self):
        folder = self.session.dir / "medium"
        folder.mkdir(exist_ok=True)
        self.session.map_drive("x", folder)
        self.assertEqual(self.run_standin(folder)["cwd"], "X:\\")

    def test_win98_mode_for_one_program(self):
        self.session.set_windows_version("setup_standin.exe", "win98")
        try:
            self.assertEqual(self.run_standin(self.session.drive_c)["platform"], "1")
        finally:
            self.session.wine("reg", "delete", r"HKCU\Software\Wine\AppDefaults\setup_standin.exe",
                              "/f")

    def test_locale(self):
        rec = self.run_standin(self.session.drive_c, env=locale_env("de_DE"))
        self.assertEqual((rec["system_lcid"], rec["user_lcid"]), ("0407", "0407"))
        rec = self.run_standin(self.session.drive_c, env=locale_env("de_DE", user="fr_FR"))
        self.assertEqual((rec["system_lcid"], rec["user_lcid"]), ("0407", "040c"))


class Probe(E2ETestCase):
    """winprobe against Wine's own notepad: find, read, type, close, wait for the end."""

    def test_find_read_and_close(self):
        s = self.session
        app = s.start("notepad")
        win = s.wait_window(cls="notepad")
        self.assertEqual(win.title, "Untitled - Notepad")
        edit = [c for c in win.children() if c["class"] == "Edit"]
        self.assertEqual(len(edit), 1)
        self.assertTrue(win.enabled)
        win.close()
        win.wait_gone(10)
        self.assertEqual(app.wait(10), 0)

    def test_missing_window_times_out(self):
        with self.assertRaises(HarnessError):
            self.session.wait_window(title="no such window", timeout=0.3)

    def test_escape_key_reaches_a_dialog(self):
        s = self.session
        s.start("notepad")
        win = s.wait_window(cls="notepad")
        win.command(0x101)  # File > Open...: modal with an owner, so the main window waits
        setup = s.wait_window(title="Open", cls="#32770")
        self.assertFalse(win.enabled)
        setup.key(VK.ESCAPE)
        setup.wait_gone(5)
        self.assertTrue(win.enabled)

    def test_a_press_that_ends_its_window_is_done(self):
        # The window ends on the press; winprobe is made to wait for that end before it posts the
        # release, so the release always finds no window, as it may by chance on a busy machine.
        s = self.session
        cases = [("key", ("key", "0x1b"), 1), ("alt key", ("key", "0x73", "--alt"), 2),
                 ("mouse", ("mouse", "20", "20"), 3)]
        for name, (command, *args), pressed in cases:
            with self.subTest(name):
                app = s.start(exe("ends_on_press"))
                win = s.wait_window(title="Ends on press")
                answer = s.probe(command, win.hwnd, *args,
                                 env={"WINPROBE_END_BEFORE_RELEASE": "1"})[-1]
                self.assertEqual((answer["ok"], answer.get("released")), (True, False))
                self.assertEqual(app.wait(10), pressed, "the press arrived and ended the window")

    def test_hook_reads_inside_the_target(self):
        s = self.session
        s.start("notepad")
        win = s.wait_window(cls="notepad")
        reply = s.probe("hook", exe("probe_hook"), "ProbeHookProc", win.hwnd,
                        "winprobe.selftest", "--arg", "42")[-1]["reply"]
        count, arg = reply.split()
        self.assertGreater(int(count.split("=")[1]), 0)
        self.assertEqual(arg, "arg=42")


if __name__ == "__main__":
    unittest.main()
