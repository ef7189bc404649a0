#!/usr/bin/env python3
"""Figures of the hardware road under Wine: a report, not a test; nothing fails when a figure
is slow.

    scripts/measure-road.py [--runs 5] [--rounds 200]

Prints, as medians over RUNS runs of the real zynid.exe against the stand-in drivers serving the
shipped Lenovo table:
  * NT road: start to the agreement visible; accept to the result visible, and the same with the
    driver's service already registered and running (the program then registers and starts
    nothing: the read alone), whose difference is the service registration and start; close to
    the process's exit, the service teardown included.
  * 9x road: start to the agreement visible, accept to the result visible, close to exit.
  * The round trip of each driver request (probe, get-table, release-table) on both roads, as
    the program makes them, over ROUNDS rounds of a client of the drivers.

Visibility is taken from a winprobe "find" that is already polling (every 50 ms) before the step
starts, so each figure carries the same small polling delay; a click counts from the moment the
winprobe that posts it has returned.

Needs a built win32 tree (cmake --build --preset win32). Where this kernel runs no 32-bit
programs, the script runs itself in the test machine of scripts/winevm; its figures are then those
of an emulated machine, several times slower than real hardware.
"""

import argparse
import json
import os
import select
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
# The emulated test machine for kernels that run no 32-bit programs.
WINEVM = ROOT / "scripts" / "winevm"
BUILD = ROOT / "build" / "win32"


def e2e_environment():
    """The ZYN_E2E_EXE_* paths ctest gives the Wine tests."""
    listing = json.loads(subprocess.run(
        ["ctest", "--test-dir", str(BUILD), "--show-only=json-v1"], capture_output=True,
        text=True, check=True).stdout)
    for test in listing["tests"]:
        if test["name"] == "e2e_wine_prefix":
            for prop in test.get("properties", []):
                if prop["name"] == "ENVIRONMENT":
                    return dict(item.split("=", 1) for item in prop["value"])
    raise SystemExit("no e2e tests in build/win32: configure the win32 preset")


os.environ.update(e2e_environment())
os.environ.setdefault("ZYN_E2E_WORK", str(BUILD / "tests" / "e2e" / "wine"))
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "tests" / "e2e" / "zynid"))
import harness  # noqa: E402
import zynid_e2e as z  # noqa: E402


def now():
    return time.monotonic()


