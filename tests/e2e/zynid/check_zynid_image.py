#!/usr/bin/env python3
"""Checks the shipped zynid.exe as the loaders of both families will see it: a 32-bit x86 GUI
program with subsystem version 4.0, no resources of its own (every text comes from the language's
resource library) and imports from system DLLs only. Usage: check_zynid_image.py OBJDUMP EXE.
Prints one line per problem; exits 1 on any."""

import re
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "comctl32.dll"}


def main(objdump, exe):
    headers = subprocess.run([objdump, "-p", "-h", exe], capture_output=True, text=True,
                             check=True, timeout=60).stdout
    problems = []

    def expect(condition, message):
        if not condition:
            problems.append(message)

    expect("file format pei-i386" in headers, "not a 32-bit x86 image")
    expect(re.search(r"^Subsystem\s+00000002", headers, re.M), "not a GUI program")
    expect(re.search(r"^MajorSubsystemVersion\s+4$", headers, re.M) and
           re.search(r"^MinorSubsystemVersion\s+0$", headers, re.M), "subsystem version not 4.0")
    expect(not re.search(r"^\s*\d+\s+\.rsrc\s", headers, re.M), "carries resources of its own")
    dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", headers)}
    expect(dlls, "imports nothing: the import table was not read")
    expect(dlls <= SYSTEM_DLLS, "imports other than system DLLs: %s" % sorted(dlls - SYSTEM_DLLS))
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
