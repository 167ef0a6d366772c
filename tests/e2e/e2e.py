#!/usr/bin/env python3
"""What the end-to-end scenarios of kelcalib.exe share (the Linux program's
scenarios and kelcalib-ctl's take parts of it too): the program started
under Wine in an X display against the virtual controller behind the
replacement hid.dll and setupapi.dll, touches made with xdotool, the
controller's log read back, calib-solve's records, and a scenario played
and reported. The scenarios are in calibration_scenarios.py and
fault_scenarios.py, played by e2e_win32.py."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from wine_retry import WINE_CONNECTION_FAILURE  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def protocol_constants():
    """The handshake's numbers as device/controller_protocol.h names them:
    kSendsPerHandshake is PROTOCOL["sends_per_handshake"]."""
    with open(os.path.join(ROOT, "device", "controller_protocol.h")) as f:
        pairs = re.findall(r"^constexpr [\w:]+ k(\w+) = (\d+);", f.read(), re.M)
    return {re.sub(r"(?<!^)([A-Z])", r"_\1", name).lower(): int(value) for name, value in pairs}


PROTOCOL = protocol_constants()
# Sends of one handshake, and polls after each send, before it gives up.
SENDS = PROTOCOL["sends_per_handshake"]
POLLS = PROTOCOL["polls_per_send"]
# "fault reject N" for every send of one handshake.
REJECT_EVERY_SEND = "fault reject %d" % SENDS
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


def row_bands(rows):
    """Runs of consecutive numbers in the ascending `rows`, as [first, last]
    pairs: the bands of text lines a screenshot shows."""
    bands = []
    for row in rows:
        if bands and row == bands[-1][1] + 1:
            bands[-1][1] = row
        else:
            bands.append([row, row])
    return bands


class Run:
    """One start of kelcalib.exe against one virtual controller."""

    # The exit status of each way a run ends. kelcalib.exe gives 1 for a
    # second copy and 0 for everything else; the Linux program has one of
    # its own for each (linux_run.LinuxRun).
    EXIT = {"calibrated": 0, "cannot_start": 1, "no_controller": 0, "refused": 0, "abandoned": 0}

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
    def finger_at(self, i):
        """Where the pointer goes for a touch on target i: the replacement
        hid.dll reports the pointer's position as the finger's."""
        return target(i, self.width, self.height)

    def touch(self, i, button=1, hold=0.08, settle=0.45):
        """A touch on target i: waits out the program's 300 ms between touches."""
        time.sleep(settle)
        x, y = self.finger_at(i)
        xdotool("mousemove", x, y, "mousedown", button)
        time.sleep(hold)
        xdotool("mouseup", button)

    def double_tap(self, i, settle=0.45):
        """Two taps on target i from one xdotool process: the second release
        112 ms after the first (each click held 12 ms, 100 ms between them),
        inside the program's 300 ms between touches however long processes
        take to start."""
        time.sleep(settle)
        x, y = self.finger_at(i)
        xdotool("mousemove", x, y, "click", "--repeat", 2, "--delay", 100, 1)

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


# A straight panel on a 1024 x 768 screen touched exactly at the targets: the
# raw points and records the Windows and the Linux program read and commit,
# whichever collection layout the controller has (both checked against
# calib-solve too).
STRAIGHT_POINTS = [(13056, 13056), (52415, 52394), (52415, 13056), (13056, 52394)]
STRAIGHT_RECORDS = ["Cx accept 17016 0 31 34066", "Cy accept 0 17025 28 34066"]


def check_straight(run, points):
    """The fixed raw points and records of a straight panel on 1024 x 768."""
    if run.equal((run.width, run.height), (1024, 768), "the screen the fixed straight points are for"):
        run.equal(points, STRAIGHT_POINTS, "the raw points of a straight panel")
        records = [e for e in run.events() if e.startswith(("Cx accept", "Cy accept"))]
        run.equal(records[-2:], STRAIGHT_RECORDS, "the records committed for them")


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


def escape_with_nothing_committed(run):
    xdotool("key", "Escape")
    run.equal(run.exit_code(timeout=10), run.EXIT["abandoned"], "exit code")
    run.check("CS" not in run.trace(), "nothing committed")
    run.equal(run.store_text(), None, "store untouched")


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
