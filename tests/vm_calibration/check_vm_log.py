#!/usr/bin/env python3
"""Checks the serial console of a calibration VM run: for each calibration
(a "PANEL name" ... "END name" section, or the whole console when there is
none) the committed records equal calib-solve's for the raw points the
program read in the last pass, and the transfers are whole passes and the
commit (one read per touch: a touch not counted shows; one pass unless the
section says "PASSES n"); where the run
measured landings, all 20 lie within 2 px of the finger: the pointer's
("LAND x y px py", X11), else the releases the program's own event reading
takes ("TOUCH x y px py count", sdl_touch_probe), which must also be one
release per touch; a run by touch must have such lines.

    check_vm_log.py CONSOLE_LOG CALIB_SOLVE
    check_vm_log.py --unplugged CONSOLE_LOG

--unplugged checks the controller unplugged in the middle of a pass
(unplug.sh) instead: the read that met ENODEV is the last transfer and the
only failed one (nothing tried again, no abort command to a controller that
is gone), the no-controller message was on the screen, and the program
ended with the no-controller status and said so.
"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e_linux"))
import e2e  # noqa: E402  (the transfer log's parser)
from linux_run import exit_statuses  # noqa: E402

LANDINGS = 20
TOLERANCE_PX = 2


def sections(text):
    found = re.findall(r"^PANEL (\S+)\n(.*?)^END \1$", text, re.S | re.M)
    return found or [("", text)]


def check(name, text, solve):
    ok = True
    label = name + ": " if name else ""
    log = "\n".join(line[5:] for line in text.splitlines() if line.startswith("LOG: "))
    store = text.split("store:\n", 1)[1].split("VM-APP-RESULT")[0].strip().splitlines()
    store = [line for line in store if line.startswith(("x ", "y "))]
    points = [e2e.last_packet(d) for k, r, d, _ in e2e.parse_log(log) if k == "GET" and r == "ok"]
    points = [p for p in points if p is not None]
    passes = int((re.findall(r"^PASSES (\d+)$", text, re.M) or [1])[0])
    out = subprocess.run([solve] + [str(v) for p in points[-4:] for v in p], capture_output=True, text=True).stdout
    want = ["x " + " ".join(line.split()[1:]) for line in out.splitlines() if line.startswith("record-x")] + \
           ["y " + " ".join(line.split()[1:]) for line in out.splitlines() if line.startswith("record-y")]
    print("%sraw points read: %s; committed: %s" % (label, points, store))
    entries = e2e.parse_log(log)
    trace = [(e2e.command_of(d) if k == "SET" else "get") if r == "ok" else "!" + k
             for k, r, d, _ in entries if k != "EVENT"]
    if trace != e2e.PASS_TRACE * passes + e2e.COMMIT_TRACE:
        print("%sFAIL: transfers %s, want %d whole pass(es) and the commit" % (label, trace, passes))
        ok = False
    if len(points) != 4 * passes or store[-2:] != want:
        print("%sFAIL: the committed records are not calib-solve's %s" % (label, want))
        ok = False
    # Where touches land: the pointer ("LAND x y px py", X11), else the
    # releases the program's event reading takes ("TOUCH x y px py count").
    pointer = [tuple(int(v) for v in line.split()[1:5]) for line in text.splitlines() if line.startswith("LAND ")]
    touches = [tuple(int(v) for v in line.split()[1:6]) for line in text.splitlines() if line.startswith("TOUCH ")]
    landings = pointer or [t[:4] for t in touches]
    if landings or name:
        misses = [max(abs(px - x), abs(py - y)) for x, y, px, py in landings]
        print("%s%d landings, worst miss %s px" % (label, len(landings), max(misses) if misses else "-"))
        far = [l for l, m in zip(landings, misses) if m > TOLERANCE_PX]
        if len(landings) != LANDINGS or far:
            print("%sFAIL: want %d landings within %d px; off: %s" % (label, LANDINGS, TOLERANCE_PX, far))
            ok = False
    if touches:
        counts = sorted(set(t[4] for t in touches))
        print("%s%d touches read as the program reads them, releases per touch: %s" % (label, len(touches), counts))
        off = [t for t in touches if t[4] != 1 or max(abs(t[2] - t[0]), abs(t[3] - t[1])) > TOLERANCE_PX]
        if off:
            print("%sFAIL: want one release per touch within %d px; off: %s" % (label, TOLERANCE_PX, off))
            ok = False
    return ok, len(touches)


def check_unplugged(text):
    lines = text.splitlines()
    log = "\n".join(line[6:] for line in lines if line.startswith("ULOG: "))
    trace = [(e2e.command_of(d) if k == "SET" else "get") if r == "ok" else "!" + k
             for k, r, d, _ in e2e.parse_log(log) if k != "EVENT"]
    status = (re.findall(r"^UNPLUG exit (\d+)$", text, re.M) or ["none"])[0]
    buttons = (re.findall(r"^UNPLUG buttons: (.*)$", text, re.M) or [""])[0].split()
    said = "\n".join(line[6:] for line in lines if line.startswith("UAPP: "))
    print("unplugged: transfers %s, exit %s, buttons %s" % (trace, status, buttons))
    ok = True
    if trace[-1:] != ["!GET"] or sum(t.startswith("!") for t in trace) != 1 or "Rs" in trace:
        print("FAIL: want the touch's read failed last, alone, and nothing sent after it")
        ok = False
    if len(buttons) != 2:
        print("FAIL: want the no-controller message (one button) on the screen")
        ok = False
    if status != str(exit_statuses()["no_controller"]) or "Can not open" not in said:
        print("FAIL: want the no-controller status and its line; the program said:\n" + said)
        ok = False
    return 0 if ok else 1


def main():
    if sys.argv[1] == "--unplugged":
        return check_unplugged(open(sys.argv[2], errors="replace").read().replace("\r", ""))
    text = open(sys.argv[1], errors="replace").read().replace("\r", "")
    found = sections(text)
    results = [check(name, body, sys.argv[2]) for name, body in found]
    ok = all(r[0] for r in results)
    # The runs by touch (named panels) count releases in at least one panel.
    if found[0][0] and sum(r[1] for r in results) == 0:
        print("FAIL: no touch read as the program reads it (TOUCH lines)")
        ok = False
    if ok:
        print("the committed records equal calib-solve's for the raw points read")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
