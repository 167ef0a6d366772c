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
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import e2e  # noqa: E402  (the Windows scenarios' log parsing, solve and checks)
import linux_run  # noqa: E402
import persist_scenarios  # noqa: E402
import screens_and_controllers  # noqa: E402
import ways_out  # noqa: E402
from calibration_scenarios import abandon_by, coincident_touches, second_copy  # noqa: E402
from e2e import (COMMIT_TRACE, PASS_TRACE, REJECT_EVERY_SEND, SENDS, STRAIGHT_POINTS, STRAIGHT_RECORDS,  # noqa: E402
                 check_committed)
from linux_run import EXIT, LinuxRun, check_first_target  # noqa: E402


# Scenarios -----------------------------------------------------------------

def answer_yes_by_touch(run):
    buttons = run.wait_box()
    if run.equal(len(buttons), 2, "two buttons on the question"):
        run.press(buttons[0])


def full_calibration(panel, screenshot=False, layout=None, logical_max=32767):
    def scenario(run):
        run.start()
        run.wait_cues(1)
        if screenshot:
            check_first_target(run)
        run.collect()
        answer_yes_by_touch(run)
        run.equal(run.exit_code(), EXIT["ok"], "exit code")
        run.equal(run.trace(), PASS_TRACE + COMMIT_TRACE, "transfers")
        points = run.raw_points()
        if not run.equal(len(points), 4, "touch reads with a packet"):
            return
        worst = check_committed(run, points, logical_max=logical_max)
        print("  panel %s: raw points %s, worst error %d device units" % (panel, points, worst))
        if panel == "straight":
            run.equal(points, STRAIGHT_POINTS, "the raw points of the Windows straight scenarios")
            records = [e for e in run.events() if e.startswith(("Cx accept", "Cy accept"))]
            run.equal(records[-2:], STRAIGHT_RECORDS, "the records the Windows program commits for them")
    return scenario, ["panel " + panel] + (["layout " + layout] if layout else [])


def no_then_yes(run):
    run.start()
    run.collect()
    buttons = run.wait_box()
    if run.equal(len(buttons), 2, "two buttons on the question"):
        run.press(buttons[1])
    run.collect(first_cue=6)
    run.wait_box()
    e2e.xdotool("key", "Return")
    run.equal(run.exit_code(), EXIT["ok"], "exit code")
    run.equal(run.trace(), PASS_TRACE + PASS_TRACE + COMMIT_TRACE, "transfers: identity again, a new pass")
    points = run.raw_points()
    if run.equal(len(points), 8, "touch reads"):
        check_committed(run, points[4:], "second pass: ")


def abandon(how):
    """Esc, a close request, SIGHUP or SIGTERM."""
    def leave(run):
        if how == "esc":
            e2e.xdotool("key", "Escape")
        elif how == "close":
            window = subprocess.run(["xdotool", "search", "--name", "^KelCalib$"], capture_output=True,
                                    text=True).stdout.split()
            if run.equal(len(window), 1, "one calibration window"):
                subprocess.run([OPTIONS.close_request, window[0]], check=True)
        elif how == "sighup":
            run.proc.send_signal(signal.SIGHUP)
        else:
            run.proc.terminate()
    return abandon_by(leave)


def input_during_transfers(run):
    """Every transfer slowed to 150 ms: a click while the identity records go
    out is not point 0 (the finger is on target 0), and Return while the
    coefficients go out is not Yes to the question not yet shown."""
    run.start()
    run.wait_for("the identity X record", lambda: run.sets() >= 1)
    x, y = e2e.target(0, run.width, run.height)
    with open(run.touch_file, "w") as f:
        f.write("%d %d %d %d\n" % (x, y, run.width, run.height))
    e2e.xdotool("mousemove", x, y, "click", 1)
    run.wait_cues(1)
    time.sleep(1.5)
    run.equal(run.trace(), ["Cx", "get", "Cy", "get", "Q"], "no read for the click during the identity records")
    run.collect()
    run.wait_for("the X record", lambda: run.trace().count("Cx") >= 2)
    e2e.xdotool("key", "Return")
    time.sleep(3.0)  # the Y record, the question shown and 1 s more
    trace = run.trace()
    if not run.check("CS" not in trace, "Return during the records answered nothing: %s" % trace[-8:]):
        return
    buttons = run.wait_box()
    if run.equal(len(buttons), 2, "two buttons on the question"):
        run.press(buttons[0])
    run.equal(run.exit_code(), EXIT["ok"], "exit code")
    run.equal(run.trace(), PASS_TRACE + COMMIT_TRACE, "transfers")


