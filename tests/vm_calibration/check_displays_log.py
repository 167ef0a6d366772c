#!/usr/bin/env python3
"""Checks what the x11-touch run's serial console says of which display
(two_displays.sh) and of the display's size (display_size.sh); the
calibration on display 1 itself (its records, its two passes, where the
touches land) is check_vm_log.py's section "display-1".

- --identify paired the controller (and its event device) with display 1;
- the X device's matrix put the range on DUMMY1 from the start and at each
  question, was put back after Esc and after No, and kept after Yes, with
  the udev rule and X configuration written (--persist), udev's tag on the
  event device, and the X server started again maps it so too; the runs
  ended with their exit statuses (Esc: abandoned; --identify and Yes: 0);
- doctor found nothing in the way and told the mapping onto DUMMY1;
- two identical controllers persisted one after the other on DUMMY0 and
  DUMMY1: an X server started again maps each onto its own display;
- the display's physical size is known on KMS/DRM and on X11 alike
  (within the centimetre the EDID gives it in), the targets' radius is 10 mm
  of it, and turned a quarter the size turns with the picture (the radius
  from the millimetres that are now its height).

    check_displays_log.py CONSOLE_LOG
"""
import json
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e_linux"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from linux_run import exit_statuses  # noqa: E402

EXIT = exit_statuses()

DUMMY0 = [800 / 1824, 0, 0, 0, 600 / 768, 0, 0, 0, 1]
DUMMY1 = [1024 / 1824, 0, 800 / 1824, 0, 1, 0, 0, 0, 1]
IDENTITY = [1, 0, 0, 0, 1, 0, 0, 0, 1]
MATRICES = [("before", IDENTITY), ("started", DUMMY1), ("after-escape", IDENTITY), ("question-1", DUMMY1),
            ("after-no", IDENTITY), ("question-2", DUMMY1), ("after-yes", DUMMY1), ("restarted", DUMMY1)]
SNIPPET = ['MatchTag "kelcalib_', '"TransformationMatrix" "0.561404 0 0.438596 0 1 0 0 0 1"',
           'SUBSYSTEM=="input", KERNEL=="event*", ATTRS{id/vendor}=="fffe", ATTRS{id/product}=="0001"']
# "0: 1024x768 at 0,0 (primary)  Virtual-1  (260x195 mm; targets 39 px)"
LISTED = re.compile(r"^0: (\d+)x(\d+) at .*\((\d+)x(\d+) mm(, turned left)?; targets (\d+) px\)$")


def lines(text, prefix):
    return [line[len(prefix):] for line in text.splitlines() if line.startswith(prefix)]


def check_pairing_and_mapping(text, fail):
    event = (lines(text, "NODES: ") or [""])[0].split()[-1:]
    try:
        pairs = json.loads(lines(text, "IDENTIFY ")[0])["controllers"]
        got = [(c["display"], c["display_name"], c["input_devices"]) for c in pairs]
    except (IndexError, ValueError, KeyError, TypeError) as error:
        got = "no pairs (%s)" % error
    print("identify: %s" % (got,))
    if got != [(1, "DUMMY1", event)]:
        fail("--identify: want the controller on display 1 DUMMY1 with %s" % event)
    exits = dict(l.split(": ", 1) for l in lines(text, "EXIT ") if not l.startswith("persist"))
    want = {"identify": "0", "escape": str(EXIT["abandoned"]), "yes": "0"}
    if exits != want:
        fail("exit statuses %s, want %s" % (exits, want))
    matrices = {}
    for line in lines(text, "MATRIX "):
        step, _, values = line.partition(": ")
        try:
            matrices[step] = [float(v) for v in values.split()]
        except ValueError:
            matrices[step] = []
    for step, want in MATRICES:
        got = matrices.get(step, [])
        ok = len(got) == 9 and all(abs(a - b) < 1e-5 for a, b in zip(got, want))
        print("matrix %-12s %s%s" % (step, " ".join("%.4g" % v for v in got), "" if ok else "  FAIL"))
        if not ok:
            fail("matrix %s: want %s" % (step, want))
    out = "\n".join(lines(text, "OUT: "))
    conf = "\n".join(lines(text, "CONF: "))
    tags = (lines(text, "TAGS: ") or [""])[0]
    if not ("wrote /etc/udev/rules.d/71-kelcalib-fffe-0001-" in out and
            "/etc/X11/xorg.conf.d/99-kelcalib-fffe-0001-" in out and "udev has tagged" in out) or \
            not all(s in conf for s in SNIPPET) or "kelcalib_" not in tags:
        fail("the udev rule and X configuration not written and applied after Yes:\n%s\n%s\ntags %r" % (out, conf, tags))
    status, _, report = (lines(text, "DOCTOR ") or [""])[0].partition(" ")
    try:
        findings = [f for s in json.loads(report)["sections"] for f in s["findings"]]
    except (ValueError, KeyError, TypeError):
        findings = []
    mapping = [f["text"] for f in findings if f["check"] == "mapping"]
    problems = [f["check"] for f in findings if f["verdict"] == "problem"]
    print("doctor: exit %s, problems %s, %s" % (status, problems, mapping))
    if status != "0" or problems or not mapping or "onto DUMMY1" not in mapping[0]:
        fail("doctor: want exit 0, no problem and the mapping onto DUMMY1")


