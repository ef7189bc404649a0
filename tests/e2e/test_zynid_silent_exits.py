"""Every way zynid ends before its agreement is accepted: silently, with nothing shown. The
shipped program; each case ends on its own, which a program showing anything (all of it modal)
would not."""

import os
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent / "zynid"))
from harness import E2ETestCase  # noqa: E402
import zynid_e2e as z  # noqa: E402


class SilentExits(E2ETestCase):
    session_scope = "class"

    def test_missing_install_location_license_or_library(self):
        cases = {
            "no TargetDir": dict(target_dir=False),
            "TargetDir names a folder without the language folder": dict(target_dir=r"C:\nowhere"),
            "no license file": dict(license=None),
            "no resource library": dict(library=False),
            "resource library that is no library": dict(library=b"MZ but nothing else\r\n"),
            "TargetDir longer than its 260-byte buffer": dict(target_dir="C:\\" + "x" * 300),
        }
        s = self.session
        for name, setup in cases.items():
            with self.subTest(name):
                z.ends_silently(self, z.start(s, z.install(s, **setup)))

    def test_install_directory_at_the_bound_of_the_path_buffer(self):
        # The license path "<TargetDir>\Eng\license.txt" is one byte longer than the library
        # path. A 243-character TargetDir still fits both in 260 bytes with the terminator; at 244
        # the library path still fits and loads, but the license path does not: the program ends
        # silently instead of writing past the buffer.
        s = self.session
        for length, fits in ((243, True), (244, False)):
            with self.subTest(length=length):
                folder = "L" * (length - 3)
                root = z.install(s, folder=folder)
                self.assertEqual(len(s.windows_path(root)), length)
                app = z.start(s, root)
                if fits:
                    z.agreement(s).click(2)
                z.ends_silently(self, app)
                os.rename(root, s.drive_c / "done")  # keeps the next case's folder unambiguous
                z.shutil.rmtree(s.drive_c / "done")

    def test_license_too_large_to_hold_in_memory(self):
        # Sparse files: 3 GB cannot be allocated by a 32-bit process; 4 GB and 16 bytes has no
        # 32-bit size (read as 16 bytes it would show an empty text). The agreement fails to
        # build, which counts as declining.
        s = self.session
        for size in (3 << 30, (4 << 30) + 16):
            with self.subTest(size=size):
                root = z.install(s)
                license = root / "Eng" / "license.txt"
                os.truncate(license, size)
                try:
                    z.ends_silently(self, z.start(s, root), timeout=20)
                finally:
                    license.unlink()


if __name__ == "__main__":
    unittest.main()
