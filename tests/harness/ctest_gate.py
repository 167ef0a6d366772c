#!/usr/bin/env python3
"""Runs ctest for ./check and judges the run: a skipped test fails it too.

    ctest_gate.py CTEST-ARGUMENT...

Runs `ctest CTEST-ARGUMENT... --output-junit FILE`, then prints one line for
each test that needed a retry after Wine's connection failure (the FLAKY
lines tests/harness/wine_retry.py collects in KELCALIB_FLAKY_LOG, which is
set here) and one for each test that did not run (skipped or disabled).
Exits non-zero when ctest did, and when a test did not run unless
KELCALIB_ALLOW_SKIPS=1 allows it (the test is still named).
"""
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree


def not_run(junit):
    """Names of the tests the JUnit report lists as not run, with why."""
    try:
        root = ElementTree.parse(junit).getroot()
    except (OSError, ElementTree.ParseError):
        return None
    out = []
    for case in root.iter("testcase"):
        if case.get("status") == "run":
            continue
        why = case.find("skipped")
        out.append((case.get("name"), why.get("message", "") if why is not None else case.get("status")))
    return out


def main(args):
    work = tempfile.mkdtemp(prefix="kelcalib-ctest-gate.")
    junit = os.path.join(work, "junit.xml")
    flaky = os.path.join(work, "flaky.txt")
    try:
        env = dict(os.environ, KELCALIB_FLAKY_LOG=flaky)
        code = subprocess.run(["ctest"] + args + ["--output-junit", junit], env=env).returncode
        if os.path.exists(flaky):
            with open(flaky) as f:
                sys.stdout.write(f.read())
        skipped = not_run(junit)
        if skipped is None:
            print("ctest_gate: ctest wrote no readable JUnit report (%s)" % junit)
            return code or 1
        allowed = os.environ.get("KELCALIB_ALLOW_SKIPS") == "1"
        for name, why in skipped:
            print("SKIPPED: %s (%s)%s" % (name, why, "" if allowed else
                                          "; set KELCALIB_ALLOW_SKIPS=1 to accept a skipped test"))
        if code == 0 and skipped and not allowed:
            return 1
        return code
    finally:
        for name in (junit, flaky):
            if os.path.exists(name):
                os.remove(name)
        os.rmdir(work)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
