#!/usr/bin/env python3
"""Checks the programs built on runtime/ (zynid.exe and its test builds, cdlaunch.exe) for what the
runtime promises, without running them: no C runtime of any kind imported, only the system DLLs
every Windows 95 and NT 4.0 machine has, only ANSI functions (a name ending in W is the Unicode
form, which the 9x family only stubs), no start-up sections of a C runtime (.CRT, .tls) and no TLS
directory, subsystem version 4.0, and at most 64 KiB each. tests/pe holds the shipped files to the
allowlist of single functions; this check covers every program on the runtime, the test builds
included.

Usage: check_runtime_images.py IMAGE... Prints each image's size and one line per problem; exits
1 on any."""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from pe_resources import PeFile  # noqa: E402

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "comctl32.dll"}
SIZE_LIMIT = 64 * 1024
DIR_TLS = 9


def problems_of(image):
    problems = []
    imports = image.imports()
    dlls = {name.lower() for name in imports}
    if not dlls:
        problems.append("imports nothing: the import table was not read")
    if dlls - SYSTEM_DLLS:
        problems.append(f"imports from {sorted(dlls - SYSTEM_DLLS)}")
    unicode = sorted(f"{dll}!{name}" for dll, names in imports.items() for name in names
                     if name.endswith("W"))
    if unicode:
        problems.append(f"imports Unicode functions {unicode}")
    startup = {name for name, _, _, _ in image.sections} & {".CRT", ".tls"}
    if startup:
        problems.append(f"start-up sections of a C runtime {sorted(startup)}")
    if image.directory(DIR_TLS)[1] != 0:
        problems.append("has a TLS directory")
    if image.subsystem_version != (4, 0):
        problems.append("subsystem version %d.%d, not 4.0: the 9x family refuses a later one"
                        % image.subsystem_version)
    if len(image.data) > SIZE_LIMIT:
        problems.append(f"{len(image.data)} bytes, over {SIZE_LIMIT}")
    return problems


def main(paths):
    failed = False
    for path in map(Path, paths):
        image = PeFile(path)
        print(f"{path.name}: {len(image.data)} bytes ({len(image.data) / 1024:.1f} KiB)")
        for problem in problems_of(image):
            print(f"{path.name}: {problem}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]) if len(sys.argv) > 1 else 2)
