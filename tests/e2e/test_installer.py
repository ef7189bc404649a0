"""The installer and the medium under Wine: silent install and uninstall, what they leave
behind, a driver service left registered, install over an install, and the medium's launcher
starting the installer."""

import re
import shutil
import struct
import time
import unittest

from harness import E2ETestCase, HarnessError, bound, exe

PRODUCT_KEY = r"HKLM\Software\Orvex\ZYN ID Utility"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZYN ID Utility"
# The installer opens on its folder page; its caption names the page.
SETUP_CAPTION = "ZYN ID Utility Setup: Installation Folder"
IDOK = 1


def build_dir():
    return exe("cdlaunch").resolve().parents[1]


def installed_files():
    """The installer's files, as installer/stage_tree.py listed them for the script."""
    text = (build_dir() / "installer" / "files.nsh").read_text()
    return re.findall(r'^\s*File "stage/([^"]+)"', text, re.M)


def shortcut_working_dir(data):
    """The working directory stored in a shell link (.lnk), or None."""
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = 0x4C
    if flags & 0x01:  # an item id list
        at += 2 + struct.unpack_from("<H", data, at)[0]
    if flags & 0x02:  # link info
        at += struct.unpack_from("<I", data, at)[0]
    unicode = bool(flags & 0x80)
    for bit in (0x04, 0x08, 0x10):  # name, relative path, working directory, in this order
        if not flags & bit:
            continue
        count = struct.unpack_from("<H", data, at)[0]
        size = count * (2 if unicode else 1)
        text = data[at + 2:at + 2 + size].decode("utf-16-le" if unicode else "latin-1")
        at += 2 + size
        if bit == 0x10:
            # Wine's shell link writer counts the terminating NUL in; Windows does not.
            return text.rstrip("\x00")
    return None


class Installer(E2ETestCase):

    def setUp(self):
        super().setUp()
        self.setup = build_dir() / "installer" / "setup.exe"
        if not self.setup.exists():
            self.skipTest("no installer: build the medium target (makensis, xorriso)")
        self.folder = self.session.drive_c / "Apps" / "ZYN ID"
        self.win_folder = r"C:\Apps\ZYN ID"

    def install(self):
        """Installs silently into the folder with a space in its name. The installer takes /D
        only last and unquoted, and Wine quotes an argument that holds a space, so a batch file
        hands the command line over exactly as a user types it. The installer holds itself until
        it is done."""
        batch = self.session.dir / "install.bat"
        batch.write_text(f'@"{self.session.windows_path(self.setup)}" /S /D={self.win_folder}\r\n'
                         "@exit %errorlevel%\r\n")
        app = self.session.start("cmd", args=["/c", self.session.windows_path(batch)])
        self.assertEqual(app.wait(60), 0)
        self.assertTrue((self.folder / "zynid.exe").is_file(), "nothing installed in the folder")

    def uninstall(self):
        """The uninstaller copies itself away and returns at once: wait for its work to show."""
        app = self.session.start(self.folder / "uninstall.exe", args=["/S"])
        self.assertEqual(app.wait(30), 0)
        deadline = time.monotonic() + bound(30)
        while (self.folder / "zynid.exe").exists() or self.key_exists(PRODUCT_KEY):
            if time.monotonic() > deadline:
                raise HarnessError("the uninstaller left the product behind")
            time.sleep(0.5)

    def exported(self, key):
        """The text of `reg export` for a key, or None when the key does not exist."""
        out = self.session.dir / "export.reg"
        out.unlink(missing_ok=True)
        rc = self.session.wine("reg", "export", key, self.session.windows_path(out), "/y",
                               check=False)
        return out.read_bytes().decode("utf-16") if rc == 0 and out.exists() else None

    def key_exists(self, key):
        return self.exported(key) is not None

    def shortcuts(self):
        return list(self.session.drive_c.rglob("ZYN ID Utility.lnk"))

    def test_silent_install_then_uninstall_leaves_only_user_files(self):
        self.install()
        for rel in installed_files():
            self.assertTrue((self.folder / rel).is_file(), rel)
        self.assertIn('"TargetDir"="C:\\\\Apps\\\\ZYN ID"', self.exported(PRODUCT_KEY))
        self.assertIn("uninstall.exe", self.exported(UNINSTALL_KEY))
        links = self.shortcuts()
        self.assertEqual(len(links), 1, links)
        self.assertEqual(shortcut_working_dir(links[0].read_bytes()), self.win_folder)

        user_file = self.folder / "Eng" / "notes.txt"
        user_file.write_text("mine")
        self.uninstall()
        self.assertEqual(sorted(p.relative_to(self.folder).as_posix()
                                for p in self.folder.rglob("*")), ["Eng", "Eng/notes.txt"])
        self.assertFalse(self.key_exists(PRODUCT_KEY))
        self.assertFalse(self.key_exists(UNINSTALL_KEY))
        self.assertEqual(self.shortcuts(), [])

    def test_uninstall_removes_a_driver_service_left_registered(self):
        self.install()
        s = self.session
        s.wine("sc", "create", "ZYNDRV", "type=", "kernel", "binPath=",
               self.win_folder + r"\ZYNDRV.sys")
        s.wine("sc", "start", "ZYNDRV", check=False)  # runs only where the stand-in is installed
        self.uninstall()
        self.assertNotEqual(s.wine("sc", "query", "ZYNDRV", check=False), 0)
        self.assertFalse(self.folder.exists())

    def test_install_over_an_install_and_a_second_uninstall_are_harmless(self):
        self.install()
        spare = self.session.dir / "uninstall-copy.exe"
        shutil.copyfile(self.folder / "uninstall.exe", spare)
        self.install()
        self.assertIn('"TargetDir"="C:\\\\Apps\\\\ZYN ID"', self.exported(PRODUCT_KEY))
        self.uninstall()
        self.assertFalse(self.folder.exists())
        # The same uninstaller once more, from the folder it had: nothing left to remove.
        self.folder.mkdir(parents=True)
        shutil.copyfile(spare, self.folder / "uninstall.exe")
        self.uninstall()
        self.assertFalse(self.key_exists(PRODUCT_KEY))
        self.assertEqual(self.shortcuts(), [])


class Medium(E2ETestCase):

    def test_launcher_on_the_medium_starts_the_installer_without_arguments(self):
        medium = build_dir() / "medium"
        if not (medium / "setup.exe").exists():
            self.skipTest("no medium: build the medium target (makensis, xorriso)")
        s = self.session
        s.map_drive("x", medium)
        launcher = s.start(medium / "cdlaunch.exe", cwd=medium)
        s.wait_window(title="Setup Tessarine", cls="#32770").click(IDOK)
        # Started with no arguments, so not silent: the installer shows its first page.
        setup = s.wait_window(title=SETUP_CAPTION, timeout=20)
        self.assertTrue(setup.info()["visible"])
        self.assertEqual(launcher.wait(10), 1)


if __name__ == "__main__":
    unittest.main()
