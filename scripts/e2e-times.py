#!/usr/bin/env python3
"""Prints where a test run's time went, from ctest's JUnit files (ctest --output-junit).

    e2e-times.py [--top N] FILE...

One line per test, longest first: seconds, status, name. Then the sum of the tests' own times
and each file's wall time as ctest recorded it (with -j the wall time is the figure that counts:
tests overlap, so their sum exceeds it).
"""

import argparse
import sys
import xml.etree.ElementTree as ET


def read(path):
    """(wall seconds or None, [(seconds, status, name)]) of one JUnit file."""
    root = ET.parse(path).getroot()
    suite = root if root.tag == "testsuite" else root.find("testsuite")
    wall = float(suite.get("time")) if suite is not None and suite.get("time") else None
    cases = [(float(c.get("time") or 0), c.get("status") or "?", c.get("name") or "?")
             for c in root.iter("testcase")]
    return wall, cases


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--top", type=int, default=0, help="only the N longest tests")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args(argv)
    cases, walls = [], []
    for path in args.files:
        try:
            wall, found = read(path)
        except (OSError, ET.ParseError) as e:
            print(f"{path}: unreadable ({e})", file=sys.stderr)
            return 1
        cases += found
        walls.append((path, wall))
    cases.sort(key=lambda c: (-c[0], c[2]))
    for seconds, status, name in cases[:args.top or None]:
        print(f"{seconds:8.1f} s  {status:6}  {name}")
    print(f"{sum(c[0] for c in cases):8.1f} s  sum of {len(cases)} tests")
    for path, wall in walls:
        print(f"{wall:8.1f} s  wall time of {path}" if wall is not None
              else f"       ? s  wall time of {path} (not recorded)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
