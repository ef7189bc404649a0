#!/usr/bin/env python3
"""Prints the project's measured figures as one Markdown table: sizes of the shipped files
against their targets, the reader's time per table, dmiread against dmidecode, and the figures
that need Wine. A report, not a test: nothing fails when a figure misses its target.

    scripts/figures.py [--win32 build/win32] [--native build/native] [--runs 30]

Needs built win32 and native trees (cmake --build --preset win32 / native). The dmiread rows run
scripts/bench-dmiread.sh (about a minute over the full corpus) and the reader rows
dmi_reader_bench; both use the external corpus when it is present.
"""

import argparse
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
KIB = 1024
# Shipped file (path in the installed tree, '*' for every language) -> size target in bytes.
SIZE_TARGETS = [
    ("zynid.exe", 64 * KIB),
    ("cdlaunch.exe", 24 * KIB),
    ("*/ZYNRes.lrc", 16 * KIB),
    ("ZYNDRV.sys", 16 * KIB),
    ("zyndata.vxd", None),
]
NO_WINE = "not measured: Wine cannot run on this machine"


def wine_can_run():
    """Wine's loader is a 32-bit program: it runs only where the kernel runs 32-bit code."""
    for loader in ("/usr/lib/wine/wine", "/usr/lib/i386-linux-gnu/wine/wine"):
        if os.path.exists(loader):
            try:
                subprocess.run([loader, "--version"], capture_output=True, timeout=30)
                return True
            except OSError:
                return False
    return False


def size_text(size, target):
    text = f"{size:,} bytes ({size / KIB:.1f} KiB)"
    if target is None:
        return text, "-"
    verdict = "met" if size <= target else f"MISSED by {size - target:,} bytes"
    return text, f"{target // KIB} KiB: {verdict}"


def size_rows(win32):
    rows = []
    with tempfile.TemporaryDirectory() as tree:
        subprocess.run(["cmake", "--install", str(win32), "--prefix", tree], check=True,
                       stdout=subprocess.DEVNULL)
        files = {p.relative_to(tree).as_posix().lower(): p for p in Path(tree).rglob("*")
                 if p.is_file()}
        for pattern, target in SIZE_TARGETS:
            regex = re.compile("^" + re.escape(pattern.lower()).replace(r"\*", "[^/]+") + "$")
            found = sorted(rel for rel in files if regex.match(rel))
            if not found:
                rows.append((pattern, "not built", "-"))
            for rel in found:
                path = files[rel]
                rows.append((path.relative_to(tree).as_posix(), *size_text(path.stat().st_size,
                                                                            target)))
    for name, path in (("installer setup.exe", win32 / "installer" / "setup.exe"),
                       ("medium ISO image", win32 / "zynid-medium.iso")):
        rows.append((name, *size_text(path.stat().st_size, None)) if path.exists()
                    else (name, "not built (cmake --build --preset win32 --target medium)", "-"))
    return rows


def reader_rows(native):
    bench = native / "bin" / "dmi_reader_bench"
    if not bench.exists():
        return [("reader time per table", f"not measured: {bench} not built", "-")]
    out = subprocess.run([str(bench), "--benchmark_format=json", "--benchmark_min_time=0.05"],
                         check=True, capture_output=True, text=True).stdout
    times = [b["real_time"] * {"ns": 1e-3, "us": 1.0, "ms": 1e3}[b["time_unit"]]
             for b in json.loads(out)["benchmarks"]]
    return [(f"reader time per table ({len(times)} tables)",
             f"median {statistics.median(times):.2f} us, worst {max(times):.2f} us", "-")]


def dmiread_rows(native, runs):
    dmiread = native / "bin" / "dmiread"
    if not dmiread.exists():
        return [("dmiread / dmidecode", f"not measured: {dmiread} not built", "-")]
    env = dict(os.environ, DMIREAD=str(dmiread))
    # The corpus the native tree was configured with, unless the caller names one.
    cache = native / "CMakeCache.txt"
    if "ZYN_CORPUS_DIR" not in env and cache.exists():
        found = re.search(r"^ZYN_CORPUS_DIR:PATH=(.*)$", cache.read_text(), re.M)
        if found:
            env["ZYN_CORPUS_DIR"] = found.group(1)
    run = subprocess.run([str(ROOT / "scripts" / "bench-dmiread.sh"), str(runs)], env=env,
                         capture_output=True, text=True)
    match = re.search(r"ratio: median ([\d.]+), worst ([\d.]+) \((\d+) of (\d+)", run.stdout)
    if run.returncode != 0 or not match:
        return [("dmiread / dmidecode", "not measured: " + (run.stderr.strip() or "no summary"),
                 "-")]
    median, worst, slower, total = match.groups()
    verdict = "met" if float(worst) <= 1.0 else f"MISSED on {slower} of {total} dumps"
    return [(f"dmiread / dmidecode, whole process ({total} dumps, paired)",
             f"median {median}, worst {worst}", f"at most 1.00: {verdict}")]


def wine_rows(win32):
    names = ["zynid start to agreement / minimal dialog", "zynid start to result / minimal dialog",
             "installer silent install time"]
    if not wine_can_run():
        return [(name, NO_WINE, "-") for name in names]
    run = subprocess.run([sys.executable, str(ROOT / "scripts" / "measure-startup.py"), "--build",
                          str(win32)], capture_output=True, text=True)
    match = re.search(r"ratio zynid / show_agreement \(medians\): ([\d.]+)", run.stdout)
    first = f"ratio {match.group(1)}" if match else "not measured: measure-startup.py failed"
    return [(names[0], first, "-")] + [(name, "not measured: no measurement written yet", "-")
                                       for name in names[1:]]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--win32", default=str(ROOT / "build" / "win32"))
    parser.add_argument("--native", default=str(ROOT / "build" / "native"))
    parser.add_argument("--runs", type=int, default=30, help="runs per command and dump")
    options = parser.parse_args()
    win32, native = Path(options.win32), Path(options.native)

    rows = size_rows(win32) + reader_rows(native) + dmiread_rows(native, options.runs)
    rows += wine_rows(win32)
    print("| figure | measured | target |")
    print("|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")


if __name__ == "__main__":
    main()
