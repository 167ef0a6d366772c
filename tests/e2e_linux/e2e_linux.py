#!/usr/bin/env python3
"""kelcalib for Linux end to end: the unchanged program in its own X server
(Xvfb, or Xorg with two monitors), the virtual controller presented as hidraw
nodes by the preloaded interposer, touches made with xdotool. Before each
touch the harness puts the finger's position on the program's display into
the interposer's touch file, so the controller reports where the pointer is.

    e2e_linux.py --exe kelcalib --preload LD_PRELOAD-VALUE --solve calib-solve \
                 --close-request close-request SCENARIO...

Each scenario gets its own X server, controller config, log and store in
temporary directories, removed unless it fails. Exits 1 when a check failed.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import e2e  # noqa: E402  (the Windows scenarios' log parsing, solve and checks)
import xserver  # noqa: E402
from e2e import COMMIT_TRACE, PASS_TRACE, Failed, check_committed, target  # noqa: E402

BACKGROUND = (200, 200, 200)
CAPTION_BAR = (60, 60, 60)
BUTTON = (225, 225, 225)
# A straight panel on a 1024 x 768 screen touched exactly at the targets: the
# raw points and records that the Windows scenario on the same panel and
# screen reads and commits (both checked against calib-solve).
STRAIGHT_POINTS = [(13056, 13056), (52415, 52394), (52415, 13056), (13056, 52394)]
STRAIGHT_RECORDS = ["Cx accept 17016 0 31 34066", "Cy accept 0 17025 28 34066"]


class LinuxRun(e2e.Run):
    """One start of the Linux program in its own X server."""

    def __init__(self, name, controller_lines, devices=True, two_monitors=False):
        self.name = name
        self.dir = tempfile.mkdtemp(prefix="kelcalib-e2e-linux-%s." % name)
        self.log = os.path.join(self.dir, "controller.log")
        self.store = os.path.join(self.dir, "store.txt")
        self.conf = os.path.join(self.dir, "controller.conf")
        self.failures = []
        self.proc = None
        self.args = []
        self.extra_env = {}
        self.touch_file = os.path.join(self.dir, "touch")
        self.x = xserver.start_two_monitors() if two_monitors else xserver.start_xvfb()
        os.environ["DISPLAY"] = self.x.display
        self.width, self.height = 1024, 768
        self.left = 800 if two_monitors else 0  # where the program's display starts
        lines = ["log-file " + self.log]
        if devices:
            lines += ["controller", "store " + self.store] + list(controller_lines)
        with open(self.conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        open(self.log, "w").close()

    def spawn(self):
        env = self.x.env({"KELCALIB_VC_CONFIG": self.conf, "ASAN_OPTIONS": "detect_leaks=0",
                          "LD_PRELOAD": OPTIONS.preload, "KELCALIB_VC_TOUCH_FILE": self.touch_file})
        env.update(self.extra_env)
        err = open(os.path.join(self.dir, "stderr.txt"), "ab")
        proc = subprocess.Popen([OPTIONS.exe] + self.args, env=env, stdout=subprocess.DEVNULL, stderr=err)
        if self.proc is None:
            self.proc = proc
        return proc

    def stop(self):
        e2e.Run.stop(self)
        self.x.stop()

    def touch(self, i, button=1, hold=0.08, settle=0.45):
        time.sleep(settle)
        x, y = target(i, self.width, self.height)
        with open(self.touch_file + ".new", "w") as f:
            f.write("%d %d %d %d\n" % (x, y, self.width, self.height))
        os.replace(self.touch_file + ".new", self.touch_file)
        e2e.xdotool("mousemove", self.left + x, y, "mousedown", button)
        time.sleep(hold)
        e2e.xdotool("mouseup", button)

    def screenshot(self, name):
        png = os.path.join(self.dir, name + ".png")
        xwd = subprocess.run(["xwd", "-root", "-silent"], capture_output=True, check=True).stdout
        subprocess.run(["/usr/bin/convert", "xwd:-", png], input=xwd, check=True)
        rgb = subprocess.run(["/usr/bin/convert", "xwd:-", "-depth", "8", "rgb:-"], input=xwd,
                             capture_output=True, check=True).stdout
        stride = len(rgb) // 3 // 768
        return lambda x, y: tuple(rgb[(y * stride + x) * 3:(y * stride + x) * 3 + 3])

    def wait_box(self, caption=None, timeout=20):
        """Waits for a question or message in the window; returns its buttons
        as (left, top, right, bottom) from left to right."""
        end = time.time() + timeout
        while time.time() < end:
            pixel = self.screenshot("box")
            column = self.left + self.width // 2
            if any(pixel(column, y) == CAPTION_BAR for y in range(0, self.height, 2)):
                return find_buttons(pixel, self.left, self.width, self.height)
            time.sleep(0.2)
        self.fail("no question or message within %d s" % timeout)
        raise Failed()

    def press(self, button_box):
        left, top, right, bottom = button_box
        e2e.xdotool("mousemove", (left + right) // 2, (top + bottom) // 2, "click", 1)


def find_buttons(pixel, left, width, height):
    """Boxes of the button colour, from their top row (above any label): runs
    of that colour over 40 pixels wide, which no text pixel makes."""
    for y in range(0, height, 2):
        if not any(pixel(left + x, y) == BUTTON for x in range(0, width, 4)):
            continue
        spans = []
        for x in range(left, left + width):
            if pixel(x, y) == BUTTON:
                if spans and x == spans[-1][1] + 1:
                    spans[-1][1] = x
                else:
                    spans.append([x, x])
        spans = [sp for sp in spans if sp[1] - sp[0] > 40]
        if spans:
            bottom = y
            while bottom + 1 < height and pixel(spans[0][0], bottom + 1) == BUTTON:
                bottom += 1
            return [(sp[0], y, sp[1], bottom) for sp in spans]
    return []


# Scenarios -----------------------------------------------------------------

def answer_yes_by_touch(run):
    buttons = run.wait_box()
    if run.equal(len(buttons), 2, "two buttons on the question"):
        run.press(buttons[0])


def full_calibration(panel, screenshot=False):
    def scenario(run):
        run.start()
        run.wait_cues(1)
        if screenshot:
            check_first_target(run)
        run.collect()
        answer_yes_by_touch(run)
        run.equal(run.exit_code(), 0, "exit code")
        run.equal(run.trace(), PASS_TRACE + COMMIT_TRACE, "transfers")
        points = run.raw_points()
        if not run.equal(len(points), 4, "touch reads with a packet"):
            return
        worst = check_committed(run, points)
        print("  panel %s: raw points %s, worst error %d device units" % (panel, points, worst))
        if panel == "straight":
            run.equal(points, STRAIGHT_POINTS, "the raw points of the Windows straight scenario")
            records = [e for e in run.events() if e.startswith(("Cx accept", "Cy accept"))]
            run.equal(records[-2:], STRAIGHT_RECORDS, "the records the Windows program commits for them")
    return scenario, ["panel " + panel]


def expected_target_pixels(cx, cy, r):
    """The circle's eight-way points and the cross, as the program draws them."""
    dark = set()
    x, y, d = 0, r, 3 - 2 * r
    offsets = []
    while x < y:
        offsets.append((x, y))
        if d < 0:
            d += 4 * x + 6
        else:
            d += 4 * (x - y) + 10
            y -= 1
        x += 1
    if x == y:
        offsets.append((x, y))
    for a, b in offsets:
        for px, py in ((a, b), (-a, b), (a, -b), (-a, -b), (b, a), (-b, a), (b, -a), (-b, -a)):
            dark.add((cx + px, cy + py))
    dark.update((cx + i, cy) for i in range(-r, r))
    dark.update((cx, cy + i) for i in range(-r, r))
    return dark


