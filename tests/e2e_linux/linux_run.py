"""The Linux scenarios' harness: one start of the program in its own X
server, its screen read back through xwd, its buttons found by colour, and
the first target checked pixel for pixel."""
import os
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import e2e  # noqa: E402  (the Windows scenarios' log parsing, solve and checks)
import xserver  # noqa: E402
from e2e import Failed, row_bands, target  # noqa: E402

BACKGROUND = (200, 200, 200)
CAPTION_BAR = (60, 60, 60)
BUTTON = (225, 225, 225)
OPTIONS = None  # set by e2e_linux.py: exe, preload, solve, close_request
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def exit_statuses():
    """The program's exit statuses as its header names them: kExitNoController
    is EXIT["no_controller"]."""
    with open(os.path.join(ROOT, "app", "exit_status_linux.h")) as f:
        pairs = re.findall(r"constexpr int kExit(\w+) = (\d+);", f.read())
    return {re.sub(r"(?<!^)([A-Z])", r"_\1", name).lower(): int(value) for name, value in pairs}


EXIT = exit_statuses()


class LinuxRun(e2e.Run):
    """One start of the Linux program in its own X server."""

    EXIT = EXIT

    # The controller whose log entries entries() reads (its index in the config).
    watched = 0

    def __init__(self, name, controller_lines, devices=True, two_monitors=False, rotated=False,
                 two_screens=False):
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
        self.weston = None
        if rotated:
            self.x = xserver.start_rotated()
        elif two_screens:
            self.x = xserver.start_xvfb(more_screens=[(800, 600)])
        else:
            self.x = xserver.start_two_monitors() if two_monitors else xserver.start_xvfb()
        os.environ["DISPLAY"] = self.x.display
        self.width, self.height = (768, 1024) if rotated else (1024, 768)
        self.root_height = self.height  # rows of a screenshot of the root window
        self.left = 800 if two_monitors else 0  # where the program's display starts
        lines = ["log-file " + self.log]
        if devices:
            # "{dir}" in a line stands for the run's folder (a second store).
            lines += ["controller", "store " + self.store] + [l.format(dir=self.dir) for l in controller_lines]
        with open(self.conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        open(self.log, "w").close()

    def spawn(self):
        env = self.x.env({"KELCALIB_VC_CONFIG": self.conf, "ASAN_OPTIONS": "detect_leaks=0",
                          "LD_PRELOAD": OPTIONS.preload, "KELCALIB_VC_TOUCH_FILE": self.touch_file})
        env.update(self.extra_env)
        err = open(os.path.join(self.dir, "stderr.txt"), "ab")
        out = open(os.path.join(self.dir, "stdout.txt"), "ab")
        proc = subprocess.Popen([OPTIONS.exe] + self.args, env=env, stdout=out, stderr=err)
        if self.proc is None:
            self.proc = proc
        return proc

    def stop(self):
        e2e.Run.stop(self)
        if self.weston is not None:
            xserver.stop_process(self.weston)
        self.x.stop()

    def entries(self):
        with open(self.log) as f:
            words = [line.split(None, 2) for line in f.read().splitlines()]
        return e2e.parse_log("\n".join("%s 0 %s" % (w[0], w[2]) for w in words
                                       if len(w) == 3 and w[1] == str(self.watched)))

    def output(self, name="stdout.txt"):
        with open(os.path.join(self.dir, name)) as f:
            return f.read()

    def on_wayland(self, backend):
        """The program on a weston of `backend` in this X server."""
        self.weston = xserver.start_weston(self.x, backend)
        self.extra_env.update({"SDL_VIDEODRIVER": "wayland", "WAYLAND_DISPLAY": "kelcalib-wl"})

    def finger_at(self, i, off=(0, 0)):
        """The finger on target i (`off` pixels beside it), written to the
        interposer's touch file; returns the pointer's position there."""
        x, y = target(i, self.width, self.height)
        x, y = x + off[0], y + off[1]
        with open(self.touch_file + ".new", "w") as f:
            f.write("%d %d %d %d\n" % (x, y, self.width, self.height))
        os.replace(self.touch_file + ".new", self.touch_file)
        return self.left + x, y

    def touch(self, i, button=1, hold=0.08, settle=0.45, off=(0, 0)):
        """A touch on target i (`off` pixels beside it)."""
        time.sleep(settle)
        x, y = self.finger_at(i, off)
        e2e.xdotool("mousemove", x, y, "mousedown", button)
        time.sleep(hold)
        e2e.xdotool("mouseup", button)

    def screenshot(self, name):
        png = os.path.join(self.dir, name + ".png")
        # xwd walks the windows on the screen; one closed meanwhile (the
        # program moving to another display) fails that picture only.
        for attempt in range(5):
            done = subprocess.run(["xwd", "-root", "-silent"], capture_output=True)
            if done.returncode == 0:
                break
            time.sleep(0.1)
        if done.returncode != 0:
            raise subprocess.CalledProcessError(done.returncode, "xwd", done.stdout, done.stderr)
        xwd = done.stdout
        subprocess.run(["/usr/bin/convert", "xwd:-", png], input=xwd, check=True)
        rgb = subprocess.run(["/usr/bin/convert", "xwd:-", "-depth", "8", "rgb:-"], input=xwd,
                             capture_output=True, check=True).stdout
        stride = len(rgb) // 3 // self.root_height
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
    bands = row_bands(text_rows)
    if run.equal(len(bands), 3, "three lines of text above the first target"):
        line = (bands[1][0] - bands[0][0]) // 2
        run.check(line > 8 and bands[2][0] - bands[1][0] == 2 * line,
                  "the lines on every second row (%s)" % bands)
        for top, bottom in bands:
            cols = [xx for xx in range(run.width)
                    if any(pixel(run.left + xx, yy) != BACKGROUND for yy in range(top, bottom + 1))]
            run.check(abs(cols[0] + cols[-1] - run.width) <= 3, "line at %d centred (%d..%d)" % (top, cols[0], cols[-1]))
