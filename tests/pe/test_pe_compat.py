#!/usr/bin/env python3
"""The compatibility check itself, on tiny PE images made here: each fault it exists for is
caught with its own message, a damaged file is reported rather than crashing the check, and an
installed tree is covered file by file. Also reads the shipped allowlist, and shows that the
PE reader keeps every import entry."""

import struct
import tempfile
import unittest
from pathlib import Path

import pe_compat
import pe_image

HERE = Path(__file__).resolve().parent
ALLOWLIST = """
file app.exe     program
file */res.lrc   resources
kind program     exe gui KERNEL32.dll USER32.dll
kind resources   dll gui -
import KERNEL32.dll CloseHandle             ok       since both
import KERNEL32.dll GetSystemFirmwareTable  missing  the 9x family lacks it
import USER32.dll   MessageBoxA             unsure   not confirmed on the first release
"""


def build_image(machine=pe_image.I386, subsystem=2, version=(4, 0), dll=False,
                imports=(), tls_callbacks=None):
    """A PE32 image with one section holding its imports and TLS directory, if any."""
    base, va = 0x400000, 0x1000
    body = bytearray(20 * (len(imports) + 1))

    def put(data):
        rva = va + len(body)
        body.extend(data + b"\0" * (-len(data) % 4))
        return rva

    directories = [(0, 0)] * 16
    for i, (name, functions) in enumerate(imports):
        thunks = [0x80000000 | f if isinstance(f, int) else put(b"\0\0" + f.encode() + b"\0")
                  for f in functions]
        table = put(struct.pack(f"<{len(thunks) + 1}I", *thunks, 0))
        struct.pack_into("<IIIII", body, 20 * i, table, 0, 0, put(name.encode() + b"\0"), table)
    if imports:
        directories[pe_image.DIR_IMPORT] = (va, len(imports) * 20 + 20)
    if tls_callbacks is not None:
        callbacks = put(struct.pack(f"<{tls_callbacks + 1}I", *[base + va] * tls_callbacks, 0))
        tls = put(struct.pack("<6I", 0, 0, 0, base + callbacks, 0, 0))
        directories[pe_image.DIR_TLS] = (tls, 24)
    body.extend(b"\0" * (-len(body) % 0x200))

    header = bytearray(0x200)
    header[:2], header[0x40:0x44] = b"MZ", b"PE\0\0"
    struct.pack_into("<I", header, 0x3C, 0x40)
    struct.pack_into("<HHIIIHH", header, 0x44, machine, 1, 0, 0, 0, 224, 0x2102 if dll else 0x102)
    struct.pack_into("<H", header, 0x58, pe_image.PE32)
    struct.pack_into("<I", header, 0x58 + 28, base)
    struct.pack_into("<HH", header, 0x58 + 48, *version)
    struct.pack_into("<H", header, 0x58 + 68, subsystem)
    struct.pack_into("<I", header, 0x58 + 92, 16)
    for i, (rva, size) in enumerate(directories):
        struct.pack_into("<II", header, 0x58 + 96 + 8 * i, rva, size)
    struct.pack_into("<8sIIII", header, 0x58 + 224, b".data", len(body), va, len(body), 0x200)
    return bytes(header + body)


class Images(unittest.TestCase):
    allowlist = pe_compat.Allowlist(ALLOWLIST)

    def check(self, kind="program", **image):
        return pe_compat.check_image("app.exe", build_image(**image), kind, self.allowlist)

    def test_a_sound_program_passes_and_shows_what_is_unconfirmed(self):
        failures, notes = self.check(imports=[("kernel32.dll", ["CloseHandle"]),
                                              ("USER32.dll", ["MessageBoxA"])])
        self.assertEqual(failures, [])
        self.assertEqual(notes, ["app.exe: USER32.dll MessageBoxA: not confirmed on the first "
                                 "release"])

    def test_each_fault_fails_alone_with_its_own_message(self):
        cases = [
            (dict(machine=0x8664), "machine 0x8664, not i386"),
            (dict(version=(5, 1)), "subsystem version 5.1, not 4.0"),
            (dict(subsystem=3), "subsystem 3, not 2"),
            (dict(dll=True), "a DLL, where a program is shipped"),
            (dict(tls_callbacks=1), "has a TLS directory with 1 callback(s)"),
            (dict(tls_callbacks=0), "has a TLS directory:"),
            (dict(imports=[("KERNEL32.dll", [17])]), "imports KERNEL32.dll by ordinal 17"),
            (dict(imports=[("KERNEL32.dll", ["CloseHandle", "CreateSemaphoreW"])]),
             "app.exe: imports KERNEL32.dll!CreateSemaphoreW, which is not on the allowlist"),
            (dict(imports=[("KERNEL32.dll", ["GetSystemFirmwareTable"])]),
             "app.exe: imports KERNEL32.dll!GetSystemFirmwareTable: the 9x family lacks it"),
            (dict(imports=[("USER32.dll", ["CloseHandle"])]), "imports USER32.dll!CloseHandle,"),
            (dict(imports=[("msvcrt.dll", ["malloc", 12])]),
             "imports from msvcrt.dll, which the kind program may not import from (malloc #12)"),
        ]
        for image, message in cases:
            with self.subTest(image=image):
                failures, _ = self.check(**image)
                self.assertEqual(len(failures), 1, failures)
                self.assertIn(message, failures[0])

    def test_a_resource_library_imports_nothing(self):
        self.assertEqual(self.check("resources", dll=True), ([], []))
        failures, _ = self.check("resources", dll=True,
                                 imports=[("KERNEL32.dll", ["CloseHandle"])])
        self.assertIn("imports from KERNEL32.dll", failures[0])

    def test_a_damaged_file_is_reported_not_raised(self):
        sound = build_image(imports=[("KERNEL32.dll", ["CloseHandle"])])
        no_end = bytearray(sound)  # the import table past its first entry overwritten
        no_end[0x200 + 20:] = b"\x01" * (len(no_end) - 0x200 - 20)
        for label, data in (("empty", b""), ("MZ alone", b"MZ"), ("cut", sound[:0x100]),
                            ("no PE", b"MZ" + sound[2:0x40] + b"NE" + sound[0x42:]),
                            ("import table damaged", bytes(no_end))):
            with self.subTest(label):
                failures, _ = pe_compat.check_image("app.exe", data, "program", self.allowlist)
                self.assertEqual(len(failures), 1)
                self.assertIn("app.exe: cannot be read as a PE32 image", failures[0])