def check_first_target(run, radius=37):
    """The first target pixel for pixel (a display without a physical size:
    10 mm at 96 pixels per inch is 37 pixels), nothing at the other targets,
    the three lines on the first, third and fifth rows, centred."""
    time.sleep(0.3)
    pixel = run.screenshot("first-target")
    x, y = target(0, run.width, run.height)
    x += run.left
    want = expected_target_pixels(x, y, radius)
    wrong = [(px, py) for px in range(x - radius - 3, x + radius + 4)
             for py in range(y - radius - 3, y + radius + 4)
             if pixel(px, py) != ((0, 0, 0) if (px, py) in want else BACKGROUND)]
    run.equal(wrong[:5], [], "the first target pixel for pixel (%d wrong pixels)" % len(wrong))
    for i in (1, 2, 3):
        tx, ty = target(i, run.width, run.height)
        run.equal(pixel(run.left + tx, ty), BACKGROUND, "no cross at target %d yet" % i)
    text_rows = [yy for yy in range(0, y - radius - 4)
                 if any(pixel(run.left + xx, yy) != BACKGROUND for xx in range(run.width))]
    bands = []
    for yy in text_rows:
        if bands and yy == bands[-1][1] + 1:
            bands[-1][1] = yy
        else:
            bands.append([yy, yy])
    if run.equal(len(bands), 3, "three lines of text above the first target"):
        line = (bands[1][0] - bands[0][0]) // 2
        run.check(line > 8 and bands[2][0] - bands[1][0] == 2 * line,
                  "the lines on every second row (%s)" % bands)
        for top, bottom in bands:
            cols = [xx for xx in range(run.width)
                    if any(pixel(run.left + xx, yy) != BACKGROUND for yy in range(top, bottom + 1))]
            run.check(abs(cols[0] + cols[-1] - run.width) <= 3, "line at %d centred (%d..%d)" % (top, cols[0], cols[-1]))


