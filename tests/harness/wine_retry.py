#!/usr/bin/env python3
"""Runs a Windows test's command, and runs it once more when, and only when,
its output shows Wine's own connection failure: a Wine process that loses
its wineserver connection (the server exiting just as a test program
connects to it) says nothing about the test. Any other failure stands.

    wine_retry.py COMMAND [ARG...]

tests/harness/with-desktop runs every Windows test through it. The command's
stdout and stderr pass through as they come. A retry
prints one line naming the test,

    FLAKY: e2e.no_then_yes: Wine's connection failure (wine client error:...); the retry passed

and appends it to the file KELCALIB_FLAKY_LOG names, where ./check collects
them. The test's name is KELCALIB_TEST_NAME, else the GoogleTest filter of
the command, else the command itself.
"""
import os
import re
import subprocess
import sys
import threading

# What Wine prints when its connection to the wineserver breaks: a failed
# read, write or descriptor transfer on the server's socket, or no server
# to connect to.
WINE_CONNECTION_FAILURE = re.compile(
    r"wine client error:[0-9a-f]+: (?:recvmsg|sendmsg|read|write): "
    r"|a wine server seems to be running, but I cannot connect to it")


def test_name(command):
    name = os.environ.get("KELCALIB_TEST_NAME")
    if name:
        return name
    for arg in command:
        if arg.startswith("--gtest_filter="):
            return arg[len("--gtest_filter="):]
    return " ".join(command)


def run(command):
    """Runs the command, passing its stdout and stderr through to ours as they
    come; returns (exit status, the first line showing Wine's connection
    failure, or None)."""
    proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    failures = []

    def relay(source, sink):
        for line in source:
            sink.buffer.write(line)
            sink.flush()
            text = line.decode("utf-8", "replace").strip()
            if WINE_CONNECTION_FAILURE.search(text):
                failures.append(text)

    err = threading.Thread(target=relay, args=(proc.stderr, sys.stderr))
    err.start()
    relay(proc.stdout, sys.stdout)
    err.join()
    return proc.wait(), (failures[0] if failures else None)


def main(command):
    if not command:
        print("usage: wine_retry.py COMMAND [ARG...]", file=sys.stderr)
        return 2
    # GoogleTest programs answer each test from one run per CTest process
    # (gtest_batch.py): they look for that process here, not in our pid.
    os.environ.setdefault("KELCALIB_CTEST_PID", str(os.getppid()))
    code, failure = run(command)
    if code == 0 or failure is None:
        return code
    code, _ = run(command)
    line = "FLAKY: %s: Wine's connection failure (%s); the retry %s" % (
        test_name(command), failure, "passed" if code == 0 else "failed too")
    print(line, flush=True)
    log = os.environ.get("KELCALIB_FLAKY_LOG")
    if log:
        with open(log, "a") as f:
            f.write(line + "\n")
    return code


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
