"""The installer and the medium under Wine: silent install and uninstall, what they leave
behind, a driver service left registered, install over an install, an uninstaller left in an
older folder, a folder name ending in a double-byte character, the security the installer gives
its folder, and the medium's launcher starting the installer."""

import re
import os
import shutil
import struct
import sys
import time
import unittest
from pathlib import Path

from harness import E2ETestCase, HarnessError, bound, exe, locale_env

sys.path.insert(0, str(Path(__file__).resolve().parent / "zynid"))
import zynid_e2e as z  # noqa: E402

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


class InstallerCase(E2ETestCase):
    """What the installer's tests share: the built setup.exe, installs, uninstalls and what they
    leave in the registry and the Start menu."""

    def setUp(self):
        super().setUp()
        self.setup = build_dir() / "installer" / "setup.exe"
        if not self.setup.exists():
            self.skipTest("no installer: build the medium target (makensis, xorriso)")
        self.folder = self.session.drive_c / "Apps" / "ZYN ID"
        self.win_folder = r"C:\Apps\ZYN ID"

    def install(self, folder=None, env=None):
        """Installs silently into ``folder`` (a Unix path in drive_c; by default the folder with
        a space in its name). The installer takes /D only last and unquoted, and Wine quotes an
        argument that holds a space, so a batch file hands the command line over exactly as a
        user types it. The installer holds itself until it is done."""
        folder = folder or self.folder
        win_folder = self.session.windows_path(folder)
        if " " in win_folder:
            batch = self.session.dir / "install.bat"
            batch.write_text(f'@"{self.session.windows_path(self.setup)}" /S /D={win_folder}\r\n'
                             "@exit %errorlevel%\r\n")
            app = self.session.start("cmd", args=["/c", self.session.windows_path(batch)],
                                     env=env)
        else:
            app = self.session.start(self.setup, args=["/S", f"/D={win_folder}"], env=env)
        self.assertEqual(app.wait(60), 0)
        self.assertTrue((folder / "zynid.exe").is_file(), "nothing installed in the folder")

    def uninstall(self, folder=None, env=None):
        """The uninstaller copies itself away and returns at once: wait for its work to show."""
        folder = folder or self.folder
        app = self.session.start(folder / "uninstall.exe", args=["/S"], env=env)
        self.assertEqual(app.wait(30), 0)
        deadline = time.monotonic() + bound(30)
        while (folder / "zynid.exe").exists() or self.key_exists(PRODUCT_KEY):
            if time.monotonic() > deadline:
                raise HarnessError("the uninstaller left the product behind")
            time.sleep(0.5)

    def uninstall_in_place(self, folder):
        """Runs the uninstaller of ``folder`` (no space in its name) where it is: with _?= it
        does not copy itself away, so its end is the end of its work. It cannot delete its own
        file."""
        app = self.session.start(folder / "uninstall.exe",
                                 args=["/S", f"_?={self.session.windows_path(folder)}"])
        self.assertEqual(app.wait(30), 0)

    def target_dir(self):
        """TargetDir as `reg export` writes it (backslashes doubled), or None."""
        found = re.search(r'^"TargetDir"="(.*)"\r?$', self.exported(PRODUCT_KEY) or "", re.M)
        return found and found.group(1).replace("\\\\", "\\")

    def exported(self, key):
        """The text of `reg export` for a key, or None when the key does not exist."""
        out = self.session.dir / "export.reg"
        out.unlink(missing_ok=True)
        rc = self.session.wine("reg", "export", key, self.session.windows_path(out), "/y",
                               check=False)
        return out.read_bytes().decode("utf-16") if rc == 0 and out.exists() else None

    def key_exists(self, key):
        # Asked of the session's winprobe, which is running: a `reg` process per question costs
        # seconds under emulation, and the uninstall's wait asks until the key is gone.
        return self.session.probe("regkey", key)[-1]["exists"]

    def shortcuts(self):
        return list(self.session.drive_c.rglob("ZYN ID Utility.lnk"))


