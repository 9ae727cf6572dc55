#!/usr/bin/env python3
"""Prints, per flavour, how many tests ran, passed, failed and were skipped,
from ctest's JUnit report (names of the x64 flavour start with "x64.").

  flavour-summary.py results.xml
"""
import collections
import sys
import xml.etree.ElementTree as ET


def main():
    counts = collections.defaultdict(collections.Counter)
    for case in ET.parse(sys.argv[1]).getroot().iter("testcase"):
        flavour = "x64" if case.get("name", "").startswith("x64.") else "i686"
        if case.find("skipped") is not None or case.get("status") in ("notrun", "disabled"):
            outcome = "skipped"
        elif case.find("failure") is not None or case.get("status") == "fail":
            outcome = "failed"
        else:
            outcome = "passed"
        counts[flavour]["tests"] += 1
        counts[flavour][outcome] += 1
    print(f"{'flavour':8} {'tests':>6} {'passed':>7} {'failed':>7} {'skipped':>8}")
    for flavour in ("i686", "x64"):
        c = counts[flavour]
        print(f"{flavour:8} {c['tests']:6} {c['passed']:7} {c['failed']:7} {c['skipped']:8}")


if __name__ == "__main__":
    main()
