#!/usr/bin/env python3
"""Lays out the product medium as a folder and as an ISO 9660 image with Joliet names.

    make_medium.py --setup SETUP_EXE --launcher CDLAUNCH_EXE --folder DIR --iso FILE

The root holds autorun.inf (which names the launcher and its icon), cdlaunch.exe, and the
installer as setup.exe, the name the launcher's Install starts from the current folder.
"""
import argparse
import os
import shutil
import subprocess
import sys

VOLUME_ID = "ZYNID"
# CR LF: the 9x family's autorun reads the file as DOS text.
AUTORUN_INF = "[autorun]\r\nopen=cdlaunch.exe\r\nicon=cdlaunch.exe,0\r\n"
ROOT_FILES = ("autorun.inf", "cdlaunch.exe", "setup.exe")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--setup", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--iso", required=True)
    parser.add_argument("--xorriso", default="xorriso")
    args = parser.parse_args()

    shutil.rmtree(args.folder, ignore_errors=True)
    os.makedirs(args.folder)
    shutil.copyfile(args.launcher, os.path.join(args.folder, "cdlaunch.exe"))
    shutil.copyfile(args.setup, os.path.join(args.folder, "setup.exe"))
    with open(os.path.join(args.folder, "autorun.inf"), "w", newline="") as f:
        f.write(AUTORUN_INF)
    assert sorted(os.listdir(args.folder)) == list(ROOT_FILES)

    if os.path.exists(args.iso):
        os.remove(args.iso)
    # Level 1 names (8.3) suit every CD file system driver of the period; Joliet gives the
    # lower-case long names that Windows shows.
    run = subprocess.run([args.xorriso, "-as", "mkisofs", "-quiet", "-no-pad", "-iso-level", "1",
                          "-J", "-r", "-V", VOLUME_ID, "-o", args.iso, args.folder],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if run.returncode != 0:
        sys.exit(f"xorriso failed ({run.returncode}):\n{run.stdout}")


if __name__ == "__main__":
    main()
