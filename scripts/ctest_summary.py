#!/usr/bin/env python3
"""Counts a test run from ctest's JUnit files (ctest --output-junit), not from its text.

    ctest_summary.py [--failed WHAT]... FILE...
                                 prints each failure, each reason for a skip once with the tests
                                 it covers, then one closing line "N passed, N failed, N skipped";
                                 exit status 1 when anything failed or nothing passed. Each
                                 --failed counts one failure for tests that could not run at all
                                 (WHAT says which and why), so a run without them cannot pass.

A test skips for a stated reason in one of two ways: a script exits with its SKIP_RETURN_CODE
(the first line it printed says why), or a GoogleTest test calls GTEST_SKIP (ctest matches its
SKIPPED line; the line after GoogleTest's "Skipped" says why). Anything else that did not pass
is a failure: a test ctest could not run (a failed fixture, a missing program), one that timed
out, and a GoogleTest program that printed a skip and then crashed before its closing lines.
"""

import re
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

# GoogleTest's last line of a run that ended normally, skipped tests and all.
GTEST_FINISHED = re.compile(r"^\[=+\] \d+ tests? from \d+ test suites? ran\.", re.M)


def output(case):
    return case.findtext("system-out") or ""


def classify(case):
    """'passed', 'failed' or 'skipped' for one <testcase> of ctest's JUnit output."""
    status = case.get("status")
    if status == "run":
        return "passed"
    if status == "notrun":
        skipped = case.find("skipped")
        message = skipped.get("message", "") if skipped is not None else ""
        if message.startswith("SKIP_RETURN_CODE"):
            return "skipped"
        if message.startswith("SKIP_REGULAR_EXPRESSION_MATCHED") and GTEST_FINISHED.search(
                output(case)):
            return "skipped"
    return "failed"


def reason(case):
    """Why a test skipped: GoogleTest's message, else the first line the test printed."""
    lines = [line.strip() for line in output(case).splitlines()]
    for i, line in enumerate(lines):
        if line.endswith(": Skipped"):
            return next((later for later in lines[i + 1:] if later), "no reason given")
    return next((line for line in lines if line), "no reason given")


def summarise(paths, not_run=()):
    totals = {"passed": 0, "failed": 0, "skipped": 0}
    reasons = {}
    for what in not_run:
        print(f"FAILED {what}")
        totals["failed"] += 1
    for path in paths:
        path = Path(path)
        if not path.exists():
            print(f"{path}: no result file (the test run did not finish)")
            totals["failed"] += 1
            continue
        for case in ET.parse(path).getroot().iter("testcase"):
            kind = classify(case)
            totals[kind] += 1
            name = f"{path.stem}: {case.get('name')}"
            if kind == "failed":
                skipped = case.find("skipped")
                why = skipped.get("message") if skipped is not None else "failed"
                print(f"FAILED {name} ({why})")
            elif kind == "skipped":
                reasons.setdefault(reason(case), []).append(name)
    for why, names in reasons.items():
        print(f"{len(names)} skipped: {why}")
        for name in names:
            print(f"    {name}")
    return totals


def main(argv):
    not_run = []
    while len(argv) >= 2 and argv[0] == "--failed":
        not_run.append(argv[1])
        argv = argv[2:]
    if not argv and not not_run:
        print(__doc__)
        return 2
    t = summarise(argv, not_run)
    print(f"\n{t['passed']} passed, {t['failed']} failed, {t['skipped']} skipped")
    return 0 if t["failed"] == 0 and t["passed"] > 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
