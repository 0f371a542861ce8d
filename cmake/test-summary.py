#!/usr/bin/env python3
"""Prints one summary line for a CTest JUnit report and one line per skipped test with its
reason: the message GTEST_SKIP gave, else the last line the test printed."""
import re
import sys
import xml.etree.ElementTree as ET


def skip_reason(output):
    # GoogleTest prints "file:line: Skipped" and then the message, up to "[  SKIPPED ]".
    match = re.search(r": Skipped\n(.*?)\n\[  SKIPPED \]", output, re.S)
    if match and match.group(1).strip():
        return " ".join(match.group(1).split())
    lines = [line for line in output.splitlines() if line.strip()]
    return lines[-1].strip() if lines else "no reason given"


def main(label, path):
    try:
        cases = ET.parse(path).getroot().iter("testcase")
    except (OSError, ET.ParseError) as error:
        print(f"{label}: no test report ({error})")
        return 1
    total = failed = 0
    skipped = []
    for case in cases:
        total += 1
        if case.find("failure") is not None or case.get("status") == "fail":
            failed += 1
        elif case.find("skipped") is not None or case.get("status") == "notrun":
            skipped.append((case.get("name"), skip_reason(case.findtext("system-out") or "")))
    print(f"{label}: {total} tests, {failed} failed, {len(skipped)} skipped")
    for name, reason in skipped:
        print(f"  skipped {name}: {reason}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
