#!/usr/bin/env python3
"""Holds every shipped PE file to what starts on the Windows 95 family and on NT 4.0.

    pe_compat.py --allowlist FILE (--build BUILD_DIR [--cmake CMAKE] | --tree DIR)

With --build it lays out the installed tree with `cmake --install` into a temporary folder, so
that exactly what ships is checked; --tree checks a tree laid out already. Every PE file found
must be named by the allowlist's `file` lines and is held to its kind:

* machine i386, PE32, a program or a library as its kind says;
* subsystem GUI (native for the kernel driver), subsystem version 4.0: later versions do not
  start on the 9x family or on NT 4.0;
* no TLS directory: TLS callbacks and the loader's thread-local storage are not there on every
  target; no delay-load imports, which would escape this check;
* imports only from its kind's DLLs, by name, and only functions the allowlist holds with the
  reason they are safe. Ordinals of system DLLs differ between releases, so any import by ordinal
  fails; a function a family lacks fails naming file, DLL and function.

Prints a line per file (PASS or FAIL with each reason), the allowed but unconfirmed imports as
notes, and exits 1 on any failure.
"""

import argparse
import fnmatch
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

from pe_image import DIR_DELAY_IMPORT, DIR_TLS, I386, SUBSYSTEMS, PeError, PeImage

SUBSYSTEM_VERSION = (4, 0)


class Allowlist:
    """The allowlist file: shipped files, kinds and allowed imports."""

    STATUSES = ("ok", "unsure", "missing")

    def __init__(self, text, source="allowlist"):
        self.files = []     # [(pattern, kind)]
        self.kinds = {}     # name -> (is_dll, subsystem, {dll lower-case: dll as written})
        self.imports = {}   # (dll lower-case, function) -> (status, reason)
        for number, line in enumerate(text.splitlines(), 1):
            fields = line.split(None, 4 if line.lstrip().startswith("import") else -1)
            if not fields or fields[0].startswith("#"):
                continue
            where = f"{source}:{number}"
            if fields[0] == "file" and len(fields) == 3:
                self.files.append((fields[1], fields[2]))
            elif fields[0] == "kind" and len(fields) >= 5 and fields[2] in ("exe", "dll") \
                    and fields[3] in SUBSYSTEMS:
                dlls = {} if fields[4:] == ["-"] else {d.lower(): d for d in fields[4:]}
                self.kinds[fields[1]] = (fields[2] == "dll", SUBSYSTEMS[fields[3]], dlls)
            elif fields[0] == "import" and len(fields) == 5 and fields[3] in self.STATUSES:
                key = (fields[1].lower(), fields[2])
                if key in self.imports:
                    raise ValueError(f"{where}: {fields[1]}!{fields[2]} is listed twice")
                self.imports[key] = (fields[3], fields[4].strip())
            else:
                raise ValueError(f"{where}: cannot read {line.strip()!r}")
        for pattern, kind in self.files:
            if kind not in self.kinds:
                raise ValueError(f"{source}: file {pattern} has the unknown kind {kind}")

    def kind_of(self, path):
        """The kinds whose file patterns match a path of the installed tree ('/' separators)."""
        return [kind for pattern, kind in self.files if fnmatch.fnmatchcase(path, pattern)]


def check_image(name, data, kind, allowlist):
    """(failures, notes) of one image held to one kind."""
    try:
        image = PeImage(data)
        imports = image.imports()
    except PeError as e:
        return [f"{name}: cannot be read as a PE32 image: {e}"], []
    is_dll, subsystem, dlls = allowlist.kinds[kind]
    failures = []

    def fail(message):
        failures.append(f"{name}: {message}")

    if image.machine != I386:
        fail(f"machine {image.machine:#x}, not i386 ({I386:#x})")
    if image.is_dll != is_dll:
        fail("a DLL, where a program is shipped" if image.is_dll else
             "a program, where a DLL is shipped")
    if image.subsystem != subsystem:
        fail(f"subsystem {image.subsystem}, not {subsystem}")
    if image.subsystem_version != SUBSYSTEM_VERSION:
        later = image.subsystem_version > SUBSYSTEM_VERSION
        fail("subsystem version %d.%d, not 4.0" % image.subsystem_version +
             (": the 9x family and NT 4.0 do not start it" if later else ""))
    if image.directory(DIR_TLS) != (0, 0):
        callbacks = image.tls_callbacks()
        fail("has a TLS directory" + (f" with {callbacks} callback(s)" if callbacks else "") +
             ": not every target's loader sets up thread-local storage or runs TLS callbacks")
    if image.directory(DIR_DELAY_IMPORT) != (0, 0):
        fail("has delay-load imports, which this check cannot hold to the allowlist")
    unsure = {}
    for dll, functions in imports:
        if dll.lower() not in dlls:
            listed = " ".join(f if isinstance(f, str) else f"#{f}" for f in functions)
            fail(f"imports from {dll}, which the kind {kind} may not import from ({listed})")
            continue
        for function in functions:
            if not isinstance(function, str):
                fail(f"imports {dll} by ordinal {function}: ordinals of system DLLs differ "
                     "between releases; import by name")
                continue
            status, reason = allowlist.imports.get((dll.lower(), function), (None, None))
            if status is None:
                fail(f"imports {dll}!{function}, which is not on the allowlist: nothing "
                     "establishes that the 9x family and NT 4.0 both have it")
            elif status == "missing":
                fail(f"imports {dll}!{function}: {reason}")
            elif status == "unsure":
                unsure.setdefault((dll, reason), []).append(function)
    notes = [f"{name}: {dll} {' '.join(functions)}: {reason}"
             for (dll, reason), functions in unsure.items()]
    return failures, notes