def no_then_yes(run):
    run.start()
    run.collect()
    buttons = run.wait_box()
    if run.equal(len(buttons), 2, "two buttons on the question"):
        run.press(buttons[1])
    run.collect(first_cue=6)
    run.wait_box()
    e2e.xdotool("key", "Return")
    run.equal(run.exit_code(), 0, "exit code")
    run.equal(run.trace(), PASS_TRACE + PASS_TRACE + COMMIT_TRACE, "transfers: identity again, a new pass")
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
            e2e.xdotool("key", "Escape")
        elif how == "close":
            window = subprocess.run(["xdotool", "search", "--name", "^KelCalib$"], capture_output=True,
                                    text=True).stdout.split()
            if run.equal(len(window), 1, "one calibration window"):
                subprocess.run([OPTIONS.close_request, window[0]], check=True)
        else:
            run.proc.terminate()
        run.equal(run.exit_code(timeout=10), 0, "exit code")
        trace = run.trace()
        run.equal(trace[-1:], ["Rs"], "the abort command ends the transfers")
        run.equal(trace.count("Rs"), 1, "one abort command")
        run.check("CS" not in trace and "WC" not in trace, "nothing committed")
        run.equal(run.store_text(), None, "store untouched")
    return scenario


def no_controller(run):
    run.start()
    buttons = run.wait_box()
    if run.equal(len(buttons), 1, "one OK button"):
        run.press(buttons[0])
    run.equal(run.exit_code(timeout=10), 0, "exit code")
    run.equal(run.trace(), [], "no transfers")


def no_permission(run):
    """The controller's node refuses to open: the message names it, the reason
    and the udev rule."""
    run.extra_env = {"KELCALIB_VC_HIDRAW_DENY": "0"}
    no_controller(run)
    with open(os.path.join(run.dir, "stderr.txt")) as f:
        said = f.read()
    run.check("/dev/hidraw0" in said and "70-kelcalib.rules" in said,
              "the node and the udev rule named:\n" + said)


def identity_refused(run):
    run.start()
    buttons = run.wait_box(timeout=30)
    if run.equal(len(buttons), 1, "one OK button"):
        run.press(buttons[0])
    run.equal(run.exit_code(timeout=10), 0, "exit code")
    run.equal(run.trace(), ["Cx", "get"] * 8 + ["Cy", "get", "Rs"], "eight refused X records, Y, the abort")
    run.equal(run.cues(), 0, "no target cued")
    run.equal(run.store_text(), None, "store untouched")


def second_copy(run):
    run.start()
    run.wait_cues(1)
    before = run.trace()
    second = run.spawn()
    run.equal(run.exit_code(timeout=20, proc=second), 1, "exit code of the second copy")
    run.equal(run.trace(), before, "the second copy made no transfers")
    e2e.xdotool("key", "Escape")
    run.equal(run.exit_code(timeout=10), 0, "exit code of the first copy")


def buttons_and_debounce(run):
    run.start()
    run.wait_cues(1)
    run.touch(0, button=3)  # right button
    run.wait_cues(2)
    for step in range(20):
        e2e.xdotool("mousemove", 100 + 30 * step, 200 + 10 * step)
    e2e.xdotool("click", 4)
    run.touch(1, button=2)  # middle button
    run.wait_cues(3)
    run.touch(2)
    run.touch(2, settle=0.05)  # a double tap: the second release is dropped
    run.wait_cues(4)
    time.sleep(0.5)
    run.equal(run.cues(), 4, "one target further for a double tap")
    run.touch(3)
    run.wait_cues(5)
    run.wait_box()
    e2e.xdotool("key", "Return")
    run.equal(run.exit_code(), 0, "exit code")
    run.equal(run.trace(), PASS_TRACE + COMMIT_TRACE, "one read per accepted release, none for anything else")


