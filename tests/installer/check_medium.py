#!/usr/bin/env python3
"""Static checks of the installer and the medium, for machines that cannot run Windows programs.

    check_medium.py --setup SETUP_EXE --folder MEDIUM_DIR --iso MEDIUM_ISO --files FILES_NSH
                    --languages RESOURCES_DIR

* setup.exe is a PE32 GUI program for i386, subsystem version 4.0, and ANSI: it imports no
  function that exists only in a Unicode form (name ending in W), which the 9x family stubs out.
* files.nsh installs zynid.exe and every language folder of the sources, not the launcher, and
  removes exactly what it installs.
* The ISO image's root holds exactly autorun.inf, cdlaunch.exe and setup.exe, under ISO 9660
  and under Joliet names, with the bytes of the medium folder; autorun.inf names the launcher
  and its icon.
"""
import argparse
import re
import struct
import sys
from pathlib import Path

from pe_image import I386, SUBSYSTEMS, PeImage

SECTOR = 2048
ROOT_FILES = ["autorun.inf", "cdlaunch.exe", "setup.exe"]
AUTORUN_INF = b"[autorun]\r\nopen=cdlaunch.exe\r\nicon=cdlaunch.exe,0\r\n"
# Unicode functions that the 9x family implements in full; none is expected today.
UNICODE_ON_9X = {"MessageBoxW", "lstrlenW", "GetTextExtentPoint32W", "TextOutW", "ExtTextOutW"}

failures = []


def check(ok, message):
    if not ok:
        failures.append(message)


def check_installer(path):
    pe = PeImage.read(path)
    check(pe.machine == I386, f"setup.exe: machine {pe.machine:#x}, not i386")
    check(pe.subsystem == SUBSYSTEMS["gui"], f"setup.exe: subsystem {pe.subsystem}, not GUI")
    check(pe.subsystem_version == (4, 0), f"setup.exe: subsystem version {pe.subsystem_version}")
    imports = pe.imports()
    for dll, names in imports:
        check(dll.lower() != "msvcrt.dll", "setup.exe imports msvcrt.dll")
        for name in names:
            if isinstance(name, int):
                failures.append(f"setup.exe imports {dll} by ordinal #{name}")
            else:
                check(not re.search(r"[a-z0-9]W$", name) or name in UNICODE_ON_9X,
                      f"setup.exe imports the Unicode-only {dll}!{name}")
    return imports


def check_file_list(files_nsh, languages_dir):
    text = Path(files_nsh).read_text()
    installed = re.findall(r'^\s*File "stage/([^"]+)"', text, re.M)
    deleted = [p.replace("\\", "/") for p in re.findall(r'^\s*Delete "\$INSTDIR\\([^"]+)"', text, re.M)]
    removed = [p.replace("\\", "/") for p in re.findall(r'^\s*RMDir "\$INSTDIR\\([^"]+)"', text, re.M)]
    check("zynid.exe" in installed, "the installer lacks zynid.exe")
    check("cdlaunch.exe" not in installed, "the installer holds the medium's launcher")
    check(sorted(installed) == sorted(deleted),
          f"the uninstaller deletes {sorted(deleted)}, the installer installs {sorted(installed)}")
    folders = sorted({p.rpartition("/")[0] for p in installed} - {""})
    check(sorted(removed) == folders, f"the uninstaller removes folders {removed}, not {folders}")
    for rc in sorted(Path(languages_dir).glob("*/ZYNRes.rc")):
        lang = rc.parent.name
        for name in ("ZYNRes.lrc", "license.txt"):
            check(f"{lang}/{name}" in installed, f"the installer lacks {lang}/{name}")
    return installed


class Iso:
    """The root folders of an ISO 9660 image: the primary one and, if present, Joliet's."""

    def __init__(self, path):
        self.data = Path(path).read_bytes()
        self.primary = self.joliet = None
        for sector in range(16, 64):
            d = self.data[sector * SECTOR:(sector + 1) * SECTOR]
            if d[1:6] != b"CD001":
                raise ValueError(f"sector {sector} is not a volume descriptor")
            if d[0] == 255:
                break
            if d[0] == 1:
                self.primary = self.root(d)
            elif d[0] == 2 and d[88:91] in (b"%/@", b"%/C", b"%/E"):
                self.joliet = self.root(d)

    def root(self, descriptor):
        extent, length = struct.unpack_from("<I", descriptor, 158)[0], struct.unpack_from("<I", descriptor, 166)[0]
        return self.read_dir(extent, length)

    def read_dir(self, extent, length):
        """[(raw name bytes, is folder, file bytes)] without '.' and '..'."""
        entries, at, end = [], extent * SECTOR, extent * SECTOR + length
        while at < end:
            size = self.data[at]
            if size == 0:  # records do not cross sectors: the rest of this one is padding
                at = (at // SECTOR + 1) * SECTOR
                continue
            rec = self.data[at:at + size]
            start, data_len = struct.unpack_from("<I", rec, 2)[0], struct.unpack_from("<I", rec, 10)[0]
            name = rec[33:33 + rec[32]]
            if name not in (b"\0", b"\1"):
                body = self.data[start * SECTOR:start * SECTOR + data_len]
                entries.append((name, bool(rec[25] & 2), body))
            at += size
        return entries


def check_medium(folder, iso_path):
    folder = Path(folder)
    listing = sorted(p.name for p in folder.iterdir())
    check(listing == ROOT_FILES, f"the medium folder holds {listing}")
    check((folder / "autorun.inf").read_bytes() == AUTORUN_INF,
          f"autorun.inf reads {(folder / 'autorun.inf').read_bytes()!r}")
    iso = Iso(iso_path)
    check(iso.primary is not None, "the image has no primary volume")
    check(iso.joliet is not None, "the image has no Joliet names")
    for label, entries, decode in (
            ("ISO 9660", iso.primary or [], lambda n: n.decode("ascii").split(";")[0].lower()),
            ("Joliet", iso.joliet or [], lambda n: n.decode("utf-16-be").split(";")[0])):
        names = sorted(decode(n) for n, _, _ in entries)
        check(names == ROOT_FILES, f"the image's {label} root holds {names}")
        check(not any(is_dir for _, is_dir, _ in entries), f"the image's {label} root has a folder")
        for name, _, body in entries:
            local = folder / decode(name)
            check(local.is_file() and local.read_bytes() == body,
                  f"{label} {decode(name)} differs from the medium folder")
    if iso.joliet is not None:
        # The launcher asks for setup.exe by that name: Joliet keeps the case of the folder.
        check(sorted(n.decode("utf-16-be") for n, _, _ in iso.joliet) == ROOT_FILES,
              "Joliet names are not the folder's names")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--setup", "--folder", "--iso", "--files", "--languages"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    for path in (args.setup, args.folder, args.iso, args.files):
        if not Path(path).exists():
            print(f"missing {path}: build the medium target first")
            return 1
    imports = check_installer(args.setup)
    installed = check_file_list(args.files, args.languages)
    check_medium(args.folder, args.iso)
    print("setup.exe imports:")
    for dll, names in imports:
        print(f"  {dll}: {' '.join(map(str, names))}")
    print("installs: " + " ".join(installed))
    for f in failures:
        print("FAIL " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