class Reader(unittest.TestCase):
    def test_two_entries_for_one_dll_are_both_read(self):
        image = build_image(imports=[("KERNEL32.dll", ["CreateFileW"]), ("KERNEL32.dll", ["A"])])
        self.assertEqual(pe_image.PeImage(image).imports(),
                         [("KERNEL32.dll", ["CreateFileW"]), ("KERNEL32.dll", ["A"])])


class Trees(unittest.TestCase):
    def test_every_shipped_pe_file_is_named_and_every_name_is_shipped(self):
        allowlist = pe_compat.Allowlist(ALLOWLIST)
        with tempfile.TemporaryDirectory() as root:
            Path(root, "app.exe").write_bytes(build_image())
            Path(root, "Eng").mkdir()
            Path(root, "Eng", "res.lrc").write_bytes(build_image(dll=True))
            Path(root, "Eng", "license.txt").write_text("not a PE file")
            lines, failures, _ = pe_compat.check_tree(root, allowlist)
            self.assertEqual(lines, ["PASS Eng/res.lrc (resources)", "PASS app.exe (program)"])
            self.assertEqual(failures, [])

            Path(root, "Eng", "res.lrc").rename(Path(root, "Eng", "stray.dll"))
            lines, failures, _ = pe_compat.check_tree(root, allowlist)
            self.assertIn("FAIL Eng/stray.dll (?)", lines)
            self.assertEqual(failures, [
                "*/res.lrc: the allowlist names it (resources), the tree has no such PE file",
                "Eng/stray.dll: the allowlist does not name this shipped PE file"])


class Instructions(unittest.TestCase):
    def test_only_instructions_after_the_386_are_found(self):
        text = ("  401000:\t0f 4c c2             \tcmovl  %edx,%eax\n"
                "  401003:\tf0 0f b1 11          \tlock cmpxchg %edx,(%ecx)\n"
                "  401007:\t66 0f ef c0          \tpxor   %xmm0,%xmm0\n"
                "  40100b:\t0f 4c c2             \tcmovl  %edx,%eax\n"
                "  40100e:\t0f c8                \tbswap  %eax\n"
                "  401010:\tdf e9                \tfucomip %st(1),%st\n"
                "  401012:\t8b 45 08             \tmov    0x8(%ebp),%eax\n")
        self.assertEqual(pe_compat.later_instructions(text),
                         {"cmovl": 2, "xmm registers": 1, "fucomip": 1, "bswap": 1,
                          "cmpxchg": 1})


class TheAllowlist(unittest.TestCase):
    def test_malformed_lines_stop_the_check(self):
        for text in ("import KERNEL32.dll CloseHandle fine because", "kind x exe cui -",
                     "file a.exe nokind", "import A.dll F ok r\nimport a.dll F ok r", "frob"):
            with self.subTest(text), self.assertRaises(ValueError):
                pe_compat.Allowlist(text)

    def test_the_shipped_allowlist_holds_the_product_to_the_system_dlls(self):
        allowlist = pe_compat.Allowlist((HERE / "allowlist.txt").read_text())
        dlls = {name: set(kind[2]) for name, kind in allowlist.kinds.items()}
        self.assertEqual(dlls["program"], {"kernel32.dll", "user32.dll", "gdi32.dll",
                                           "advapi32.dll", "comctl32.dll"})
        self.assertEqual(dlls["resources"], set())
        self.assertEqual(dlls["driver"], {"ntoskrnl.exe", "hal.dll"})
        self.assertEqual(allowlist.kinds["driver"][1], pe_compat.SUBSYSTEMS["native"])
        allowed = set().union(*dlls.values())
        for (dll, function), (status, reason) in allowlist.imports.items():
            with self.subTest(function):
                self.assertIn(dll, allowed)
                self.assertTrue(reason)
                # Unicode forms are stubs that fail on the 9x family: the product is ANSI.
                unicode = function.endswith("W") and function[-2].islower()
                self.assertFalse(unicode and status != "missing", function)


if __name__ == "__main__":
    unittest.main()