def escape_during_transfers(run):
    """Every transfer slowed to 150 ms: Esc pressed while the identity
    records go out is no answer to drop; it ends the calibration once the
    first target is up."""
    run.start()
    run.wait_for("the identity X record", lambda: run.sets() >= 1)
    e2e.xdotool("key", "Escape")
    run.equal(run.exit_code(timeout=10), EXIT["abandoned"], "exit code")
    run.equal(run.trace(), ["Cx", "get", "Cy", "get", "Q", "Rs"], "identity, the cue, the abort command")


def wayland(run):
    """SDL's Wayland driver on weston (its X11 backend in this Xvfb, the kiosk
    shell): the pointer path only, xdotool's clicks reaching the Wayland
    client as mouse events from weston's seat; after Yes the advice names
    the output as weston does."""
    run.on_wayland("x11")
    run.start()
    run.wait_cues(1)
    run.collect()
    answer_yes_by_touch(run)
    run.equal(run.exit_code(), EXIT["ok"], "exit code")
    run.equal(run.trace(), PASS_TRACE + COMMIT_TRACE, "transfers")
    points = run.raw_points()
    if run.equal(points, STRAIGHT_POINTS, "the raw points of the 1024 x 768 output"):
        check_committed(run, points)
    # weston names its output screen0 (SDL: the make and model).
    run.check('ENV{WL_OUTPUT}="screen0"' in run.output(), "the advice names weston's output:\n" + run.output())


def wayland_without_seat(run):
    """A compositor without a seat (weston's headless backend): the program
    uses the X display instead; without one it ends with one line."""
    run.on_wayland("headless")
    run.start()
    run.wait_cues(1)
    window = subprocess.run(["xdotool", "search", "--name", "^KelCalib$"], capture_output=True,
                            text=True).stdout.split()
    run.equal(len(window), 1, "the calibration window on the X display")
    time.sleep(0.5)  # the window mapped and focused
    e2e.xdotool("key", "Escape")
    run.equal(run.exit_code(timeout=10), EXIT["abandoned"], "exit code")
    env = run.x.env({"ASAN_OPTIONS": "detect_leaks=0", "KELCALIB_VC_CONFIG": run.conf,
                     "LD_PRELOAD": OPTIONS.preload})
    env.update(run.extra_env)
    del env["DISPLAY"]
    done = subprocess.run([OPTIONS.exe], env=env, capture_output=True, text=True, timeout=20)
    run.equal(done.returncode, EXIT["cannot_start"], "exit code without an X display")
    run.check(len(done.stderr.strip().splitlines()) == 1 and "no seat" in done.stderr,
              "one line naming the missing seat: %r" % done.stderr)


def no_controller(run, status="no_controller"):
    run.start()
    buttons = run.wait_box()
    if run.equal(len(buttons), 1, "one OK button"):
        run.press(buttons[0])
    run.equal(run.exit_code(timeout=10), EXIT[status], "exit code")
    run.equal(run.trace(), [], "no transfers")


def no_permission(run):
    """The controller's node refuses to open: the message names it, the reason
    and the udev rule."""
    run.extra_env = {"KELCALIB_VC_HIDRAW_DENY": "0"}
    no_controller(run, "not_permitted")
    with open(os.path.join(run.dir, "stderr.txt")) as f:
        said = f.read()
    run.check("/dev/hidraw0" in said and "70-kelcalib.rules" in said,
              "the node and the udev rule named:\n" + said)