class Installer(InstallerCase):

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

    def short_name(self, parent, name):
        """The short (8.3) name of the folder ``name`` in the Windows folder ``parent``, as
        `dir /x` lists it (Wine's cmd expands %~s to the long name)."""
        batch, out = self.session.dir / "short.bat", self.session.dir / "short.txt"
        batch.write_text(f'@dir /x "{parent}" > "{self.session.windows_path(out)}"\r\n')
        self.session.wine("cmd", "/c", self.session.windows_path(batch))
        found = re.search(r"<DIR>\s+(\S+)\s+" + re.escape(name) + r"\s*$", out.read_text(), re.M)
        self.assertIsNotNone(found, f"no short name for {name}")
        return parent + "\\" + found.group(1)

    def test_an_old_uninstaller_leaves_the_current_install_and_a_foreign_service(self):
        # Installs into A, then into B, whose name begins with A's; a ZYNDRV service runs an
        # image from B, named as the system names a driver's image (\??\, any case).
        s = self.session
        old, current = s.drive_c / "Apps" / "ZYN", s.drive_c / "Apps" / "ZYN Current"
        self.install(old)
        self.install(current)
        s.wine("sc", "create", "ZYNDRV", "type=", "kernel", "binPath=",
               r"\??\c:\apps\zyn current\zyndrv.sys")
        self.uninstall_in_place(old)

        self.assertEqual([p.name for p in old.iterdir()], ["uninstall.exe"])
        self.assertEqual(self.target_dir(), r"C:\Apps\ZYN Current")
        self.assertIn(r"C:\\Apps\\ZYN Current\\uninstall.exe", self.exported(UNINSTALL_KEY) or "")
        links = self.shortcuts()
        self.assertEqual(len(links), 1, links)
        self.assertEqual(shortcut_working_dir(links[0].read_bytes()), r"C:\Apps\ZYN Current")
        self.assertTrue(z.service_registered(s), "the service of another folder was deleted")
        app = s.start(current / "zynid.exe", cwd=current)
        z.agreement(s, timeout=20).click(2)
        z.ends_silently(self, app)

        # The current install's own uninstaller removes all of it, the service included, also
        # where the registry names its folder in the short form.
        short = self.short_name(r"C:\Apps", "ZYN Current")
        s.reg_add(PRODUCT_KEY, "TargetDir", short)
        s.reg_add(UNINSTALL_KEY, "InstallLocation", short)
        self.uninstall(current)
        self.assertFalse(current.exists())
        self.assertFalse(z.service_registered(s))
        self.assertFalse(self.key_exists(UNINSTALL_KEY))
        self.assertEqual(self.shortcuts(), [])


class DoubleByteFolder(InstallerCase):
    """A folder whose name ends in a character whose second byte is a backslash in the system's
    code page (932 here; 936 and 950 have such characters too)."""

    def test_install_stores_the_folder_exactly_and_the_program_finds_it(self):
        s = self.session
        japanese = locale_env("ja_JP")
        folder = s.drive_c / "Apps" / "\u30bd\u30d5\u30c8" / "ZYN\u8868"  # ...\ソフト\ZYN表
        self.install(folder, env=japanese)
        self.assertEqual(self.target_dir(), s.windows_path(folder))
        app = s.start(folder / "zynid.exe", cwd=folder, env=japanese)
        z.agreement(s, z.Texts(z.language_library("Jpn")), timeout=20).click(2)
        z.ends_silently(self, app)
        self.uninstall(folder, env=japanese)
        self.assertFalse(folder.exists())
        self.assertFalse(self.key_exists(UNINSTALL_KEY))
        self.assertEqual(self.shortcuts(), [])


# What the installer asks the system for on each folder it makes and each entry an existing folder
# holds, as the wineserver's request trace writes it: Administrators the owner, then an access
# list of its own (protected), SYSTEM and Administrators full control, Users read and execute,
# inherited by files and subfolders.
FOLDER_SECURITY = ("control=00001004,owner=S-1-5-32-544,group=<not present>,sacl={},dacl={"
                   "{type=ACCESS_ALLOWED,flags=3,mask=1f01ff,sid=S-1-5-18},"
                   "{type=ACCESS_ALLOWED,flags=3,mask=1f01ff,sid=S-1-5-32-544},"
                   "{type=ACCESS_ALLOWED,flags=3,mask=1200a9,sid=S-1-5-32-545}}")
OWNER, DACL = 1, 4
TRACED = re.compile(r'^(\w+): (?:create_file\(.*name=L"\\\\\?\?\\\\(?P<name>[^"]*)"|'
                    r'create_file\(\) = 0 \{ handle=(?P<opened>\w+)|'
                    r'set_security_object\( handle=(?P<handle>\w+), security_info=(?P<info>\w+), '
                    r'sd=\{(?P<sd>.*)\} \)$)', re.M)


