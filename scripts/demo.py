#!/usr/bin/env python3
"""The main job: the real zynid.exe reads a real SMBIOS table through our stand-in driver under
Wine, on the NT road, against Wine's real service control manager.

    scripts/demo.py [--headless] [--shots DIR] [TABLE]

TABLE is any `dmidecode --dump-bin` file or raw structure table (default: a shipped Lenovo
table). With a display (DISPLAY set) and without --headless you click through the real dialogs
yourself. Headless, the demo accepts the agreement itself, writes PNG screenshots of the
agreement, the result and the about box into DIR (default build/demo/shots), and prints the board.
Either way it leaves no service registered, no Wine server and no X server behind.

Expects the win32 and native presets built (scripts/demo.sh does that). On a machine whose
kernel runs no 32-bit programs Wine cannot start: the demo then runs headless in the test machine
of scripts/winevm, and only where that cannot be made or started says why (the failed step and its
log) and shows the same table through dmiread, the very reader zynid ships, instead. ZYN_WINEVM=1
takes the test machine's road even where Wine could run here.
"""

import argparse
import os
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
# The emulated test machine for kernels that run no 32-bit programs.
WINEVM = ROOT / "scripts" / "winevm"
BUILD = ROOT / "build" / "win32"
DEFAULT_TABLE = ROOT / "tests" / "data" / "tables" / "lenovo-thinkpad-w510.bin"
os.environ.setdefault("ZYN_E2E_WORK", str(ROOT / "build" / "demo" / "wine"))
os.environ.setdefault("ZYN_E2E_EXE_winprobe", str(BUILD / "tests" / "e2e" / "winprobe.exe"))
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "tests" / "e2e" / "zynid"))
import harness  # noqa: E402
import zynid_e2e as z  # noqa: E402

AGREEMENT, ABOUT, RESULT_TITLE = 108, 105, 8


def install(session, table):
    """The install layout in C:\\ZYN, TargetDir, and the stand-in driver serving ``table``."""
    root = session.drive_c / "ZYN"
    subprocess.run(["cmake", "--install", str(BUILD), "--prefix", str(root)], check=True,
                   stdout=subprocess.DEVNULL, timeout=120)
    shutil.copyfile(table, root / "table.bin")
    (root / "zyndrv.cfg").write_text("# the demo's table\ntable = table.bin\n")
    session.reg_add(z.INSTALL_KEY, "TargetDir", session.windows_path(root))
    return root


def run_headless(session, root, shots):
    texts = z.Texts(root / "Eng" / "ZYNRes.lrc")
    shots.mkdir(parents=True, exist_ok=True)
    app = session.start(root / "zynid.exe", cwd=root)
    agreement = session.wait_window(title=texts.captions[AGREEMENT], timeout=30)
    session.screenshot(shots / "agreement.png", agreement.info()["rect"])
    agreement.click(1)
    result = session.wait_window(title=texts.string(RESULT_TITLE), timeout=60)
    board = {name: result.text(ident) for name, ident in
             (("manufacturer", 1002), ("product", 1003), ("verdict", 1004))}
    running = z.service_registered(session)
    session.screenshot(shots / "result.png", result.info()["rect"])
    result.syscommand(z.ABOUT_ITEM)
    about = session.wait_window(title=texts.captions[ABOUT], timeout=30)
    session.screenshot(shots / "about.png", about.info()["rect"])
    about.key(harness.VK.ESCAPE)
    about.wait_gone(30)
    result.close()
    code = app.wait(60)
    print(f"manufacturer: {board['manufacturer']}")
    print(f"product:      {board['product']}")
    print(f"verdict:      {board['verdict']}")
    print(f"service ZYNDRV while the result showed: {'running' if running else 'absent'}")
    print(f"zynid exit code {code}; screenshots in {shots}")


def run_on_display(session, root):
    print("click through the dialogs; the demo ends when zynid does")
    session.start(root / "zynid.exe", cwd=root).wait(3600)


def in_test_machine(args, reason):
    """Runs this demo, headless, in the test machine of scripts/winevm (a guest whose kernel runs
    32-bit programs); the table travels through the shared build folder. None if the machine
    cannot be made (its image needs root the first time) or started; the line saying which step
    failed, and where its log is, has then been shown."""
    sys.stdout.flush()
    # The image is made here rather than inside run.sh so that its failure stands apart from the
    # demo's own; build-image.sh names the failed step and its log on stderr, which passes through.
    made = subprocess.run([str(WINEVM / "build-image.sh")], stdout=subprocess.DEVNULL)
    if made.returncode != 0:
        return None
    staged = ROOT / "build" / "demo" / "table.bin"
    staged.parent.mkdir(parents=True, exist_ok=True)
    if args.table.resolve() != staged:
        shutil.copyfile(args.table, staged)
    print(f"zynid cannot run here ({reason}): the demo runs in the test machine (scripts/winevm)",
          flush=True)
    rc = subprocess.run([str(WINEVM / "run.sh"), "--share", str(ROOT.parent),
                         "--", str(WINEVM / "in-guest.sh"), "python3",
                         str(ROOT / "scripts" / "demo.py"), "--headless", "--shots",
                         str(args.shots.resolve()), str(staged)]).returncode
    if rc in (0, 1):
        return rc
    print(f"cannot start the test machine, or it ended early: run.sh ended with status {rc} (said why"
          " above; ZYN_WINEVM_VERBOSE=1 shows its console)")
    return None


def fallback(table, reason):
    print(f"zynid cannot run here: {reason}")
    print("the same table through dmiread, the reader zynid ships:")
    return subprocess.run([str(ROOT / "build" / "native" / "bin" / "dmiread"), str(table)]).returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("table", nargs="?", type=Path, default=DEFAULT_TABLE)
    parser.add_argument("--headless", action="store_true")
    parser.add_argument("--shots", type=Path, default=ROOT / "build" / "demo" / "shots")
    args = parser.parse_args()
    if not args.table.is_file():
        parser.error(f"no such table: {args.table}")
    reason = harness.test_machine_reason()
    if reason:
        rc = in_test_machine(args, reason)
        return fallback(args.table, reason) if rc is None else rc
    display = None if args.headless else os.environ.get("DISPLAY")
    with harness.Session("demo", display=display) as session:
        root = install(session, args.table.resolve())
        if display:
            run_on_display(session, root)
        else:
            run_headless(session, root, args.shots.resolve())
        if z.service_registered(session):
            print("the service ZYNDRV is still registered: removing it")
            session.wine("sc", "stop", "ZYNDRV", check=False)
            session.wine("sc", "delete", "ZYNDRV", check=False)
            return 1
        print("service ZYNDRV: stopped and deleted")
    return 0


if __name__ == "__main__":
    sys.exit(main())
