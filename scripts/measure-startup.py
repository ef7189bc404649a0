#!/usr/bin/env python3
"""Start-up figure of zynid under Wine: the time from starting the process to its license
agreement being visible, against the least program that shows the same dialog (108) of the same
resource library (zynid_show_agreement). Prints the median of several runs of each and the ratio.

Usage: scripts/measure-startup.py [--build build/win32] [--runs 9]
Needs a built win32 tree (cmake --build --preset win32). A figure, not a test: nothing fails on a
slow machine. Each run: a winprobe "find" is already waiting (it polls every 50 ms) when the
program starts; the time is taken when it reports the dialog visible, so both programs carry the
same polling and reporting delay.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(ROOT / "build" / "win32"))
    parser.add_argument("--runs", type=int, default=9)
    options = parser.parse_args()
    build = Path(options.build).resolve()

    os.environ.setdefault("ZYN_E2E_WORK", str(build / "tests" / "e2e" / "wine"))
    os.environ["ZYN_E2E_EXE_winprobe"] = str(build / "tests" / "e2e" / "winprobe.exe")
    sys.path.insert(0, str(ROOT / "tests" / "e2e"))
    sys.path.insert(0, str(ROOT / "tests" / "resources"))
    import harness
    import check_library

    library = build / "resources" / "Eng" / "ZYNRes.lrc"
    resources = check_library.PeImage(library.read_bytes()).resources()
    caption = check_library.parse_dialog(resources[(check_library.RT_DIALOG, 108)][1])["caption"]

    with harness.Session("measure-startup") as session:
        install = session.drive_c / "ZYN"
        (install / "Eng").mkdir(parents=True)
        shutil.copy(build / "app" / "win32" / "zynid.exe", install / "zynid.exe")
        shutil.copy(build / "tests" / "e2e" / "zynid" / "zynid_show_agreement.exe",
                    install / "show_agreement.exe")
        shutil.copy(library, install / "Eng" / "ZYNRes.lrc")
        shutil.copy(build / "resources" / "Eng" / "license.txt", install / "Eng" / "license.txt")
        session.reg_add(r"HKLM\Software\Orvex\ZYN ID Utility", "TargetDir", r"C:\ZYN")
        programs = {
            "zynid": (install / "zynid.exe", []),
            "show_agreement": (install / "show_agreement.exe", [r"C:\ZYN\Eng\ZYNRes.lrc"]),
        }

        def measure(name):
            program, args = programs[name]
            answer = session.dir / "find.out"
            with open(answer, "wb") as out:
                watcher = subprocess.Popen(
                    ["wine", str(harness.exe("winprobe")), "find", "--title", caption, "--visible",
                     "--timeout", "30000"], env=dict(session.env, LANG="C.UTF-8"),
                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL)
                time.sleep(1.0)  # the watcher is up and polling
                start = time.monotonic()
                app = session.start(program, args, cwd=install)
                watcher.wait(40)
                seen = time.monotonic() - start
            found = json.loads(answer.read_text().splitlines()[-1])
            if not found.get("ok"):
                raise SystemExit(f"{name}: the agreement did not appear")
            session.probe("click", found["hwnd"], "--id", "2")
            app.wait(20)
            return seen

        measure("zynid")  # warm-up: first loads of the libraries into the page cache
        times = {name: [] for name in programs}
        for _ in range(options.runs):
            for name in programs:
                times[name].append(measure(name))

    print(f"start to visible agreement under Wine, {options.runs} runs each (seconds):")
    for name, values in times.items():
        print(f"  {name:15s} median {statistics.median(values):.3f}  "
              f"min {min(values):.3f}  max {max(values):.3f}")
    ratio = statistics.median(times["zynid"]) / statistics.median(times["show_agreement"])
    print(f"  ratio zynid / show_agreement (medians): {ratio:.2f}")


if __name__ == "__main__":
    main()
