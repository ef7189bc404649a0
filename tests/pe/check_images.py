#!/usr/bin/env python3
"""Checks built images as the loaders will see them, without running them, by more rules than
pe_compat holds the shipped tree to, and on test builds that are not shipped. Each option names
the rules its images are held to; the DLLs each may import from are its kind's in allowlist.txt.

--runtime IMAGE...  programs on runtime/ (zynid.exe, its test builds, cdlaunch.exe): no C runtime
    of any kind imported, only the system DLLs every Windows 95 and NT 4.0 machine has, only ANSI
    functions (a name ending in W is the Unicode form, which the 9x family only stubs), no
    start-up sections of a C runtime (.CRT, .tls) and no TLS directory, subsystem version 4.0,
    and at most 64 KiB each.
--program EXE  the shipped zynid.exe: a 32-bit x86 GUI program with subsystem version 4.0, no
    resources of its own (every text comes from the language's resource library) and imports
    from system DLLs only.
--driver SYS  ZYNDRV.sys: a 32-bit x86 native-subsystem image (not a DLL: a loader that saw one
    would call DriverEntry as DllMain), relocatable, with its image checksum, importing from
    ntoskrnl.exe and hal.dll only, none of the calls that crash Wine's kernel emulation, at most
    24 KiB.
--vxd VXD  zyndata.vxd: a 32-bit x86 DLL exporting DeviceIoControl, importing from KERNEL32 only
    (no C runtime DLL), relocatable.

standin/zyndrv, where the build's pe_checksum lives, must be on PYTHONPATH. Prints each image's
size and one line per problem; exits 1 on any."""

import argparse
import sys
from pathlib import Path

import pe_checksum  # the build's own computation, which stamps the driver
from pe_compat import SUBSYSTEM_VERSION, Allowlist
from pe_image import (DIR_BASERELOC, DIR_RESOURCE, DIR_TLS, I386, IMAGE_FILE_RELOCS_STRIPPED,
                      SUBSYSTEMS, PeError, PeImage)

KINDS = Allowlist((Path(__file__).resolve().parent / "allowlist.txt").read_text()).kinds
PROGRAM_LIMIT, DRIVER_LIMIT = 64 * 1024, 24 * 1024
# Stubs in Wine 8's ntoskrnl that bring the driver host down. (ObOpenObjectByPointer works there
# on a process object from PsLookupProcessByProcessId when no object type is passed: Wine's
# PsProcessType is not what the headers' double indirection reaches.)
WINE_TRAPS = {"IoGetRequestorProcessId", "IoThreadToProcess", "MmMapViewOfSection"}


def allowed_dlls(kind):
    return set(KINDS[kind][2])


def only_from(image, dlls):
    """Problems of an import table that must be non-empty and name only these DLLs."""
    found = image.import_dlls()
    if not found:
        return ["imports nothing: the import table was not read"]
    return [f"imports from {sorted(found - dlls)}"] if found - dlls else []


def version_problems(image):
    if image.subsystem_version == SUBSYSTEM_VERSION:
        return []
    return ["subsystem version %d.%d, not 4.0: the 9x family refuses a later one"
            % image.subsystem_version]


def size_problems(image, limit):
    return [f"{len(image.data)} bytes, over {limit}"] if len(image.data) > limit else []


def machine_problems(image):
    return [] if image.machine == I386 else [f"machine {image.machine:#x}, not i386"]


def runtime_problems(image):
    problems = only_from(image, allowed_dlls("program"))
    unicode = sorted(f"{dll}!{name}" for dll, names in image.imports() for name in names
                     if isinstance(name, str) and name.endswith("W"))
    if unicode:
        problems.append(f"imports Unicode functions {unicode}")
    startup = image.section_names & {".CRT", ".tls"}
    if startup:
        problems.append(f"start-up sections of a C runtime {sorted(startup)}")
    if image.directory(DIR_TLS)[1] != 0:
        problems.append("has a TLS directory")
    return problems + version_problems(image) + size_problems(image, PROGRAM_LIMIT)


def program_problems(image):
    problems = machine_problems(image) + version_problems(image)
    if image.subsystem != SUBSYSTEMS["gui"]:
        problems.append("not a GUI program")
    if ".rsrc" in image.section_names or image.directory(DIR_RESOURCE) != (0, 0):
        problems.append("carries resources of its own")
    return problems + only_from(image, allowed_dlls("program"))


def standin_problems(image):
    problems = machine_problems(image)
    if image.characteristics & IMAGE_FILE_RELOCS_STRIPPED or image.directory(DIR_BASERELOC)[1] == 0:
        problems.append("no relocations: it could load only at its preferred address")
    startup = image.section_names & {".ctors", ".dtors", ".CRT", ".tls"}
    if startup:
        problems.append(f"start-up sections {sorted(startup)}: no runtime is there to run them")
    return problems


def driver_problems(image):
    problems = standin_problems(image)
    if image.subsystem != SUBSYSTEMS["native"]:
        problems.append(f"subsystem {image.subsystem}, not native")
    if image.is_dll:
        problems.append("marked as a DLL")
    problems += only_from(image, allowed_dlls("driver"))
    traps = WINE_TRAPS & {name for _, names in image.imports() for name in names}
    if traps:
        problems.append(f"calls what Wine's kernel cannot do: {sorted(traps)}")
    if image.checksum != pe_checksum.compute(image.data):
        problems.append("image checksum not set (boot-time loading checks it)")
    return problems + size_problems(image, DRIVER_LIMIT)


def vxd_problems(image):
    problems = standin_problems(image)
    if not image.is_dll:
        problems.append("not a DLL")
    if "DeviceIoControl" not in image.exports():
        problems.append(f"does not export DeviceIoControl (exports {image.exports()})")
    if image.import_dlls() != allowed_dlls("vxd"):
        problems.append(f"imports from {sorted(image.import_dlls())}, not KERNEL32 alone")
    return problems


def main(argv=None):
    parser = argparse.ArgumentParser()
    parser.add_argument("--runtime", nargs="+", default=[], metavar="IMAGE")
    parser.add_argument("--program", nargs="+", default=[], metavar="EXE")
    parser.add_argument("--driver", nargs="+", default=[], metavar="SYS")
    parser.add_argument("--vxd", nargs="+", default=[], metavar="VXD")
    args = parser.parse_args(argv)
    rules = ((runtime_problems, args.runtime), (program_problems, args.program),
             (driver_problems, args.driver), (vxd_problems, args.vxd))
    if not any(paths for _, paths in rules):
        parser.error("no image to check")
    failed = False
    for problems_of, paths in rules:
        for path in map(Path, paths):
            try:
                image = PeImage.read(path)
                print(f"{path.name}: {len(image.data)} bytes ({len(image.data) / 1024:.1f} KiB)")
                problems = problems_of(image)
            except PeError as e:
                problems = [f"cannot be read as a PE32 image: {e}"]
            for problem in problems:
                print(f"{path.name}: {problem}")
            failed |= bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