class FolderSecurity(InstallerCase):
    """Wine 8.0 keeps no security descriptor of a file (it turns an access list into Unix mode
    bits and reports the Unix owner), so what the installer sets is read from the wineserver's
    trace of the requests: which entry got which descriptor, and in which order."""

    session_scope = "class"
    session_env = {"WINEDEBUG": "-all,+server"}

    def run_setup(self, folder):
        """Runs the installer silently into ``folder`` (no space in its name); returns its exit
        code and the entries it set security on, in order, as (Windows path, kind, descriptor)."""
        trace = self.session.logs / "wineserver.log"
        start = trace.stat().st_size
        app = self.session.start(self.setup, args=["/S", f"/D={self.session.windows_path(folder)}"])
        rc = app.wait(60)
        with open(trace, "rb") as f:
            f.seek(start)
            text = f.read().decode("utf-8", "replace")
        names, handles, secured = {}, {}, []
        for m in TRACED.finditer(text):
            thread = m.group(1)
            if m.group("name") is not None:
                names[thread] = m.group("name").replace("\\\\", "\\")
            elif m.group("opened"):
                handles[thread, m.group("opened")] = names.pop(thread, None)
            else:
                secured.append((handles.get((thread, m.group("handle"))),
                                int(m.group("info"), 16), m.group("sd")))
        self.last_trace = text
        return rc, secured

    def assertSecured(self, secured, paths):
        """Each of ``paths`` got the owner, then the access list (siblings in any order)."""
        self.assertEqual(sorted(zip(secured[0::2], secured[1::2])),
                         sorted(((p, OWNER, FOLDER_SECURITY), (p, DACL, FOLDER_SECURITY))
                                for p in paths))

    def test_a_new_folder_and_the_folders_made_on_the_way_before_any_file(self):
        (self.session.drive_c / "Apps").mkdir()
        folder = self.session.drive_c / "Apps" / "New" / "ZYN"
        rc, secured = self.run_setup(folder)
        self.assertEqual(rc, 0)
        # C:\Apps existed: its security is not the installer's to change.
        self.assertSecured(secured, [r"C:\Apps\New", r"C:\Apps\New\ZYN"])
        self.assertLess(self.last_trace.rindex("set_security_object("),
                        self.last_trace.index(r"\\ZYNDRV.sys"))
        self.assertTrue((folder / "ZYNDRV.sys").is_file())

    def test_a_folder_made_beforehand_with_all_it_holds(self):
        folder = self.session.drive_c / "Pre"
        (folder / "Eng").mkdir(parents=True)
        for planted in ("zynid.exe", "zyndrv.cfg", "Eng/ZYNRes.lrc"):
            (folder / planted).write_text("planted")
        rc, secured = self.run_setup(folder)
        self.assertEqual(rc, 0)
        paths = [p for p, _, _ in secured]
        self.assertEqual(paths[:2], [r"C:\Pre"] * 2)
        self.assertLess(paths.index(r"C:\Pre\Eng"), paths.index(r"C:\Pre\Eng\ZYNRes.lrc"))
        self.assertSecured(secured, [r"C:\Pre", r"C:\Pre\Eng", r"C:\Pre\Eng\ZYNRes.lrc",
                                     r"C:\Pre\zyndrv.cfg", r"C:\Pre\zynid.exe"])

    def test_refuses_a_folder_of_others_and_a_link_and_lays_out_nothing(self):
        others = self.session.drive_c / "Shared"
        others.mkdir()
        (others / "notes.txt").write_text("theirs")
        linked = self.session.drive_c / "Linked"
        linked.mkdir()
        (linked / "zynid.exe").write_text("planted")
        elsewhere = self.session.drive_c / "windows" / "system32" / "drivers" / "etc" / "hosts"
        os.link(elsewhere, linked / "zyndrv.cfg")
        for folder in (others, linked):
            rc, secured = self.run_setup(folder)
            self.assertEqual(rc, 2, folder)
            self.assertFalse((folder / "ZYNDRV.sys").exists())
            self.assertNotIn(r"C:\Linked\zyndrv.cfg", [p for p, _, _ in secured])
        self.assertEqual((others / "notes.txt").read_text(), "theirs")

    def test_the_9x_family_has_no_file_security(self):
        self.session.set_windows_version("setup.exe")
        self.addCleanup(self.session.wine, "reg", "delete",
                        r"HKCU\Software\Wine\AppDefaults\setup.exe", "/f")
        folder = self.session.drive_c / "Apps9x"
        rc, secured = self.run_setup(folder)
        self.assertEqual((rc, secured), (0, []))
        self.assertTrue((folder / "ZYNDRV.sys").is_file())


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
