#!/usr/bin/env python3
"""kelcalib.exe end to end: the real program under Wine in an X display, the
virtual controller behind the replacement hid.dll and setupapi.dll, touches
made with xdotool.

    e2e.py --exe kelcalib.exe --solve calib-solve --post-close post-close.exe SCENARIO...

Needs DISPLAY and WINEPREFIX of a booted prefix into which the virtual
controller was installed for kelcalib.exe (./check does this). Each scenario
gets its own controller config, log and store in a temporary directory, which
is removed unless it fails. Prints what it measured; exits 1 when a check
failed.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from wine_retry import WINE_CONNECTION_FAILURE  # noqa: E402

SCREEN_TARGETS = 4
CONFIRM = "Checking calibration results"
FATAL = "Fatal error!"
BACKGROUND = (200, 200, 200)  # the calibration window's light grey
OPTIONS = None


def winpath(path):
    return "Z:" + path.replace("/", "\\")


class Failed(Exception):
    pass


def screen_size():
    out = subprocess.run(["xdotool", "getdisplaygeometry"], capture_output=True, text=True, check=True)
    w, h = out.stdout.split()
    return int(w), int(h)


def target(i, w, h):
    """Centre of target i as the program lays it out: (n * size) / 5."""
    xs = (1, 4, 4, 1)
    ys = (1, 4, 1, 4)
    return xs[i] * w // 5, ys[i] * h // 5


def parse_log(text):
    """Log lines as (kind, result, bytes, event text)."""
    entries = []
    for line in text.splitlines():
        words = line.split()
        if len(words) < 3 or words[1] != "0":
            continue
        if words[2] == "EVENT":
            entries.append(("EVENT", "ok", [], " ".join(words[3:])))
        elif words[2] in ("SET", "GET") and len(words) >= 6:
            data = [int(b, 16) for b in words[7:]]
            entries.append((words[2], words[4], data, ""))
    return entries


def command_of(data):
    """The command a SET carried: Cx, Cy, CS, WC, Rs or Q."""
    payload = data if data and data[0] == 0x01 else data[1:]
    if len(payload) < 3:
        return "?"
    if payload[1] == ord("Q"):
        return "Q"
    return chr(payload[1]) + chr(payload[2])


def last_packet(data):
    """The last complete touch packet of a report, as the program reads it."""
    payload = data if data and data[0] == 0x01 else data[1:]
    payload = (payload + [0] * 100)[:100]
    found = None
    for k in range(88):
        if payload[k:k + 2] == [0x55, 0x54] and payload[k + 10:k + 12] == [0x55, 0x54]:
            found = (payload[k + 3] | payload[k + 4] << 8, payload[k + 5] | payload[k + 6] << 8)
    return found


class Run:
    """One start of kelcalib.exe against one virtual controller."""

    def __init__(self, name, controller_lines, devices=True):
        self.name = name
        self.dir = tempfile.mkdtemp(prefix="kelcalib-e2e-%s." % name)
        self.log = os.path.join(self.dir, "controller.log")
        self.store = os.path.join(self.dir, "store.txt")
        self.conf = os.path.join(self.dir, "controller.conf")
        self.failures = []
        self.proc = None
        self.hook_trace = False
        self.extra_env = {}
        self.width, self.height = screen_size()
        lines = ["log-file " + winpath(self.log), "other-device 0x845E 0x0001"]
        if devices:
            lines += ["controller", "store " + winpath(self.store)] + list(controller_lines)
        with open(self.conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        open(self.log, "w").close()

    # Program -------------------------------------------------------------
    def start(self):
        return self.spawn()

    def spawn(self):
        env = dict(os.environ, KELCALIB_VC_CONFIG=winpath(self.conf), **self.extra_env)
        if self.hook_trace:
            # Relay tracing limited to a DLL that does not exist: only the
            # calls and returns of hook procedures are traced.
            subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude",
                            "/d", "kelcalib-none.dll", "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            env["WINEDEBUG"] = "-all,+timestamp,+relay"
        err = open(os.path.join(self.dir, "stderr.txt"), "ab")
        proc = subprocess.Popen(["wine", OPTIONS.exe], env=env, stdout=subprocess.DEVNULL, stderr=err)
        if self.proc is None:
            self.proc = proc
        return proc

    def exit_code(self, timeout=30, proc=None):
        proc = proc or self.proc
        try:
            return proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.fail("kelcalib.exe did not end within %d s" % timeout)
            raise Failed()

    def stop(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    # Controller log ------------------------------------------------------
    def entries(self):
        with open(self.log) as f:
            return parse_log(f.read())

    def events(self):
        return [e[3] for e in self.entries() if e[0] == "EVENT"]

    def trace(self):
        """The transfers in order: the command of each SET, 'get' for each GET
        (failed transfers get a '!' in front)."""
        out = []
        for kind, result, data, _ in self.entries():
            if kind == "EVENT":
                continue
            word = command_of(data) if kind == "SET" else "get"
            out.append(word if result == "ok" else "!" + word)
        return out

    def cues(self):
        return sum(1 for e in self.events() if e == "Q cue")

    def sets(self):
        return sum(1 for e in self.entries() if e[0] == "SET")

    def wait_for(self, what, predicate, timeout=30):
        end = time.time() + timeout
        while time.time() < end:
            if predicate():
                return
            if self.proc is not None and self.proc.poll() is not None:
                self.fail("kelcalib.exe ended (code %s) while waiting for %s" % (self.proc.returncode, what))
                raise Failed()
            time.sleep(0.05)
        self.fail("timed out after %d s waiting for %s" % (timeout, what))
        raise Failed()

    def wait_cues(self, n, timeout=30):
        self.wait_for("target cue %d" % n, lambda: self.cues() >= n, timeout)

    def raw_points(self):
        """Raw points of every read that held a complete packet, in order."""
        points = []
        for kind, result, data, _ in self.entries():
            if kind == "GET" and result == "ok":
                p = last_packet(data)
                if p is not None:
                    points.append(p)
        return points

    def store_text(self):
        try:
            with open(self.store) as f:
                return f.read()
        except FileNotFoundError:
            return None

    # Input ---------------------------------------------------------------
    def touch(self, i, button=1, hold=0.08, settle=0.45):
        """A touch on target i: waits out the program's 300 ms between touches."""
        time.sleep(settle)
        x, y = target(i, self.width, self.height)
        xdotool("mousemove", x, y, "mousedown", button)
        time.sleep(hold)
        xdotool("mouseup", button)

    def collect(self, first_cue=1, buttons=(1, 1, 1, 1), start=0):
        """Touches the targets of one pass from `start` on, each once it is shown."""
        for i in range(start, SCREEN_TARGETS):
            self.wait_cues(first_cue + i)
            self.touch(i, buttons[i])
        self.wait_cues(first_cue + SCREEN_TARGETS)

    def wait_box(self, caption, timeout=30):
        out = subprocess.run(["timeout", str(timeout), "xdotool", "search", "--sync", "--onlyvisible",
                              "--name", "^%s$" % re.escape(caption)], capture_output=True, text=True)
        ids = out.stdout.split()
        if not ids:
            self.fail("no message box '%s' within %d s" % (caption, timeout))
            raise Failed()
        time.sleep(0.3)
        return ids[0]

    def box_gone(self, caption, timeout=10):
        def gone():
            out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % re.escape(caption)],
                                 capture_output=True, text=True)
            return not out.stdout.split()
        self.wait_for("box '%s' to close" % caption, gone, timeout)

    def answer(self, caption, key):
        self.wait_box(caption)
        xdotool("key", key)
        self.box_gone(caption)

    def click_only_button(self, caption):
        """Clicks the one button of a box with the mouse. Wine centres it
        across the box, its middle 25 px above the box's lower edge."""
        box = self.wait_box(caption)
        geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", box], capture_output=True,
                                  text=True).stdout
        g = dict(line.split("=") for line in geometry.split())
        xdotool("mousemove", int(g["X"]) + int(g["WIDTH"]) // 2, int(g["Y"]) + int(g["HEIGHT"]) - 25,
                "click", 1)
        self.box_gone(caption)

    def post_close(self):
        code = subprocess.run(["wine", OPTIONS.post_close, "KelCalib"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode
        self.check(code == 0, "post-close found the calibration window")

    def screenshot(self, name):
        """Saves a PNG in the run's directory and returns the screen as rows of RGB."""
        png = os.path.join(self.dir, name + ".png")
        xwd = subprocess.run(["xwd", "-root", "-display", os.environ["DISPLAY"]], capture_output=True,
                             check=True).stdout
        subprocess.run(["convert", "xwd:-", png], input=xwd, check=True)
        rgb = subprocess.run(["convert", "xwd:-", "-depth", "8", "rgb:-"], input=xwd, capture_output=True,
                             check=True).stdout
        return lambda x, y: tuple(rgb[(y * self.width + x) * 3:(y * self.width + x) * 3 + 3])

    # Checks --------------------------------------------------------------
    def fail(self, message):
        self.failures.append(message)
        print("  FAIL: " + message)

    def check(self, condition, message):
        if not condition:
            self.fail(message)
        return condition

    def equal(self, got, want, message):
        if got != want:
            self.fail("%s:\n    got  %s\n    want %s" % (message, got, want))
            return False
        return True


def xdotool(*args):
    subprocess.run(["xdotool"] + [str(a) for a in args], check=True)


def solve(points, logical_max=32767):
    """calib-solve's expected positions and records for four raw points."""
    args = [OPTIONS.solve, "--logical-max", str(logical_max)] + [str(v) for p in points for v in p]
    out = subprocess.run(args, capture_output=True, text=True, check=True).stdout
    fields = {line.split()[0]: [int(v) for v in line.split()[1:]] for line in out.splitlines()
              if line.split() and line.split()[0] in ("expected", "record-x", "record-y")}
    return fields["expected"], fields["record-x"], fields["record-y"]


def apply_axis(record, raw):
    fx, fy, offset, divisor = record
    total = fx * raw[0] + fy * raw[1]
    quotient = abs(total) // abs(divisor)
    if (total < 0) != (divisor < 0):
        quotient = -quotient
    return quotient + offset


PASS_TRACE = ["Cx", "get", "Cy", "get"] + ["Q", "get"] * 4 + ["Q", "Cx", "get", "Cy", "get"]
COMMIT_TRACE = ["CS", "get", "WC", "get"]


def check_committed(run, points, label="", logical_max=32767):
    """The records sent and committed are calib-solve's for the points read;
    returns the worst distance of a target from its expected position."""
    expected, rx, ry = solve(points, logical_max)
    records = [e for e in run.events() if e.startswith("Cx accept") or e.startswith("Cy accept")]
    text = lambda r: " ".join(str(v) for v in r)
    run.equal(records[-2:], ["Cx accept " + text(rx), "Cy accept " + text(ry)], label + "records sent")
    run.equal([e for e in run.events() if e.startswith("WC")][-1:],
              ["WC accept committed %s / %s" % (text(rx), text(ry))], label + "records committed")
    run.equal(run.store_text(), "x %s\ny %s\n" % (text(rx), text(ry)), label + "store")
    worst = 0
    for i, raw in enumerate(points):
        dx = apply_axis(rx, raw) - expected[2 * i]
        dy = apply_axis(ry, raw) - expected[2 * i + 1]
        worst = max(worst, abs(dx), abs(dy))
    return worst


# Scenarios -----------------------------------------------------------------

def full_calibration(panel, screenshot=False):
    def scenario(run):
        run.start()
        run.wait_cues(1)
        if screenshot:
            check_first_target(run)
            run.touch(0)
            run.wait_cues(2)
            check_second_target(run)
        run.collect(start=1 if screenshot else 0)
        run.answer(CONFIRM, "Return")
        run.equal(run.exit_code(), 0, "exit code")
        run.equal(run.trace(), PASS_TRACE + COMMIT_TRACE, "transfers")
        points = run.raw_points()
        if not run.equal(len(points), 4, "touch reads with a packet"):
            return
        worst = check_committed(run, points)
        print("  panel %s: raw points %s, worst error at the targets %d device units" % (panel, points, worst))
        if panel == "straight":
            run.check(worst <= 2, "straight panel: every target within 2 device units (worst %d)" % worst)
    return scenario, ["panel " + panel]


def check_first_target(run):
    time.sleep(0.5)
    pixel = run.screenshot("first-target")
    x, y = target(0, run.width, run.height)
    black = (0, 0, 0)
    dark = lambda px, py: sum(pixel(px, py)) < 300
    run.equal(pixel(x, y), black, "the cross's centre")
    # The vertical bar runs from the circle's top to one pixel short of its
    # bottom: its length upwards is the radius.
    radius = 0
    while radius < 200 and dark(x, y - radius - 1):
        radius += 1
    print("  target radius %d px" % radius)
    run.check(10 <= radius <= 100, "a target radius of a few millimetres (%d px)" % radius)
    diagonal = int(round(radius * 0.7071))
    for sx, sy in ((1, 1), (1, -1), (-1, 1), (-1, -1)):
        near = any(dark(x + sx * diagonal + dx, y + sy * diagonal + dy) for dx in (-1, 0, 1) for dy in (-1, 0, 1))
        run.check(near, "the circle passes (%d, %d) from the centre" % (sx * diagonal, sy * diagonal))
    run.check(dark(x - radius, y) and dark(x + radius, y), "the circle at both ends of the bar")
    run.equal(pixel(x + radius // 2, y + radius // 2), BACKGROUND, "grey inside the circle")
    run.equal(pixel(x + radius + 5, y + radius + 5), BACKGROUND, "grey outside the circle")
    for i in (1, 2, 3):
        tx, ty = target(i, run.width, run.height)
        run.equal(pixel(tx, ty), BACKGROUND, "no cross at target %d yet" % i)
    # The three texts: on the first, third and fifth line from the top.
    rows = [yy for yy in range(0, y - radius - 1) if any(dark(xx, yy) for xx in range(0, run.width, 1))]
    runs = []
    for yy in rows:
        if runs and yy == runs[-1][1] + 1:
            runs[-1][1] = yy
        else:
            runs.append([yy, yy])
    starts = [r[0] for r in runs]
    if run.equal(len(runs), 3, "three text lines above the target"):
        run.check(starts[1] - starts[0] == starts[2] - starts[1] and runs[0][1] - runs[0][0] < starts[1] - starts[0] - 1,
                  "the texts on every other line (rows %s)" % runs)


def check_second_target(run):
    """After the first touch: the first target erased, one target at the
    second position and nothing else below the texts, which stand on grey."""
    time.sleep(0.5)
    pixel = run.screenshot("second-target")
    first = target(0, run.width, run.height)
    second = target(1, run.width, run.height)
    run.equal(pixel(*first), BACKGROUND, "the first target's centre erased")
    run.equal(pixel(*second), (0, 0, 0), "the second target's centre")
    radius = 0
    while radius < 200 and sum(pixel(second[0], second[1] - radius - 1)) < 300:
        radius += 1
    top = first[1] - radius - 1  # the texts lie above the first target's row
    lighter = sum(1 for y in range(0, top) for x in range(0, run.width, 2)
                  if max(pixel(x, y)) > BACKGROUND[0])
    run.equal(lighter, 0, "pixels lighter than the grey around the texts")
    stray = [(x, y) for y in range(top, run.height, 2) for x in range(0, run.width, 2)
             if pixel(x, y) != BACKGROUND and max(abs(x - second[0]), abs(y - second[1])) > radius + 1]
    run.equal(stray[:5], [], "drawn pixels below the texts away from the second target")


def no_then_yes(run):
    run.start()
    run.collect()
    run.answer(CONFIRM, "n")
    run.collect(first_cue=6)
    run.answer(CONFIRM, "Return")
    run.equal(run.exit_code(), 0, "exit code")
    run.equal(run.trace(), PASS_TRACE + PASS_TRACE + COMMIT_TRACE, "transfers: identity again, a new pass")
    events = run.events()
    identity = [i for i, e in enumerate(events) if e in ("Cx accept 1 0 0 1", "Cy accept 0 1 0 1")]
    run.equal(len(identity), 4, "identity sent at each pass")
    points = run.raw_points()
    if run.equal(len(points), 8, "touch reads"):
        check_committed(run, points[4:], "second pass: ")


def abandon(how):
    def scenario(run):
        run.start()
        run.wait_cues(1)
        run.touch(0)
        run.wait_cues(2)
        time.sleep(0.4)
        if how == "esc":
            xdotool("key", "Escape")
        elif how == "alt-f4":
            xdotool("key", "alt+F4")
        else:
            run.post_close()
        run.equal(run.exit_code(timeout=10), 0, "exit code")
        trace = run.trace()
        run.equal(trace[-1:], ["Rs"], "the abort command ends the transfers")
        run.check("CS" not in trace and "WC" not in trace, "nothing committed")
        run.equal(run.store_text(), None, "store untouched")
    return scenario


def no_controller(run):
    run.start()
    box = run.wait_box(FATAL)
    boxes = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", ".+"], capture_output=True,
                           text=True).stdout.split()
    run.equal(len(boxes), 1, "one visible window: the box")
    geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", box], capture_output=True,
                              text=True).stdout
    g = dict(line.split("=") for line in geometry.split())
    cx = int(g["X"]) + int(g["WIDTH"]) // 2
    cy = int(g["Y"]) + int(g["HEIGHT"]) // 2
    run.check(abs(cx - run.width // 2) <= 2 and abs(cy - run.height // 2) <= 2,
              "the box is centred on the screen (its centre is at %d, %d)" % (cx, cy))
    pixel = run.screenshot("no-controller")
    corner = pixel(5, 5)
    run.check(corner != BACKGROUND, "no calibration window behind the box")
    xdotool("key", "Return")
    run.equal(run.exit_code(timeout=10), 0, "exit code")
    run.equal(run.trace(), [], "no transfers")


def identity_refused(run):
    """The error box is answered with a mouse click, as on a machine whose
    only pointer is the touch screen: the click is the box's, not a point."""
    run.start()
    run.click_only_button(FATAL)
    run.equal(run.exit_code(timeout=10), 0, "exit code")
    run.equal(run.trace(), ["Cx", "get"] * 8 + ["Cy", "get", "Rs"],
              "eight refused X records, Y, the abort: no cue, no read, no record")
    run.equal(run.cues(), 0, "no target shown")
    run.equal(run.store_text(), None, "store untouched")


def logical_maxima(logical_max):
    """A whole calibration solved for the maximum the controller reports (or
    32767 when it reports none)."""
    def scenario(run):
        run.start()
        run.collect()
        run.answer(CONFIRM, "Return")
        run.equal(run.exit_code(), 0, "exit code")
        points = run.raw_points()
        if run.equal(len(points), 4, "touch reads with a packet"):
            check_committed(run, points, "maximum %d: " % logical_max, logical_max)
    return scenario


def records_refused(run):
    run.start()
    run.collect()
    # No question: a new pass starts at the first target.
    run.wait_cues(6)
    trace = run.trace()
    first = PASS_TRACE[:-4]
    run.equal(trace[:len(first)], first, "a whole pass")
    run.equal(trace[len(first):], ["Cx", "get"] * 8 + ["Cy", "get"] + ["Cx", "get", "Cy", "get", "Q"],
              "eight refused X records, Y, then identity and the first target again")
    xdotool("key", "Escape")
    run.equal(run.exit_code(timeout=10), 0, "exit code")
    run.equal(run.store_text(), None, "store untouched")


def new_pass_without_commit(run, after_pass, message):
    """After a whole pass and then `after_pass`: identity and the first target
    again; Esc then ends the session with nothing committed."""
    run.wait_cues(SCREEN_TARGETS + 2)
    trace = run.trace()
    first = PASS_TRACE[:-4]
    run.equal(trace[:len(first)], first, "a whole pass")
    run.equal(trace[len(first):], after_pass + ["Cx", "get", "Cy", "get", "Q"], message)
    escape_with_nothing_committed(run)


def coincident_touches(run):
    """Four touches on one spot: the solve finds no calibration, so none is
    sent (it would put every touch there) and a new pass starts."""
    run.start()
    for i in range(SCREEN_TARGETS):
        run.wait_cues(i + 1)
        run.touch(0)
    new_pass_without_commit(run, [], "no records: identity and the first target again")


def question_box_fails(run):
    """The question's box cannot open (the replacement hid.dll refuses the
    program's dialog windows): unanswered is No, never Yes."""
    run.extra_env = {"KELCALIB_VC_REFUSE_BOXES": "1"}
    run.start()
    run.collect()
    new_pass_without_commit(run, ["Cx", "get", "Cy", "get"],
                            "the records, then identity and the first target again")


def commit_refused(run):
    run.start()
    run.collect()
    run.answer(CONFIRM, "Return")
    run.equal(run.exit_code(timeout=20), 0, "exit code")
    run.equal(run.trace(), PASS_TRACE + ["CS", "get"] * 8, "eight refused CS, no WC")
    run.equal(run.store_text(), None, "store untouched")


def second_copy(run):
    run.start()
    run.wait_cues(1)
    before = run.trace()
    second = run.spawn()
    run.equal(run.exit_code(timeout=20, proc=second), 1, "exit code of the second copy")
    run.equal(run.trace(), before, "the second copy made no transfers")
    xdotool("key", "Escape")
    run.equal(run.exit_code(timeout=10), 0, "exit code of the first copy")


def buttons_moves_and_debounce(run):
    run.start()
    run.wait_cues(1)
    run.touch(0, button=3)  # right button
    run.wait_cues(2)
    # Moves and the wheel between touches reach no device.
    for step in range(20):
        xdotool("mousemove", 100 + 30 * step, 200 + 10 * step)
    xdotool("click", 4)
    xdotool("click", 5)
    run.touch(1, button=2)  # middle button
    run.wait_cues(3)
    # A double tap: the second release comes within 300 ms and is dropped.
    run.touch(2)
    run.touch(2, settle=0.05)
    run.wait_cues(4)
    time.sleep(0.5)
    run.equal(run.cues(), 4, "one target further for a double tap")
    run.touch(3)
    run.wait_cues(5)
    run.answer(CONFIRM, "Return")
    run.equal(run.exit_code(), 0, "exit code")
    run.equal(run.trace(), PASS_TRACE + COMMIT_TRACE, "one read per accepted release, none for anything else")


def no_packets(run):
    run.start()
    run.wait_cues(1)
    run.touch(0)
    run.wait_cues(2)
    run.touch(0)
    run.wait_cues(3)
    time.sleep(0.3)
    run.equal(run.trace(), ["Cx", "get", "Cy", "get"] + ["Q", "get"] * 2 + ["Q"],
              "a read without a packet shows the same target again")
    pixel = run.screenshot("same-target")
    x, y = target(0, run.width, run.height)
    run.equal(pixel(x, y), (0, 0, 0), "still the first target")
    xdotool("key", "Escape")
    run.equal(run.exit_code(timeout=10), 0, "exit code")


# Faults mid-calibration ---------------------------------------------------

def touch_three_targets(run):
    """Starts the program and touches the first three targets as they come."""
    run.start()
    for i in range(3):
        run.wait_cues(i + 1)
        run.touch(i)


def escape_with_nothing_committed(run):
    xdotool("key", "Escape")
    run.equal(run.exit_code(timeout=10), 0, "exit code")
    run.check("CS" not in run.trace(), "nothing committed")
    run.equal(run.store_text(), None, "store untouched")


def silent_after_second_target(run):
    touch_three_targets(run)
    run.wait_for("a command to be ignored", lambda: "ignored (silent)" in run.events())
    run.touch(2)
    time.sleep(0.5)
    run.equal(run.cues(), 3, "the third target stays")
    escape_with_nothing_committed(run)
    run.equal(len(run.raw_points()), 2, "two points read")


def silent_before_records(run):
    """Silent from the fifth cue: the records, then the new pass's identity,
    each give up after eight sends; Esc pressed during the wait is answered."""
    run.start()
    run.collect()
    started = time.time()
    time.sleep(2)
    xdotool("key", "Escape")
    run.equal(run.exit_code(timeout=60), 0, "exit code")
    took = time.time() - started
    pairs = sends_and_polls(run.trace()[len(PASS_TRACE) - 4:])
    sends = [command for command, _ in pairs]
    print("  silent controller: %d sends, %d polls, %.1f s from the fifth cue to the end" % (
        len(sends), sum(polls for _, polls in pairs), took))
    run.equal(sends, ["Cx"] * 8 + ["Cy"] * 8 + ["Cx"] * 8 + ["Cy"] * 8 + ["Rs"],
              "records, then the new pass's identity, eight sends each, then the abort")
    run.equal(set(polls for _, polls in pairs[:-1]), {4}, "four polls after every send")
    run.equal(run.store_text(), None, "store untouched")


def vanishes_mid_pass(run):
    touch_three_targets(run)
    run.wait_for("the controller to go", lambda: "!Q" in run.trace())
    run.touch(2)
    time.sleep(0.5)
    escape_with_nothing_committed(run)
    trace = run.trace()
    run.check(trace[-1] == "!Rs", "the abort was tried on the gone device (%s)" % trace[-3:])


def hook_hold_times(run):
    """Milliseconds between the touch hook's call and its return for each
    button release, from Wine's relay trace of hook procedures."""
    with open(os.path.join(run.dir, "stderr.txt"), errors="replace") as f:
        trace = f.read()
    pattern = r"^(\d+\.\d+):\w+:(Call|Ret ) hook proc \w+ \(id=WH_MOUSE_LL,code=0,wp=0000020([258])"
    holds = []
    called = None
    for at, what, _ in re.findall(pattern, trace, re.M):
        if what == "Call":
            called = float(at)
        elif called is not None:
            holds.append(round((float(at) - called) * 1000))
            called = None
    return holds


def slow_transfers(run):
    """Every transfer takes 200 ms: the calibration completes, and the hook
    holds each release for about one read."""
    run.hook_trace = True
    run.start()
    run.collect()
    run.answer(CONFIRM, "Return")
    run.equal(run.exit_code(timeout=60), 0, "exit code")
    run.equal(run.trace(), PASS_TRACE + COMMIT_TRACE, "transfers")
    points = run.raw_points()
    if run.equal(len(points), 4, "touch reads"):
        check_committed(run, points)
    holds = hook_hold_times(run)
    print("  hook hold per release, ms: %s" % holds)
    run.equal(len(holds), 4, "four releases traced through the hook")


def sends_and_polls(trace):
    """Each command sent with the number of reads that followed it."""
    pairs = []
    for word in trace:
        if word == "get" and pairs:
            pairs[-1][1] += 1
        elif word != "get":
            pairs.append([word, 0])
    return [tuple(p) for p in pairs]


def bad_replies(fault, phase):
    """A reply fault in one phase of the session; never taken for an accept."""
    suffix = {"identity": "", "records": " after-cues 5", "commit": " after-accepts 4"}[phase]

    def scenario(run):
        run.start()
        if phase == "identity":
            if fault == "trailing-bytes":
                run.collect()
                run.answer(CONFIRM, "Return")
            else:
                run.answer(FATAL, "Return")
        elif phase == "records":
            run.collect()
            # The records fail, the new pass's identity fails: the error, then the end.
            run.answer(FATAL, "Return")
        else:
            run.collect()
            run.answer(CONFIRM, "Return")
        run.equal(run.exit_code(timeout=60), 0, "exit code")
        trace = run.trace()
        events = run.events()
        if fault == "trailing-bytes":
            run.equal(trace, PASS_TRACE + COMMIT_TRACE, "replies with bytes after them accepted at once")
            run.check(run.store_text() is not None, "committed")
            return
        pairs = sends_and_polls(trace)
        sends = [command for command, _ in pairs]
        if phase == "identity":
            run.equal(sends, ["Cx"] * 8 + ["Cy"] * 8 + ["Rs"], "eight sends each, then the abort")
        elif phase == "records":
            run.equal(sends[-33:], ["Cx"] * 8 + ["Cy"] * 8 + ["Cx"] * 8 + ["Cy"] * 8 + ["Rs"],
                      "records and identity eight sends each, then the abort")
        else:
            run.equal(sends[-8:], ["CS"] * 8, "CS eight times and no WC")
            run.check("WC" not in sends, "no WC")
        faulty = {"identity": pairs[-17:-1], "records": pairs[-33:-1], "commit": pairs[-8:]}[phase]
        run.equal(set(polls for _, polls in faulty), {4}, "four polls after every send of a bad reply")
        run.check(not any(e.startswith("WC accept") for e in events), "nothing committed")
        run.equal(run.store_text(), None, "store untouched")
    return scenario, ["fault %s%s" % (fault, suffix)]


def close_during_question(run):
    run.start()
    run.collect()
    run.wait_box(CONFIRM)
    run.post_close()
    run.equal(run.exit_code(timeout=15), 0, "exit code")
    trace = run.trace()
    run.equal(trace, PASS_TRACE + ["Rs"], "the abort and nothing after it")
    run.equal(run.store_text(), None, "store untouched")


SCENARIOS = {
    "full_straight": full_calibration("straight", screenshot=True),
    "full_mirrored": full_calibration("mirrored"),
    "full_swapped": full_calibration("swapped"),
    "full_offset": full_calibration("offset"),
    "full_scaled": full_calibration("scaled"),
    "no_then_yes": no_then_yes,
    "escape": abandon("esc"),
    "alt_f4": abandon("alt-f4"),
    "wm_close": abandon("wm-close"),
    "no_controller": (no_controller, None),
    "identity_refused": (identity_refused, ["fault reject 8"]),
    "logical_max_4095": (logical_maxima(4095), ["value-caps 2 4095 2047"]),
    "logical_max_none": (logical_maxima(32767), ["value-caps 0"]),
    # 0..0xFFFF written in two bytes: -1 to the HID class, so 0x7FFF.
    "logical_max_ffff": (logical_maxima(32767), ["value-caps 2 65535 65535", "logical-max-bytes 2"]),
    "records_refused": (records_refused, ["fault reject 8 after-cues 5"]),
    "commit_refused": (commit_refused, ["fault reject 8 after-accepts 4"]),
    "coincident_touches": coincident_touches,
    "question_box_fails": question_box_fails,
    "second_copy": second_copy,
    "buttons_moves_debounce": buttons_moves_and_debounce,
    "no_packets": (no_packets, ["fault no-packets"]),
    "silent_after_second_target": (silent_after_second_target, ["fault silent after-cues 3"]),
    "silent_before_records": (silent_before_records, ["fault silent after-cues 5"]),
    "vanishes_mid_pass": (vanishes_mid_pass, ["fault gone-after 0 after-cues 3"]),
    "slow_transfers": (slow_transfers, ["fault slow 200"]),
    "close_during_question": close_during_question,
}
for _fault in ("garbage", "half-reply", "no-cr", "other-reply"):
    for _phase in ("identity", "records", "commit"):
        SCENARIOS["replies_%s_%s" % (_fault.replace("-", "_"), _phase)] = bad_replies(_fault, _phase)
# Bytes after a whole reply are accepted in every phase: one run covers them all.
SCENARIOS["replies_trailing_bytes"] = bad_replies("trailing-bytes", "identity")


def run_scenario(name):
    entry = SCENARIOS[name]
    if callable(entry):
        entry = (entry, [])
    function, lines = entry
    return play(Run(name, lines or [], devices=lines is not None), function, name)


def show_wine_failure(text):
    """Prints the lines of a program's stderr that show Wine's own connection
    failure: with them in its output, a failed test is run once more
    (tests/harness/wine_retry.py)."""
    for line in text.splitlines():
        if WINE_CONNECTION_FAILURE.search(line):
            print("  " + line.strip())


def play(run, function, heading):
    """Plays one scenario on a started run and stops the run; prints the time,
    keeps the run's folder when a check failed and removes it otherwise."""
    print("%s:" % heading)
    started = time.time()
    try:
        function(run)
    except Failed:
        pass
    finally:
        run.stop()
    print("  %.1f s" % (time.time() - started))
    if run.failures:
        try:
            with open(os.path.join(run.dir, "stderr.txt"), errors="replace") as f:
                show_wine_failure(f.read())
        except FileNotFoundError:
            pass
        print("  kept %s" % run.dir)
        return False
    shutil.rmtree(run.dir, ignore_errors=True)
    return True


def main():
    global OPTIONS
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--exe", help="kelcalib.exe")
    parser.add_argument("--solve", help="the native calib-solve")
    parser.add_argument("--post-close", help="post-close.exe")
    parser.add_argument("--list", action="store_true", help="list the scenarios")
    parser.add_argument("scenarios", nargs="*")
    OPTIONS = parser.parse_args()
    if OPTIONS.list:
        print("\n".join(SCENARIOS))
        return 0
    if not (OPTIONS.exe and OPTIONS.solve and OPTIONS.post_close):
        parser.error("--exe, --solve and --post-close are required")
    unknown = [s for s in OPTIONS.scenarios if s not in SCENARIOS]
    if unknown:
        parser.error("unknown scenario %s (--list names them)" % ", ".join(unknown))
    for variable in ("DISPLAY", "WINEPREFIX"):
        if not os.environ.get(variable):
            parser.error("%s is not set: run under ./check's Wine session" % variable)
    ok = all([run_scenario(s) for s in OPTIONS.scenarios or list(SCENARIOS)])
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
