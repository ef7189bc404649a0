#!/usr/bin/env python3
"""The set-up scripts on a bad mirror day and without a test machine, with stand-ins for the
system's commands on PATH (tests/scripts/standin-command), never the network."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
STANDINS = ("id dpkg dpkg-query mount umount mountpoint chroot debootstrap mkfs.ext4 apt-get cmake"
            " ctest qemu-system-x86_64").split()


class SetupFailures(unittest.TestCase):
    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp())
        self.addCleanup(shutil.rmtree, self.tmp)
        for name in STANDINS:
            (self.tmp / "bin" / name).parent.mkdir(exist_ok=True)
            (self.tmp / "bin" / name).symlink_to(ROOT / "tests" / "scripts" / "standin-command")

    def run_script(self, *command, cwd=ROOT, **env):
        env = {**os.environ, "PATH": f"{self.tmp / 'bin'}:{os.environ['PATH']}",
               "TMPDIR": str(self.tmp), "ZYN_WINEVM_DIR": str(self.tmp / "vm"), **env}
        run = subprocess.run(command, cwd=cwd, env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True, timeout=60)
        return run.returncode, run.stdout.splitlines()

    def test_bootstrap_blames_the_mirror_and_keeps_apt_in_its_log(self):
        rc, lines = self.run_script("bash", "scripts/bootstrap.sh")
        self.assertEqual(rc, 1)
        self.assertEqual(len(lines), 3, lines)  # its own two lines under "installing …"
        self.assertRegex(lines[1], r"could not serve \S+/binary-i386/Packages.xz \(\"File has "
                         r"unexpected size \(71248 != 71252\)\. Mirror sync in progress\?\"\), .*"
                         r"held broken packages.*the mirror, not this project")
        log = re.fullmatch(r".*run the same command again; apt's output is in (\S+)", lines[2])
        self.assertIn("Failed to fetch", Path(log[1]).read_text())
        self.assertEqual(self.run_script("bash", "scripts/bootstrap.sh", STANDIN_MIRROR="ok")[0], 0)

    def test_image_needs_no_security_suite_and_names_a_failed_step(self):
        rc, lines = self.run_script("scripts/winevm/build-image.sh")
        self.assertEqual(rc, 0, lines)
        self.assertTrue((Path(lines[-1]) / "ready").is_file())
        shutil.rmtree(self.tmp / "vm")
        rc, lines = self.run_script("scripts/winevm/build-image.sh", STANDIN_FAIL="debootstrap")
        self.assertEqual(rc, 1)
        log = re.fullmatch(r'cannot make the test machine: step "debootstrap" failed \(status 1\); '
                           r"log: (\S+)", lines[-1])
        self.assertIn("debootstrap: failed", Path(log[1]).read_text())

    def test_demo_and_test_say_first_that_the_test_machine_failed(self):
        shutil.copytree(ROOT / "scripts", self.tmp / "tree" / "scripts")  # test.sh's logs go there
        for fails, said in (("debootstrap", 'cannot make the test machine: step "debootstrap"'),
                            ("qemu-system-x86_64", "cannot start the test machine")):
            with self.subTest(fails=fails):
                shutil.rmtree(self.tmp / "vm", ignore_errors=True)
                rc, lines = self.run_script("python3", "scripts/demo.py", ZYN_WINEVM="1",
                                            STANDIN_FAIL=fails)
                said_at = next(i for i, line in enumerate(lines) if said in line)
                self.assertLess(said_at, lines.index("zynid cannot run here: ZYN_WINEVM=1 asks for"
                                                     " the test machine"))
                self.assertEqual((rc, lines[-1]), (0, "product: 431924G"))
                rc, lines = self.run_script("bash", "scripts/test.sh", cwd=self.tmp / "tree",
                                            ZYN_WINEVM="1", STANDIN_MIRROR="ok", STANDIN_FAIL=fails)
                self.assertEqual((rc, lines[-1]), (1, "4 passed, 1 failed, 0 skipped"))
                self.assertIn(said, lines[-3])  # the summary's FAILED line
                if fails == "debootstrap":  # an image that cannot be made is known before builds
                    said_at = next(i for i, line in enumerate(lines) if said in line)
                    self.assertLess(said_at, lines.index("== build native"))


if __name__ == "__main__":
    unittest.main()