# Instructions of processors after the 386: the 486's byte swap, compare-exchange, exchange-add
# and cache and TLB control, and what came later (conditional moves, the Pentium Pro's compares,
# MMX and SSE registers, the Pentium's time stamp and CPU id). A program that uses them ends with
# an invalid instruction on the 386 machines that Windows 95 still runs on. The atomic ones come
# with a lock prefix, which objdump prints before them.
LATER_INSTRUCTION = re.compile(
    r"\t(?:lock )?(bswap|cmpxchg\w*|xadd\w*|invd|wbinvd|invlpg"
    r"|cmov\w+|fcmov\w+|fu?comip?|rdtsc|cpuid|sysenter)\b|%x?mm\d")


def later_instructions(disassembly):
    """The instructions of later processors in objdump's disassembly text, with their counts."""
    found = {}
    for line in disassembly.splitlines():
        match = LATER_INSTRUCTION.search(line)
        if match:
            key = match.group(1) or match.group(0)[1:].rstrip("0123456789") + " registers"
            found[key] = found.get(key, 0) + 1
    return found


def check_instructions(root, objdump):
    """Failures for the shipped files whose code needs a processor after the 386."""
    failures = []
    for path in pe_files(root):
        text = subprocess.run([objdump, "-d", os.path.join(root, path)], capture_output=True,
                              text=True, check=True).stdout
        found = later_instructions(text)
        if found:
            listed = ", ".join(f"{name} x{count}" for name, count in sorted(found.items()))
            failures.append(f"{path}: code for a processor after the 386 ({listed})")
    return failures


def pe_files(root):
    """Paths ('/' separators) of the files under root that begin like a PE image, sorted."""
    found = []
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        for file in files:
            path = os.path.join(folder, file)
            with open(path, "rb") as f:
                if f.read(2) == b"MZ":
                    found.append(os.path.relpath(path, root).replace(os.sep, "/"))
    return sorted(found)


def check_tree(root, allowlist):
    """(report lines, failures, notes) for every PE file of an installed tree."""
    lines, failures, notes = [], [], []
    found = pe_files(root)
    for pattern, kind in allowlist.files:
        if not any(fnmatch.fnmatchcase(path, pattern) for path in found):
            failures.append(f"{pattern}: the allowlist names it ({kind}), the tree has no such "
                            "PE file")
    for path in found:
        kinds = allowlist.kind_of(path)
        if len(kinds) != 1:
            own = [f"{path}: " + ("the allowlist does not name this shipped PE file" if not kinds
                                  else f"the allowlist names it as {' and '.join(kinds)}")]
            own_notes = []
        else:
            own, own_notes = check_image(path, Path(root, path).read_bytes(), kinds[0],
                                         allowlist)
        kind = kinds[0] if len(kinds) == 1 else "?"
        lines.append(f"{'FAIL' if own else 'PASS'} {path} ({kind})")
        failures += own
        notes += own_notes
    return lines, failures, notes


def install_tree(build_dir, cmake, prefix):
    run = subprocess.run([cmake, "--install", build_dir, "--prefix", prefix],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if run.returncode != 0:
        raise RuntimeError(f"cmake --install {build_dir} failed: {run.stderr.strip()}")


def main(argv=None):
    parser = argparse.ArgumentParser()
    parser.add_argument("--allowlist", required=True)
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--build")
    where.add_argument("--tree")
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--objdump", help="also check the code's instructions with this objdump")
    args = parser.parse_args(argv)
    allowlist = Allowlist(Path(args.allowlist).read_text(), args.allowlist)
    with tempfile.TemporaryDirectory(prefix="pe-compat-") as work:
        root = args.tree
        if args.build:
            root = os.path.join(work, "installed")
            try:
                install_tree(args.build, args.cmake, root)
            except RuntimeError as e:
                print(f"FAIL {e}")
                return 1
        lines, failures, notes = check_tree(root, allowlist)
        if args.objdump:
            failures += check_instructions(root, args.objdump)
    for line in lines:
        print(line)
    for note in notes:
        print(f"note {note}")
    for failure in failures:
        print(f"FAIL {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
