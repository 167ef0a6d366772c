#!/usr/bin/env python3
"""Runs a GoogleTest program once for all of its tests and answers each
test's CTest command from that one run.

    gtest_batch.py EMULATOR... PROGRAM --gtest_filter=SUITE.NAME [ARGS...]
    gtest_batch.py EMULATOR... PROGRAM --gtest_list_tests [ARGS...]

The windows preset uses it as the test programs' cross-compiling emulator
(in front of wine), so gtest_discover_tests registers one CTest test per
GoogleTest test as before, each under its own name. The first of a
program's tests that CTest starts runs the whole program once (every test,
in one Wine process) and keeps its output beside the program; that test and
each later one then prints its own part of that output and exits with its
own result, so a failing test fails under its own name in CTest's summary.

A test is run on its own, in a process of its own, when the whole run has
no result for it (the program crashed or hung before it ended, or exited
non-zero although every test it reported passed), and when the same CTest
run asks for it a second time: wine_retry.py runs a test once more after
Wine's own connection failure, and that run must run the test again, not
read the old result.
A run belongs to the CTest process that started it, so a new ctest always
runs the programs afresh.
"""
import fcntl
import json
import os
import re
import subprocess
import sys

BEGIN = "[ RUN      ] "
# A test's own end line carries its time; the summary's list of failed tests
# repeats the names without one.
END = re.compile(r"^\[ +(OK|FAILED|SKIPPED) +\] (.+?)(, where .*)? \(\d+ ms\)\s*$")
CODES = {"OK": 0, "FAILED": 1, "SKIPPED": 0}
# A whole program gets as long as CTest gives one test (the preset's 300 s),
# less a margin to answer in.
WHOLE_RUN_TIMEOUT = 280


def split_command(argv):
    """(command before the filter option, test name, other GoogleTest options)."""
    name = None
    rest = []
    for i, arg in enumerate(argv):
        if arg.startswith("--gtest_filter="):
            name = arg[len("--gtest_filter="):]
            rest = argv[i + 1:]
            return argv[:i], name, rest
    return argv, None, []


def run_id():
    """The CTest process that runs us: its pid (KELCALIB_CTEST_PID, which
    wine_retry.py sets between CTest and us, else our parent's) and its
    start time (field 22)."""
    parent = int(os.environ.get("KELCALIB_CTEST_PID") or os.getppid())
    try:
        with open("/proc/%d/stat" % parent) as f:
            started = f.read().rsplit(")", 1)[1].split()[19]
    except (OSError, IndexError):
        started = "?"
    return "%d-%s" % (parent, started)


def sections(output):
    """Each test's part of a whole run's output and its verdict: name ->
    (exit code, text). A test whose end line is missing is left out. A test
    may start a copy of its program that prints the same names (a child
    process); its own end line is the last one with its name."""
    lines = output.splitlines(keepends=True)
    starts = {}
    results = {}
    for i, line in enumerate(lines):
        if line.startswith(BEGIN):
            starts.setdefault(line[len(BEGIN):].strip(), i)
            continue
        end = END.match(line)
        if end and end.group(2) in starts:
            name = end.group(2)
            results[name] = (CODES[end.group(1)], "".join(lines[starts[name]:i + 1]))
    return results


def whole_run(command, options, state_file):
    """Runs every test of the program once; returns its state record."""
    program = os.path.basename(command[-1])
    print("gtest_batch: running every test of %s in one process" % program, flush=True)
    try:
        done = subprocess.run(command + options, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=WHOLE_RUN_TIMEOUT)
        output = done.stdout.decode("utf-8", "replace")
        code = done.returncode
    except subprocess.TimeoutExpired as e:
        output = (e.stdout or b"").decode("utf-8", "replace")
        code = None
    results = sections(output)
    if code != 0 and not any(c for c, _ in results.values()):
        # The program failed, but no test did: nothing of this run can be trusted.
        results = {}
    with open(state_file + ".log", "w") as f:
        f.write(output)
    return {"results": results, "exit": code, "answered": []}


def main(argv):
    command, name, options = split_command(argv)
    if name is None or len(command) < 2:
        # Test discovery (--gtest_list_tests) and anything else: straight through.
        os.execvp(argv[0], argv)
    program = command[-1]
    state_file = program + ".batch.json"
    run = run_id()
    with open(state_file + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        state = None
        try:
            with open(state_file) as f:
                state = json.load(f)
        except (OSError, ValueError):
            pass
        stamp = os.stat(program).st_mtime_ns
        if not state or state.get("run") != run or state.get("program") != stamp:
            state = whole_run(command, options, state_file)
            state["run"] = run
            state["program"] = stamp
        result = None
        if name not in state["answered"]:
            state["answered"].append(name)
            result = state["results"].get(name)
        with open(state_file, "w") as f:
            json.dump(state, f)
    if result is not None:
        code, text = result
        sys.stdout.write(text)
        return code
    print("gtest_batch: running %s on its own" % name, flush=True)
    return subprocess.run(command + ["--gtest_filter=" + name] + options).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