def check_two_controllers(text, fail):
    """Two identical controllers persisted one after the other, each on its
    display: an Xorg started again maps each onto its own."""
    exits = dict(l.split(": ", 1) for l in lines(text, "EXIT ") if l.startswith("persist"))
    if exits != {"persist 0": "0", "persist 1": "0"}:
        fail("two controllers: exit statuses %s" % exits)
    matrices = {}
    for line in lines(text, "MATRIX2 "):
        k, _, values = line.partition(": ")
        try:
            matrices[k] = [float(v) for v in values.split()]
        except ValueError:
            matrices[k] = []
    files = [l for l in lines(text, "FILES2: ") if re.match(r"(99|71)-kelcalib-fffe-0001-", l)]
    print("two controllers: files %s, matrices %s" % (files, matrices))
    for k, want in (("0", DUMMY0), ("1", DUMMY1)):
        got = matrices.get(k, [])
        if not (len(got) == 9 and all(abs(a - b) < 1e-5 for a, b in zip(got, want))):
            fail("two controllers: controller %s's matrix %s, want %s" % (k, got, want))
    if len(files) != 4:
        fail("two controllers: want two udev rules and two X configuration files, not %s" % files)


def check_sizes(text, fail):
    sizes = {}
    for line in lines(text, "SIZE "):
        where, _, listed = line.partition(": ")
        found = LISTED.match(listed.strip())
        print("size %-11s %s" % (where, listed.strip()))
        if found:
            sizes[where] = found.groups()
    if set(sizes) != {"kmsdrm", "x11", "x11 turned"}:
        fail("want a known size on kmsdrm, x11 and x11 turned: %s" % sorted(sizes))
        return
    for where, (w, h, wmm, hmm, turned, radius) in sizes.items():
        if int(radius) != int(h) * 10 // int(hmm):
            fail("%s: targets %s px, want 10 mm of %s rows over %s mm" % (where, radius, h, hmm))
        if bool(turned) != (where == "x11 turned"):
            fail("%s: the turn told wrongly" % where)
    flat, turned = sizes["x11"], sizes["x11 turned"]
    # The kernel takes the EDID's size in centimetres, X the millimetres of
    # its detailed timing: one display, within a centimetre.
    if sizes["kmsdrm"][:2] != flat[:2] or \
            any(abs(int(a) - int(b)) >= 10 for a, b in zip(sizes["kmsdrm"][2:4], flat[2:4])):
        fail("KMS/DRM and X11 tell different sizes of one display")
    if turned[:4] != (flat[1], flat[0], flat[3], flat[2]):
        fail("turned a quarter, the pixels and the millimetres should change places: %s, %s" % (flat, turned))


def main():
    text = open(sys.argv[1], errors="replace").read().replace("\r", "")
    failures = []
    check_pairing_and_mapping(text, failures.append)
    check_two_controllers(text, failures.append)
    check_sizes(text, failures.append)
    for message in failures:
        print("FAIL: " + message)
    if not failures:
        print("which display and the display's size as they should be")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
