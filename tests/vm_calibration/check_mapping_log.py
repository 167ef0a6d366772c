#!/usr/bin/env python3
"""Checks the serial console of the VM of which display (mapping_init.sh):
--identify paired the controller (and its event device) with display 1;
the X device's matrix put the range on DUMMY1 from the start, was put back
after Esc and after No, and kept after Yes, with the X configuration
printed; the committed records are calib-solve's for the last pass's raw
points; 20 touches land within 2 px of the finger on DUMMY1; doctor finds
nothing in the way.

    check_mapping_log.py CONSOLE_LOG CALIB_SOLVE
"""
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import e2e  # noqa: E402  (the transfer log's parser)

DUMMY1 = [1024 / 1824, 0, 800 / 1824, 0, 1, 0, 0, 0, 1]
IDENTITY = [1, 0, 0, 0, 1, 0, 0, 0, 1]
WANT_MATRIX = [("before", IDENTITY), ("started", DUMMY1), ("after-escape", IDENTITY), ("question-1", DUMMY1),
               ("after-no", IDENTITY), ("question-2", DUMMY1), ("after-yes", DUMMY1)]


def lines(text, prefix):
    return [line[len(prefix):] for line in text.splitlines() if line.startswith(prefix)]


def main():
    text = open(sys.argv[1], errors="replace").read().replace("\r", "")
    failures = []
    fail = failures.append
    nodes = (lines(text, "NODES: ") or [" "])[0].split()
    event = nodes[-1] if nodes else ""
    try:
        pairs = json.loads(lines(text, "IDENTIFY ")[0])["controllers"]
        got = [(c["display"], c["display_name"], c["input_devices"]) for c in pairs]
    except (IndexError, ValueError, KeyError) as error:
        got = "no pairs (%s)" % error
    print("identify: %s" % (got,))
    if got != [(1, "DUMMY1", [event])]:
        fail("--identify: want the controller on display 1 DUMMY1 with %s" % event)
    matrices = dict((l.split(":")[0], [float(v) for v in l.split(":")[1].split()]) for l in lines(text, "MATRIX "))
    for step, want in WANT_MATRIX:
        got = matrices.get(step, [])
        ok = len(got) == 9 and all(abs(a - b) < 1e-5 for a, b in zip(got, want))
        print("matrix %-12s %s%s" % (step, " ".join("%.4g" % v for v in got), "" if ok else "  FAIL"))
        if not ok:
            fail("matrix %s: want %s" % (step, want))
    out = "\n".join(lines(text, "OUT: "))
    if 'MatchUSBID "fffe:0001"' not in out or "0.561404 0 0.438596 0 1 0 0 0 1" not in out:
        fail("the X configuration not printed after Yes:\n" + out)
    log = "\n".join(lines(text, "LOG: "))
    points = [e2e.last_packet(d) for k, r, d, _ in e2e.parse_log(log) if k == "GET" and r == "ok"]
    points = [p for p in points if p is not None][-4:]
    solved = subprocess.run([sys.argv[2]] + [str(v) for p in points for v in p], capture_output=True,
                            text=True).stdout
    want = ["x " + " ".join(l.split()[1:]) for l in solved.splitlines() if l.startswith("record-x")] + \
           ["y " + " ".join(l.split()[1:]) for l in solved.splitlines() if l.startswith("record-y")]
    store = [l for l in text.split("store:\n", 1)[-1].splitlines() if l.startswith(("x ", "y "))]
    print("last pass's raw points: %s; committed %s" % (points, store))
    if len(points) != 4 or store != want:
        fail("committed records are not calib-solve's %s" % want)
    landings = [tuple(int(v) for v in l.split()[:4]) for l in lines(text, "LAND ")]
    misses = [max(abs(px - x), abs(py - y)) for x, y, px, py in landings]
    print("%d landings on DUMMY1, worst miss %s px" % (len(landings), max(misses) if misses else "-"))
    if len(landings) != 20 or max(misses or [99]) > 2:
        fail("want 20 landings within 2 px on DUMMY1: %s" % landings)
    doctor = (lines(text, "DOCTOR ") or [""])[0]
    status, _, report = doctor.partition(" ")
    try:
        findings = [f for s in json.loads(report)["sections"] for f in s["findings"]]
    except ValueError:
        findings = []
    mapping = [f["text"] for f in findings if f["check"] == "mapping"]
    print("doctor: exit %s, %s" % (status, mapping))
    if status != "0" or not mapping or "onto DUMMY1" not in mapping[0]:
        fail("doctor: want exit 0 and the mapping onto DUMMY1: %s" % doctor)
    for message in failures:
        print("FAIL: " + message)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
