"""cdlaunch under Wine: its dialog, Install with and without a setup program, the ways out and
the ways that must not lead out."""

import shutil
import time
import unittest

from harness import SC_CLOSE, VK, E2ETestCase, bound, exe

TITLE = "Setup Tessarine"
ERROR_CAPTION = "Autorun Setup Error"
IDOK, IDCANCEL, EXIT = 1, 2, 1003


def failure_text(path):
    return f"Unable to launch Tessarine Setup\n{path}\nMake sure correct CD is inserted."


class Launcher(E2ETestCase):
    session_scope = "class"

    def launch(self, folder, with_setup=False):
        """Starts cdlaunch in ``folder`` (optionally holding the stand-in as setup.exe)."""
        s = self.session
        folder.mkdir(parents=True, exist_ok=True)
        if with_setup:
            shutil.copyfile(exe("setup_standin"), folder / "setup.exe")
        self.record = s.dir / f"{self._testMethodName}.record"
        self.app = s.start(exe("cdlaunch"), cwd=folder,
                           env={"ZYN_STANDIN_RECORD": s.windows_path(self.record)})
        self.dialog = s.wait_window(title=TITLE, cls="#32770")
        return self.dialog

    def expect_failure_box(self, path):
        """The failure message box: text, no owner, the dialog behind it still enabled."""
        box = self.session.wait_window(title=ERROR_CAPTION, cls="#32770")
        self.assertEqual(box.text(0xFFFF), failure_text(path))
        self.assertEqual(int(box.info()["owner"], 16), 0)
        self.assertTrue(self.dialog.enabled, "no owner: the dialog stays enabled")
        buttons = [c["text"] for c in box.children() if c["class"] == "Button" and c["visible"]]
        self.assertEqual(buttons, ["OK"])
        return box

    def dismiss(self, box):
        box.click(IDOK)
        box.wait_gone(5)

    def setup_record(self, timeout=10):
        """What the stand-in setup program wrote, once it has written all of it."""
        deadline = time.monotonic() + bound(timeout)
        text = ""
        while "system_lcid=" not in text and time.monotonic() < deadline:
            time.sleep(0.1)
            text = self.record.read_text() if self.record.exists() else ""
        return dict(line.split("=", 1) for line in text.splitlines())

    def assert_still_open(self, folder_path):
        """The dialog survived what was posted before: an Install that fails runs after it in
        the same queue, so its message box proves the earlier messages were handled."""
        self.dialog.click(IDOK)
        self.dismiss(self.expect_failure_box(folder_path))
        self.assertFalse(self.dialog.is_gone())
        self.assertTrue(self.app.running)

    # -- start-up ---------------------------------------------------------------------------

    def test_texts_after_start(self):
        d = self.launch(self.session.drive_c / "start")
        info = d.info()
        self.assertEqual(info["title"], TITLE)
        self.assertTrue(info["visible"] and info["enabled"])
        texts = {c["id"]: c["text"] for c in d.children()}
        self.assertEqual(texts[1004], "Tessarine 1.0")
        self.assertEqual((texts[IDOK], texts[EXIT]), ("Install", "Exit"))
        self.assertNotIn(texts[6001], ("", "Notice"), "the notice replaces the placeholder")
        self.assertEqual(d.focus(), IDOK, "the dialog manager's focus: the first tab stop")
        # The fonts the launcher makes for its two texts: height, weight, ANSI_CHARSET, and
        # VARIABLE_PITCH | FF_SWISS.
        self.assertEqual(d.look(1004)["font"], (20, 700, 0, 0x22))
        self.assertEqual(d.look(6001)["font"], (14, 0, 0, 0x22))

    # -- Install ----------------------------------------------------------------------------

    def test_install_without_setup_tells_and_stays_then_tries_again(self):
        folder = self.session.drive_c / "cd"
        d = self.launch(folder)
        d.click(IDOK)
        first = self.expect_failure_box(r"C:\cd\setup.exe")
        self.dismiss(first)
        self.assertFalse(d.is_gone())  # the box came after the first Install
        # The medium arrives: the second Install looks again and now succeeds.
        shutil.copyfile(exe("setup_standin"), folder / "setup.exe")
        d.click(IDOK)
        d.wait_gone(10)
        self.assertEqual(self.app.wait(10), 1)
        self.assertEqual(self.setup_record()["cwd"], r"C:\cd")

    def test_install_starts_setup_in_its_own_console_and_ends(self):
        d = self.launch(self.session.drive_c / "prod", with_setup=True)
        d.click(IDOK)
        d.wait_gone(10)
        self.assertEqual(self.app.wait(10), 1)
        record = self.setup_record()
        self.assertEqual(record["cwd"], r"C:\prod")
        self.assertEqual(record["cmdline"].strip().strip('"'), r"C:\prod\setup.exe",
                         "no arguments besides its own name")
        self.assertEqual((record["console"], record["console_processes"]), ("1", "1"),
                         "a console of its own")

    def test_drive_root_gives_no_doubled_backslash(self):
        medium = self.session.dir / "medium"
        medium.mkdir(exist_ok=True)
        self.session.map_drive("x", medium)
        d = self.launch(medium)
        d.click(IDOK)
        self.dismiss(self.expect_failure_box("X:\\setup.exe"))
        shutil.copyfile(exe("setup_standin"), medium / "setup.exe")
        d.click(IDOK)
        self.assertEqual(self.app.wait(10), 1)
        self.assertEqual(self.setup_record()["cmdline"].strip().strip('"'), "X:\\setup.exe")

    # -- ways out and ways that are not ------------------------------------------------------

    def test_no_dialog_resource_ends_with_code_1_showing_nothing(self):
        # A copy whose dialog is renamed: DialogBoxParamA fails at once.
        image = exe("cdlaunch").read_bytes()
        name = "SETUP".encode("utf-16-le")
        self.assertEqual(image.count(name), 1)
        broken = self.session.drive_c / "broken" / "cdlaunch.exe"
        broken.parent.mkdir(exist_ok=True)
        broken.write_bytes(image.replace(name, "SETUX".encode("utf-16-le")))
        app = self.session.start(broken, cwd=broken.parent)
        self.assertEqual(app.wait(10), 1)
        self.assertEqual([w for w in self.session.windows() if w["title"] == TITLE], [])

    def test_exit_ends_with_code_1(self):
        d = self.launch(self.session.drive_c / "exit")
        d.click(EXIT)
        d.wait_gone(10)
        self.assertEqual(self.app.wait(10), 1)

    def test_only_the_low_word_of_a_command_counts(self):
        d = self.launch(self.session.drive_c / "command")
        d.command(EXIT, code=1)  # a notification code in the high word: still Exit
        d.wait_gone(10)
        self.assertEqual(self.app.wait(10), 1)

    def test_close_requests_leave_the_dialog_open(self):
        folder = self.session.drive_c / "close"
        d = self.launch(folder)
        d.key(VK.ESCAPE)
        d.key(VK.F4, alt=True)
        d.close()
        d.syscommand(SC_CLOSE)
        d.command(IDCANCEL)
        d.command(0x10000 | 4242)  # an unknown id, high bits set
        d.mouse(20, 140)  # outside the buttons
        self.assert_still_open(r"C:\close\setup.exe")

    def test_enter_acts_as_install(self):
        d = self.launch(self.session.drive_c / "enter")
        d.key(VK.RETURN)
        self.dismiss(self.expect_failure_box(r"C:\enter\setup.exe"))

    def test_enter_on_exit_button_exits(self):
        d = self.launch(self.session.drive_c / "tab")
        d.key(VK.TAB)
        d.sync()  # the Tab is posted: the focus moves once the dialog has handled it
        self.assertEqual(d.focus(), EXIT)
        d.key(VK.RETURN)
        d.wait_gone(10)
        self.assertEqual(self.app.wait(10), 1)


