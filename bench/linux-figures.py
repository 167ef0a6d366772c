#!/usr/bin/env python3
"""Figures of whole calibrations of the Linux program in Xvfb against a
virtual controller that answers at once, presented by the hidraw interposer
(bench preset: optimised, no sanitizers), driven by xdotool.

    bench/linux-figures.py [RUNS]      (default 5)

Prints medians over the runs of: start to first window frame; start to first
target, fourth touch to question, Yes to exit, each against the waits the
command protocol itself mandates in that stretch (its floor). Times come from
polling the controller's log every millisecond; the question is taken to
show 100 ms after the Y record's reply was read (the handshake's last wait),
and a touch from just before xdotool is started. A benchmark, not a test:
nothing here asserts a time.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e_linux"))
import xserver  # noqa: E402

EXE = os.path.join(ROOT, "build", "bench", "app", "kelcalib")
PRELOAD = os.path.join(ROOT, "build", "bench", "virtual-controller-hidraw", "libkelcalib-vc-hidraw.so")
W, H = 1024, 768
TARGETS = [(W // 5, H // 5), (4 * W // 5, 4 * H // 5), (4 * W // 5, H // 5), (W // 5, 4 * H // 5)]


def count(log, text):
    with open(log) as f:
        return f.read().count(text)


def wait_count(log, text, n, proc, limit=30.0):
    end = time.monotonic() + limit
    while count(log, text) < n:
        if proc.poll() is not None or time.monotonic() > end:
            raise RuntimeError("waiting for %d x '%s': program ended or timed out" % (n, text))
        time.sleep(0.001)
    return time.monotonic()


def y_record_polled(log, proc, limit=30.0):
    """When the reply to the solved Y record was read: the question follows
    after the handshake's last 100 ms wait."""
    end = time.monotonic() + limit
    while True:
        with open(log) as f:
            lines = f.read().splitlines()
        marks = [i for i, line in enumerate(lines) if "EVENT Cy accept" in line]
        if len(marks) >= 2 and any(" GET " in line for line in lines[marks[1]:]):
            return time.monotonic() + 0.1
        if proc.poll() is not None or time.monotonic() > end:
            raise RuntimeError("waiting for the Y record's reply: program ended or timed out")
        time.sleep(0.001)


def window_shown(env, proc, limit=10.0):
    end = time.monotonic() + limit
    while time.monotonic() < end and proc.poll() is None:
        ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^KelCalib$"], env=env,
                             capture_output=True, text=True).stdout.split()
        if ids:
            return time.monotonic()
        time.sleep(0.002)
    raise RuntimeError("no window")


def one_run(server, work, with_window):
    log = os.path.join(work, "controller.log")
    conf = os.path.join(work, "controller.conf")
    open(log, "w").close()
    with open(conf, "w") as f:
        f.write("log-file %s\ncontroller\npanel straight\n" % log)
    touch = os.path.join(work, "touch")
    env = server.env({"KELCALIB_VC_CONFIG": conf, "LD_PRELOAD": PRELOAD, "KELCALIB_VC_TOUCH_FILE": touch})
    t0 = time.monotonic()
    proc = subprocess.Popen([EXE], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shown = window_shown(env, proc) - t0 if with_window else None
    first = wait_count(log, "EVENT Q cue", 1, proc) - t0
    for i, (x, y) in enumerate(TARGETS):
        wait_count(log, "EVENT Q cue", i + 1, proc)
        time.sleep(0.35)
        with open(touch, "w") as f:
            f.write("%d %d %d %d\n" % (x, y, W, H))
        subprocess.run(["xdotool", "mousemove", str(x), str(y)], env=env, check=True)
        touched = time.monotonic()
        subprocess.run(["xdotool", "click", "1"], env=env, check=True)
    question = y_record_polled(log, proc) - touched
    time.sleep(0.3)
    subprocess.run(["xdotool", "key", "Return"], env=env, check=True)
    answered = time.monotonic()
    proc.wait(timeout=30)
    return shown, first, question, time.monotonic() - answered


def main():
    if len(sys.argv) > 1 and sys.argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return
    if len(sys.argv) > 2 or (len(sys.argv) > 1 and not sys.argv[1].isdigit()):
        sys.exit("linux-figures: takes one argument, RUNS (see --help)")
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    if runs < 1:
        sys.exit("linux-figures: RUNS is a whole number above 0")
    subprocess.run(["cmake", "--preset", "bench"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "bench", "--target", "kelcalib", "kelcalib-vc-hidraw"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    server = xserver.start_xvfb(W, H)
    work = tempfile.mkdtemp(prefix="kelcalib-bench.")
    try:
        # Window frames on separate runs: polling xdotool would load the
        # machine during the others.
        shown = [one_run(server, work, True)[0] for _ in range(runs)]
        results = [one_run(server, work, False) for _ in range(runs)]
    finally:
        server.stop()
        subprocess.run(["rm", "-rf", work])
    med = lambda values: statistics.median(values) * 1000
    print("Medians of %d runs, ms (floor: the protocol's own waits):" % runs)
    print("| stretch | measured | floor | ratio |")
    print("|---|---|---|---|")
    print("| start to window shown | %.0f ms | - | - |" % med(shown))
    rows = (("start to first target", 0, 400, "identity X and Y"),
            ("fourth touch to question", 1, 450, "cue, X and Y records"),
            ("Yes to exit", 2, 400, "CS and WC"))
    for name, index, floor, what in rows:
        value = med([r[index + 1] for r in results])
        print("| %s | %.0f ms | %d ms (%s) | %.2f |" % (name, value, floor, what, value / floor))
    size = os.path.getsize(os.path.join(ROOT, "build", "release-linux", "app", "kelcalib")) \
        if os.path.exists(os.path.join(ROOT, "build", "release-linux", "app", "kelcalib")) else None
    if size:
        print("release kelcalib (./package --deb): %d bytes stripped" % size)


if __name__ == "__main__":
    main()
