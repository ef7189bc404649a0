#!/usr/bin/env python3
"""Counts a test run from ctest's JUnit files (ctest --output-junit), not from its text.

    ctest_summary.py FILE...     prints each file's failures and skips, then one closing line
                                 "N passed, N failed, N skipped"; exit status 1 when anything
                                 failed or nothing passed

A test ctest could not run (a failed fixture, a missing program) is a failure: only a test that
exited with its SKIP_RETURN_CODE counts as skipped, and the first line it printed says why.
"""

import sys
import xml.etree.ElementTree as ET
from pathlib import Path


def classify(case):
    """'passed', 'failed' or 'skipped' for one <testcase> of ctest's JUnit output."""
    status = case.get("status")
    if status == "run":
        return "passed"
    if status == "notrun":
        skipped = case.find("skipped")
        message = skipped.get("message", "") if skipped is not None else ""
        return "skipped" if message.startswith("SKIP_RETURN_CODE") else "failed"
    return "failed"


def first_line(case):
    out = case.findtext("system-out") or ""
    return next((line.strip() for line in out.splitlines() if line.strip()), "")


def summarise(paths):
    totals = {"passed": 0, "failed": 0, "skipped": 0}
    for path in paths:
        path = Path(path)
        if not path.exists():
            print(f"{path}: no result file (the test run did not finish)")
            totals["failed"] += 1
            continue
        cases = ET.parse(path).getroot().iter("testcase")
        reasons = {}
        for case in cases:
            kind = classify(case)
            totals[kind] += 1
            name = case.get("name")
            if kind == "failed":
                skipped = case.find("skipped")
                why = skipped.get("message") if skipped is not None else "failed"
                print(f"{path.stem}: FAILED {name} ({why})")
            elif kind == "skipped":
                reasons.setdefault(first_line(case), []).append(name)
        for why, names in reasons.items():
            print(f"{path.stem}: skipped {len(names)} ({', '.join(names)}): {why}")
    return totals


def main(argv):
    if not argv:
        print(__doc__)
        return 2
    t = summarise(argv)
    print(f"\n{t['passed']} passed, {t['failed']} failed, {t['skipped']} skipped")
    return 0 if t["failed"] == 0 and t["passed"] > 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