def identity_refused(run):
    run.start()
    buttons = run.wait_box(timeout=30)
    if run.equal(len(buttons), 1, "one OK button"):
        run.press(buttons[0])
    run.equal(run.exit_code(timeout=10), EXIT["refused"], "exit code")
    run.equal(run.trace(), ["Cx", "get"] * SENDS + ["Cy", "get", "Rs"], "every X record refused, Y, the abort")
    run.equal(run.cues(), 0, "no target cued")
    run.equal(run.store_text(), None, "store untouched")


def commit_refused(run):
    """Yes, and the controller refuses CS: the same transfers as on Windows
    (every CS refused, no WC, nothing after), the refusal's own status and line."""
    run.start()
    run.collect()
    run.wait_box()
    e2e.xdotool("key", "Return")
    run.equal(run.exit_code(timeout=20), EXIT["refused"], "exit code")
    run.equal(run.trace(), PASS_TRACE + ["CS", "get"] * SENDS, "every CS refused, no WC")
    run.equal(run.store_text(), None, "store untouched")
    run.check("did not accept the commit" in run.output("stderr.txt"), "the refusal said")


def with_args(args, scenario):
    def run_with(run):
        run.args = args
        scenario(run)
    return run_with


def misclick(run):
    """Target 2 touched 200 px below it: no records, the pass starts again
    saying so above the first target; the good pass after it commits
    calib-solve's records for its own points."""
    run.start()
    for i in range(4):
        run.wait_cues(i + 1)
        run.touch(i, off=(0, 200) if i == 2 else (0, 0))
    run.wait_cues(6)
    run.equal(run.trace(), PASS_TRACE[:-4] + ["Cx", "get", "Cy", "get", "Q"],
              "no records: identity and the first target again")
    time.sleep(0.3)
    pixel = run.screenshot("misclick")
    rows = [y for y in range(0, 110) if any(pixel(x, y) != linux_run.BACKGROUND for x in range(run.width))]
    run.equal(len(e2e.row_bands(rows)), 4, "the note said as a fourth line above the first target")
    run.collect(first_cue=6)
    run.wait_box()
    e2e.xdotool("key", "Return")
    run.equal(run.exit_code(), EXIT["ok"], "exit code")
    points = run.raw_points()
    if run.equal(len(points), 8, "touch reads"):
        check_committed(run, points[4:], "second pass: ")


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
    run.double_tap(2)  # the second release is dropped
    run.wait_cues(4)
    time.sleep(0.5)
    run.equal(run.cues(), 4, "one target further for a double tap")
    run.touch(3)
    run.wait_cues(5)
    run.wait_box()
    e2e.xdotool("key", "Return")
    run.equal(run.exit_code(), EXIT["ok"], "exit code")
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
    run.equal(run.exit_code(), EXIT["ok"], "exit code")
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
    for args in (["--bogus"], ["--display"], ["--display", "x"], ["--display", "-1"], ["--display", "1"],
                 ["--vid", "12345"], ["--vid", "0xg"], ["--misclick", "-1"], ["--identify", "--misclick", "0"]):
        done = call(*args)
        run.equal(done.returncode, EXIT["bad_option"], "exit code of %s" % args)
        run.equal(len(done.stderr.strip().splitlines()), 1, "one line for %s: %r" % (args, done.stderr))
    run.equal(run.trace(), [], "no transfers")