class LongDirectories(E2ETestCase):
    """Directories that leave no room in the 256-character buffers never overflow them: a path
    that fits but makes the message too long shows its end after "..."; a directory that leaves
    no room for "\\setup.exe" is not launched from, and the message names just "setup.exe"."""

    session_scope = "class"

    def nested(self, total):
        """A folder in drive_c whose Windows path is ``total`` characters long."""
        folder, path = self.session.drive_c, "C:"
        while len(path) < total:
            part = "d" * min(60, total - len(path) - 1)
            folder, path = folder / part, path + "\\" + part
        folder.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(exe("setup_standin"), folder / "setup.exe")
        return folder, path

    def run_launcher(self, folder):
        s = self.session
        app = s.start(exe("cdlaunch"), cwd=folder)
        dialog = s.wait_window(title=TITLE, cls="#32770")
        dialog.click(IDOK)
        return app, dialog

    def test_message_too_long_shows_the_end_of_the_path(self):
        folder, path = self.nested(200)
        (folder / "setup.exe").unlink()
        app, dialog = self.run_launcher(folder)
        box = self.session.wait_window(title=ERROR_CAPTION)
        text = box.text(0xFFFF)
        lines = text.split("\n")
        self.assertEqual(len(lines), 3)
        self.assertLess(len(text), 256)
        self.assertTrue(lines[1].startswith("..."))
        self.assertTrue((path + "\\setup.exe").endswith(lines[1][3:]))
        box.click(IDOK)
        box.wait_gone(5)
        dialog.click(EXIT)
        self.assertEqual(app.wait(10), 1)

    def test_directory_without_room_for_the_name_starts_nothing(self):
        # 250: read, but "\setup.exe" and the NUL would need 261 characters.
        # 256: too long to be read into 256 characters at all (GetCurrentDirectoryA answers 257).
        for length in (250, 256):
            with self.subTest(length=length):
                folder, _ = self.nested(length)
                app, dialog = self.run_launcher(folder)
                box = self.session.wait_window(title=ERROR_CAPTION)
                self.assertEqual(box.text(0xFFFF), failure_text("setup.exe"))
                box.click(IDOK)
                box.wait_gone(5)
                dialog.click(EXIT)
                self.assertEqual(app.wait(10), 1)

if __name__ == "__main__":
    unittest.main()