class Watcher:
    """A winprobe waiting for a visible window with a title; ``seen`` is when it reported it."""

    def __init__(self, session, title):
        self.proc = subprocess.Popen(
            ["wine", str(harness.exe("winprobe")), "find", "--title", title, "--visible",
             "--timeout", str(int(harness.bound(120) * 1000))],
            env=dict(session.env, LANG="C.UTF-8", WINEDEBUG="-all"), stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        # winprobe answers "list" at once: a second one returning means Wine has started the
        # programs, and this watcher is polling well before the step starts.
        session.probe("list", timeout=30)
        time.sleep(0.5)

    def seen(self):
        deadline = now() + harness.bound(150)
        line = b""
        while not line.endswith(b"\n"):
            ready, _, _ = select.select([self.proc.stdout], [], [], max(0, deadline - now()))
            if not ready:
                self.proc.kill()
                raise SystemExit("a window did not appear")
            chunk = os.read(self.proc.stdout.fileno(), 4096)
            if not chunk:
                break
            line += chunk
        at = now()
        self.proc.wait(30)
        answer = json.loads(line.decode().splitlines()[-1])
        if not answer.get("ok"):
            raise SystemExit(f"a window did not appear: {answer}")
        return at, answer["hwnd"]


def click(session, hwnd, control):
    session.probe("click", hwnd, "--id", str(control))


def one_run(session, root, texts, family):
    """One start of zynid through to its exit; returns its figures (seconds)."""
    figures = {}
    watcher = Watcher(session, texts.captions[108])
    start = now()
    app = session.start(root / "zynid.exe", cwd=root)
    shown, agreement = watcher.seen()
    figures["start to agreement"] = shown - start

    watcher = Watcher(session, texts.string(8))
    click(session, agreement, 1)
    accepted = now()  # the click is posted by the time winprobe returns
    shown, result = watcher.seen()
    figures["accept to result"] = shown - accepted
    closing = now()
    click(session, result, 1)
    if app.wait(harness.bound(60)) != 0:
        raise SystemExit("zynid did not end with 0")
    figures["close to exit" + (", service teardown included" if family == "nt" else "")] = \
        now() - closing
    if z.service_registered(session):
        raise SystemExit("the service ZYNDRV is still registered after the run")
    return figures


def start_service(session, folder):
    """Registers and starts ZYNDRV from the stand-in image in ``folder``, as sc does."""
    session.wine("sc", "create", "ZYNDRV", "type=", "kernel", "start=", "demand", "binPath=",
                 session.windows_path(folder / "ZYNDRV.sys"))
    session.wine("sc", "start", "ZYNDRV")


def running_service_run(session, root, texts):
    """A run that finds the driver's service registered and running: the program registers and
    starts nothing, so its accept to result is the read alone."""
    start_service(session, root)
    return {"accept to result, service already running": one_run(session, root, texts, "nt")[
        "accept to result"]}


def round_trips(session, family, rounds):
    """Median round trip (microseconds) of each request, from the drivers' client."""
    folder = session.drive_c / f"client-{family}"
    folder.mkdir()
    z.add_driver(folder, family=family)
    client = folder / "standin_client.exe"
    shutil.copy(harness.exe("standin_client"), client)
    if family == "nt":
        start_service(session, folder)
    else:
        session.set_windows_version("standin_client.exe", "win98")
    report = session.dir / f"rt-{family}.txt"
    try:
        app = session.start(client, [family, session.windows_path(report), rounds], cwd=folder)
        app.wait(harness.bound(120))
    finally:
        if family == "nt":
            z.remove_service(session)
    values = dict(line.split("=", 1) for line in report.read_text().splitlines())
    if "rt_failed_round" in values:
        raise SystemExit(f"{family}: a request failed in round {values['rt_failed_round']}")
    return {name: statistics.median(int(v) for v in values[f"rt_{name}_us"].split())
            for name in ("probe", "get", "release")}


def install(session, family):
    root = z.install(session)
    z.add_driver(root, family=family)
    if family == "9x":
        session.set_windows_version("zynid.exe", "win98")
    return root


def in_test_machine():
    print("this kernel runs no 32-bit programs: measuring in the test machine (scripts/winevm)")
    return subprocess.run([str(WINEVM / "run.sh"), "--share", str(ROOT.parent),
                           "--", str(WINEVM / "in-guest.sh"), "python3",
                           str(Path(__file__).resolve()), *sys.argv[1:]]).returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--rounds", type=int, default=200)
    args = parser.parse_args()
    if harness.test_machine_reason():
        return in_test_machine()

    texts = z.english()
    table = {}
    for family in ("nt", "9x"):
        with harness.Session(f"measure-road-{family}") as session:
            root = install(session, family)
            one_run(session, root, texts, family)  # warm-up: the page cache, Wine's first loads
            runs = []
            for _ in range(args.runs):
                runs.append(one_run(session, root, texts, family))
                if family == "nt":
                    runs[-1].update(running_service_run(session, root, texts))
            for name in runs[0]:
                values = [r[name] for r in runs if name in r]
                table[(family, name)] = (statistics.median(values), min(values), max(values),
                                         len(values))
            if family == "nt":
                # Registration and start: what the same accept costs beyond the read.
                paired = [r["accept to result"] - r["accept to result, service already running"]
                          for r in runs]
                table[(family, "  registration and start (the difference)")] = (
                    statistics.median(paired), min(paired), max(paired), len(paired))
            for name, us in round_trips(session, family, args.rounds).items():
                table[(family, f"round trip: {name}")] = us

    scale = os.environ.get("ZYN_E2E_TIME_SCALE")
    print(f"\nThe hardware road under Wine, {args.runs} runs (after one warm-up), medians"
          + (" (an emulated machine)" if scale else "") + ":\n")
    print("| road | step | median | min | max |")
    print("|---|---|---|---|---|")
    for (family, name), value in table.items():
        road = "NT" if family == "nt" else "9x"
        if isinstance(value, tuple):
            median, low, high, count = value
            note = "" if count == args.runs else f" ({count} of {args.runs} runs)"
            print(f"| {road} | {name}{note} | {median * 1000:.0f} ms | {low * 1000:.0f} ms "
                  f"| {high * 1000:.0f} ms |")
        else:
            print(f"| {road} | {name} ({args.rounds} rounds) | {value:.0f} µs | | |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
