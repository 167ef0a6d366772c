#!/usr/bin/env python3
"""How ./check judges the Windows tests, on stand-in tests: a scratch CTest
directory whose tests run through tests/harness/with-desktop, run by
tests/harness/ctest_gate.py with the repeat settings of the test preset
./check uses (windows-desktops in CMakePresets.json).

- A test that fails once for its own reasons fails: no second run.
- A test whose first run shows Wine's connection failure runs once more and
  passes on that run, and a FLAKY line names it; one that shows it twice
  fails.
- A skipped test fails the run unless KELCALIB_ALLOW_SKIPS=1, and is named.

Exits 1 when any of that does not hold.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

HARNESS = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HARNESS))
WINE_FAILURE = "wine client error:2c: recvmsg: Connection reset by peer"

# name -> what each run prints and how it ends, by run number (the last
# entry holds for every later run).
TESTS = {
    "fails_once": [("echo 'Expected: 4, actual: 3'", 1), ("echo passed", 0)],
    "wine_failure_once": [("echo '%s' >&2" % WINE_FAILURE, 1), ("echo passed", 0)],
    "wine_failure_twice": [("echo '%s' >&2" % WINE_FAILURE, 1)],
    "skipped": [("echo 'needs root'", 77)],
}


def repeat_arguments():
    """ctest's --repeat for what the Windows test preset asks."""
    with open(os.path.join(ROOT, "CMakePresets.json")) as f:
        presets = {p["name"]: p for p in json.load(f)["testPresets"]}
    repeat = presets["windows-desktops"].get("execution", {}).get("repeat")
    return ["--repeat", "%s:%d" % (repeat["mode"], repeat["count"])] if repeat else []


def write_tests(work):
    lines = []
    for name, runs in TESTS.items():
        cases = " ".join("%d) %s; exit %d ;;" % (i + 1, say, code) for i, (say, code) in enumerate(runs))
        script = ('n=$(($(cat %(count)s 2>/dev/null || echo 0) + 1)); echo $n >%(count)s; '
                  'case $n in %(cases)s *) %(last)s; exit %(code)d ;; esac'
                  % {"count": os.path.join(work, name + ".runs"), "cases": cases,
                     "last": runs[-1][0], "code": runs[-1][1]})
        lines.append('add_test(%s "%s" "sh" "-c" "%s")' % (
            name, os.path.join(HARNESS, "with-desktop"), script.replace("\\", "\\\\").replace('"', '\\"')))
        lines.append('set_tests_properties(%s PROPERTIES SKIP_RETURN_CODE 77 ENVIRONMENT "KELCALIB_TEST_NAME=%s")'
                     % (name, name))
    with open(os.path.join(work, "CTestTestfile.cmake"), "w") as f:
        f.write("\n".join(lines) + "\n")


def gate(work, tests, allow_skips=False):
    """Runs the chosen tests through ctest_gate.py; returns (exit status,
    output, runs per test, the tests CTest counted as failed)."""
    for name in TESTS:
        path = os.path.join(work, name + ".runs")
        if os.path.exists(path):
            os.remove(path)
    env = {k: v for k, v in os.environ.items()
           if k not in ("WINEPREFIX", "KELCALIB_DESKTOPS_FILE", "KELCALIB_ALLOW_SKIPS", "KELCALIB_FLAKY_LOG")}
    if allow_skips:
        env["KELCALIB_ALLOW_SKIPS"] = "1"
    done = subprocess.run([sys.executable, os.path.join(HARNESS, "ctest_gate.py"), "--test-dir", work,
                           "-R", "^(%s)$" % "|".join(tests)] + repeat_arguments(),
                          env=env, capture_output=True, text=True, timeout=120)
    runs = {}
    for name in tests:
        with open(os.path.join(work, name + ".runs")) as f:
            runs[name] = int(f.read())
    failed = set(re.findall(r"^\s*\d+ - (\S+) \(Failed\)$", done.stdout, re.M))
    return done.returncode, done.stdout, runs, failed


def main():
    problems = []

    def expect(condition, message, output):
        if not condition:
            problems.append("%s\n--- output:\n%s" % (message, output))

    work = tempfile.mkdtemp(prefix="kelcalib-run-policy.")
    try:
        write_tests(work)
        retried = ["fails_once", "wine_failure_once", "wine_failure_twice"]
        code, out, runs, failed = gate(work, retried)
        expect(code != 0, "the run passed although tests failed", out)
        expect(runs == {"fails_once": 1, "wine_failure_once": 2, "wine_failure_twice": 2},
               "runs per test: %s (want a second run after Wine's failure only)" % runs, out)
        expect(failed == {"fails_once", "wine_failure_twice"}, "tests failed: %s" % sorted(failed), out)
        flaky = re.findall(r"^FLAKY: (\S+): .*the retry (passed|failed too)$", out, re.M)
        expect(sorted(flaky) == [("wine_failure_once", "passed"), ("wine_failure_twice", "failed too")],
               "FLAKY lines: %s" % flaky, out)

        code, out, _, _ = gate(work, ["skipped", "wine_failure_once"])
        expect(code != 0, "a skipped test passed the run", out)
        expect(re.search(r"^SKIPPED: skipped ", out, re.M) is not None, "the skipped test not named", out)
        code, out, _, _ = gate(work, ["skipped", "wine_failure_once"], allow_skips=True)
        expect(code == 0, "KELCALIB_ALLOW_SKIPS=1 did not accept the skipped test", out)
        expect(re.search(r"^SKIPPED: skipped ", out, re.M) is not None, "the allowed skip not named", out)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for problem in problems:
        print("FAIL: " + problem)
    print("%d problems" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