SCENARIOS = {
    "options": options,
    # The controller's default layout: the protocol's feature report in a
    # vendor collection without X or Y beside the touch screen's (0x7FFF).
    "straight": full_calibration("straight", screenshot=True),
    # One vendor collection, its X and Y read (32767): the same records, as
    # the Windows scenario full_straight_vendor_layout commits.
    "straight_vendor_layout": full_calibration("straight", layout="vendor"),
    # 0..0xFFFF written in two bytes reads as -1, so 0x7FFF, as on Windows
    # (the Windows scenario logical_max_ffff): the straight records again.
    "straight_two_byte_ffff": (full_calibration("straight")[0],
                               ["panel straight", "layout vendor", "value-caps 2 65535 65535",
                                "logical-max-bytes 2"]),
    # Logical maxima that are not the default, on the collection that holds
    # both them and the protocol: the records solved for 4095 (the Windows
    # scenario logical_max_4095), on a mirrored panel: negative factors end
    # to end (the solve on every kind of panel is tests/calib's).
    "logical_max_4095": (full_calibration("mirrored", logical_max=4095)[0],
                         ["panel mirrored", "layout vendor", "value-caps 2 4095 2047"]),
    "no_then_yes": no_then_yes,
    "misclick": (misclick, ["panel straight"]),
    # A controller of another vendor ID than the build's, chosen with --vid.
    "vendor_id": (with_args(["--vid", "0x1234"], full_calibration("straight")[0]),
                  ["panel straight", "vendor-id 0x1234"]),
    "coincident_touches": coincident_touches,
    "escape": abandon("esc"),
    "close_request": abandon("close"),
    "sigterm": abandon("sigterm"),
    "sighup": abandon("sighup"),
    "input_during_transfers": (input_during_transfers, ["fault slow 150"]),
    "escape_during_transfers": (escape_during_transfers, ["fault slow 150"]),
    "no_controller": (no_controller, None),
    "no_permission": no_permission,
    "identity_refused": (identity_refused, [REJECT_EVERY_SEND]),
    "commit_refused": (commit_refused, [REJECT_EVERY_SEND + " after-accepts 4"]),
    "second_copy": second_copy,
    "buttons_debounce": buttons_and_debounce,
    "second_display": (second_display, ["panel straight"]),
    "wayland": (wayland, ["panel straight"]),
    "wayland_without_seat": wayland_without_seat,
}
SCENARIOS.update(screens_and_controllers.SCENARIOS)
SCENARIOS.update(ways_out.SCENARIOS)
SCENARIOS.update(persist_scenarios.SCENARIOS)
TWO_MONITORS = (screens_and_controllers.TWO_MONITORS | persist_scenarios.TWO_MONITORS
                | ways_out.TWO_MONITORS)


def run_scenario(name):
    entry = SCENARIOS[name]
    if callable(entry):
        entry = (entry, [])
    function, lines = entry
    two_monitors = name == "second_display" or name in TWO_MONITORS
    if two_monitors and os.geteuid() != 0:
        print("%s: SKIPPED: Xorg with the dummy driver runs as root only" % name)
        return None
    try:
        run = LinuxRun(name, lines or [], devices=lines is not None, two_monitors=two_monitors,
                       rotated=name in screens_and_controllers.ROTATED,
                       two_screens=name in persist_scenarios.TWO_SCREENS)
    except RuntimeError as error:
        print("%s: FAIL: %s" % (name, error))
        return False
    return e2e.play(run, function, "%s (%s)" % (name, run.x.display))


def main():
    global OPTIONS
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--exe", help="kelcalib")
    parser.add_argument("--preload", help="LD_PRELOAD value that loads the hidraw interposer")
    parser.add_argument("--solve", help="calib-solve")
    parser.add_argument("--close-request", help="close-request")
    parser.add_argument("--x-props", help="x-input-props")
    parser.add_argument("--ctl", help="kelcalib-ctl (doctor after a session that was killed)")
    parser.add_argument("--relist-shim", help="relist_shim.c's library (another set of nodes at the second look)")
    parser.add_argument("--list", action="store_true", help="list the scenarios")
    parser.add_argument("scenarios", nargs="*")
    OPTIONS = parser.parse_args()
    e2e.OPTIONS = OPTIONS
    linux_run.OPTIONS = OPTIONS
    if OPTIONS.list:
        print("\n".join(SCENARIOS))
        return 0
    if not (OPTIONS.exe and OPTIONS.preload and OPTIONS.solve and OPTIONS.close_request and OPTIONS.x_props
            and OPTIONS.ctl and OPTIONS.relist_shim):
        parser.error("--exe, --preload, --solve, --close-request, --x-props, --ctl and --relist-shim are required")
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