def second_display(run):
    """Display 1 of two monitors: targets there only, records as on one screen."""
    run.args = ["--display", "1"]
    run.start()
    run.wait_cues(1)
    check_first_target(run)
    pixel = run.screenshot("left-monitor")
    left = [pixel(x, y) for x in range(0, 800, 16) for y in range(0, 600, 16)]
    run.check(all(p == (0, 0, 0) for p in left), "nothing drawn on display 0")
    run.collect()
    answer_yes_by_touch(run)
    run.equal(run.exit_code(), 0, "exit code")
    points = run.raw_points()
    if run.equal(points, STRAIGHT_POINTS, "the raw points of one 1024 x 768 screen"):
        check_committed(run, points)


def options(run):
    """Help, version, the display list, and bad options: exit 2 with one line."""
    env = run.x.env({"ASAN_OPTIONS": "detect_leaks=0"})
    call = lambda *args: subprocess.run([OPTIONS.exe] + list(args), env=env, capture_output=True, text=True,
                                        timeout=20)
    for args in (["--help"], ["--version"], ["--list-displays"]):
        done = call(*args)
        run.equal(done.returncode, 0, "exit code of %s" % args)
        run.check(done.stdout.strip() != "", "%s prints something" % args)
    run.check(call("--list-displays").stdout.startswith("0: 1024x768 at 0,0 (primary)"), "display 0 listed")
    for args in (["--bogus"], ["--display"], ["--display", "x"], ["--display", "-1"], ["--display", "1"]):
        done = call(*args)
        run.equal(done.returncode, 2, "exit code of %s" % args)
        run.equal(len(done.stderr.strip().splitlines()), 1, "one line for %s: %r" % (args, done.stderr))
    run.equal(run.trace(), [], "no transfers")


SCENARIOS = {
    "options": options,
    "straight": full_calibration("straight", screenshot=True),
    "mirrored": full_calibration("mirrored"),
    "swapped": full_calibration("swapped"),
    "no_then_yes": no_then_yes,
    "escape": abandon("esc"),
    "close_request": abandon("close"),
    "sigterm": abandon("sigterm"),
    "no_controller": (no_controller, None),
    "no_permission": no_permission,
    "identity_refused": (identity_refused, ["fault reject 8"]),
    "second_copy": second_copy,
    "buttons_debounce": buttons_and_debounce,
    "second_display": (second_display, ["panel straight"]),
}


def run_scenario(name):
    entry = SCENARIOS[name]
    if callable(entry):
        entry = (entry, [])
    function, lines = entry
    two_monitors = name == "second_display"
    if two_monitors and os.geteuid() != 0:
        print("%s: SKIPPED: Xorg with the dummy driver runs as root only" % name)
        return None
    try:
        run = LinuxRun(name, lines or [], devices=lines is not None, two_monitors=two_monitors)
    except RuntimeError as error:
        print("%s: FAIL: %s" % (name, error))
        return False
    print("%s (%s):" % (name, run.x.display))
    started = time.time()
    try:
        function(run)
    except Failed:
        pass
    finally:
        run.stop()
    print("  %.1f s" % (time.time() - started))
    if run.failures:
        print("  kept %s" % run.dir)
        return False
    shutil.rmtree(run.dir, ignore_errors=True)
    return True


def main():
    global OPTIONS
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--exe", help="kelcalib")
    parser.add_argument("--preload", help="LD_PRELOAD value that loads the hidraw interposer")
    parser.add_argument("--solve", help="calib-solve")
    parser.add_argument("--close-request", help="close-request")
    parser.add_argument("--list", action="store_true", help="list the scenarios")
    parser.add_argument("scenarios", nargs="*")
    OPTIONS = parser.parse_args()
    e2e.OPTIONS = OPTIONS
    if OPTIONS.list:
        print("\n".join(SCENARIOS))
        return 0
    if not (OPTIONS.exe and OPTIONS.preload and OPTIONS.solve and OPTIONS.close_request):
        parser.error("--exe, --preload, --solve and --close-request are required")
    unknown = [s for s in OPTIONS.scenarios if s not in SCENARIOS]
    if unknown:
        parser.error("unknown scenario %s (--list names them)" % ", ".join(unknown))
    results = [run_scenario(s) for s in OPTIONS.scenarios or list(SCENARIOS)]
    if False in results:
        return 1
    return 77 if None in results else 0


OPTIONS = None
if __name__ == "__main__":
    sys.exit(main())
