#!/usr/bin/env python3
"""Checks the built stand-in drivers as the loaders will see them, without running them.

ZYNDRV.sys: a 32-bit x86 native-subsystem image (not a DLL: a loader that saw one would call
DriverEntry as DllMain), relocatable, with its image checksum, importing from ntoskrnl.exe and
hal.dll only, none of the calls that crash Wine's kernel emulation, at most 24 KiB.
zyndata.vxd: a 32-bit x86 DLL exporting DeviceIoControl, importing from KERNEL32 only (no C
runtime DLL), relocatable.

Usage: check_standin_images.py ZYNDRV.sys zyndata.vxd. Prints each image's size and one line per
problem; exits 1 on any."""

import struct
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "e2e"))
sys.path.insert(0, str(HERE.parents[1] / "standin" / "zyndrv"))
from pe_resources import PeFile  # noqa: E402
import pe_checksum  # noqa: E402

I386 = 0x14C
NATIVE = 1
IMAGE_FILE_RELOCS_STRIPPED, IMAGE_FILE_DLL = 0x0001, 0x2000
DRIVER_LIMIT = 24 * 1024
# Stubs in Wine 8's ntoskrnl that bring the driver host down. (ObOpenObjectByPointer works there
# on a process object from PsLookupProcessByProcessId when no object type is passed: Wine's
# PsProcessType is not what the headers' double indirection reaches.)
WINE_TRAPS = {"IoGetRequestorProcessId", "IoThreadToProcess", "MmMapViewOfSection"}


class Image(PeFile):
    def __init__(self, path):
        super().__init__(path)
        self.path = Path(path)
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        self.machine, _, _, _, _, _, self.characteristics = struct.unpack_from(
            "<HHIIIHH", self.data, pe + 4)

    def exports(self):
        rva, size = self.directory(0)
        if rva == 0 or size == 0:
            return []
        at = self.offset(rva)
        names = struct.unpack_from("<I", self.data, at + 24)[0]  # NumberOfNames
        names_at = self.offset(struct.unpack_from("<I", self.data, at + 32)[0])
        return [self.cstring(struct.unpack_from("<I", self.data, names_at + 4 * i)[0])
                for i in range(names)]

    def common_problems(self):
        problems = []
        if self.machine != I386:
            problems.append(f"machine {self.machine:#x}, not i386")
        if self.characteristics & IMAGE_FILE_RELOCS_STRIPPED or self.directory(5)[1] == 0:
            problems.append("no relocations: it could load only at its preferred address")
        startup = {name for name, _, _, _ in self.sections} & {".ctors", ".dtors", ".CRT", ".tls"}
        if startup:
            problems.append(f"start-up sections {sorted(startup)}: no runtime is there to run them")
        return problems


def check_driver(path):
    image = Image(path)
    problems = image.common_problems()
    if image.subsystem != NATIVE:
        problems.append(f"subsystem {image.subsystem}, not native")
    if image.characteristics & IMAGE_FILE_DLL:
        problems.append("marked as a DLL")
    imports = image.imports()
    dlls = {name.lower() for name in imports}
    if not dlls:
        problems.append("imports nothing: the import table was not read")
    if dlls - {"ntoskrnl.exe", "hal.dll"}:
        problems.append(f"imports from {sorted(dlls - {'ntoskrnl.exe', 'hal.dll'})}")
    traps = WINE_TRAPS & {name for names in imports.values() for name in names}
    if traps:
        problems.append(f"calls what Wine's kernel cannot do: {sorted(traps)}")
    if struct.unpack_from("<I", image.data, pe_checksum.checksum_offset(image.data))[0] != \
            pe_checksum.compute(image.data):
        problems.append("image checksum not set (boot-time loading checks it)")
    if len(image.data) > DRIVER_LIMIT:
        problems.append(f"{len(image.data)} bytes, over {DRIVER_LIMIT}")
    return image, problems


def check_vxd(path):
    image = Image(path)
    problems = image.common_problems()
    if not image.characteristics & IMAGE_FILE_DLL:
        problems.append("not a DLL")
    if "DeviceIoControl" not in image.exports():
        problems.append(f"does not export DeviceIoControl (exports {image.exports()})")
    dlls = {name.lower() for name in image.imports()}
    if dlls != {"kernel32.dll"}:
        problems.append(f"imports from {sorted(dlls)}, not KERNEL32 alone")
    return image, problems


def main(driver, vxd):
    failed = False
    for check, path in ((check_driver, driver), (check_vxd, vxd)):
        image, problems = check(path)
        print(f"{image.path.name}: {len(image.data)} bytes ({len(image.data) / 1024:.1f} KiB)")
        for problem in problems:
            print(f"{image.path.name}: {problem}")
        failed |= bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
