"""Every way a Linux session can end early, one table: the moment, how the
session is left, and the exit status. In each the abort command is the last
transfer (the controller unplugged: nothing is sent after the transfer that
found it gone), nothing is committed, and one line on stderr says why. Played
by e2e_linux.py, whose SCENARIOS take these in; TWO_MONITORS names the one
that needs Xorg's two monitors."""
import os
import signal
import subprocess
import time

import e2e
import linux_run
from linux_run import EXIT


# Moments ---------------------------------------------------------------------

def at_identity(run):
    """The identity X record is going out (every transfer slowed)."""
    run.start()
    run.wait_for("the identity X record", lambda: run.sets() >= 1)


def at_refused_identity(run):
    """The controller has refused the identity X record twice."""
    run.start()
    run.wait_for("two refused identity records", lambda: run.trace().count("Cx") >= 2)


def after_first_touch(run):
    run.start()
    run.wait_cues(1)
    run.touch(0)
    run.wait_cues(2)
    time.sleep(0.3)


def after_fourth_touch(run):
    """The fourth point is read: WM_CALIB_NEXT and WM_CALIB_SOLVE are queued."""
    run.start()
    for i in range(4):
        run.wait_cues(i + 1)
        run.touch(i)
    run.wait_for("the fourth point read", lambda: len(run.raw_points()) >= 4)


def at_records(run):
    """The solved X record is going out (every transfer slowed)."""
    after_fourth_touch(run)
    run.wait_for("the solved X record", lambda: run.trace().count("Cx") >= 2)


def at_question(run):
    after_fourth_touch(run)
    run.wait_box()


# Ways out --------------------------------------------------------------------

def send(signal_number):
    return lambda run: run.proc.send_signal(signal_number)


def close_request(run):
    window = subprocess.run(["xdotool", "search", "--name", "^KelCalib$"], capture_output=True,
                            text=True).stdout.split()
    if run.equal(len(window), 1, "one calibration window"):
        subprocess.run([linux_run.OPTIONS.close_request, window[0]], check=True)


def escape(run):
    e2e.xdotool("key", "Escape")


def kill_x_server(run):
    run.x.proc.kill()
    run.x.proc.wait()


def on_display_1(moment):
    def reach(run):
        run.args = ["--display", "1"]
        moment(run)
    return reach


def on_wayland(moment):
    def reach(run):
        run.on_wayland("x11")
        moment(run)
    return reach


def kill_compositor(run):
    run.weston.kill()
    run.weston.wait()


def remove_display(run):
    subprocess.run(["xrandr", "--output", "DUMMY1", "--off"], env=run.x.env(), check=True)


def left_by(moment, leave, status="abandoned", said="abandoned", unsent=()):
    """`unsent`: commands that must not go out once the session is left."""
    def scenario(run):
        moment(run)
        leave(run)
        got = run.exit_code(timeout=10)
        run.equal(got, EXIT[status] if isinstance(status, str) else status, "exit status")
        trace = run.trace()
        run.equal((trace[-1:], trace.count("Rs")), (["Rs"], 1), "one abort command, the last transfer")
        run.check("CS" not in trace and run.store_text() is None, "nothing committed: %s" % trace[-6:])
        for command in unsent:
            run.check(command not in trace, "no %s after the session was left: %s" % (command, trace))
        err = run.output("stderr.txt")
        run.check(said in err, "stderr says %r:\n%s" % (said, err))
    return scenario


def unplugged(run):
    """The controller gone after the second target's cue (the kernel says
    ENODEV): the no-controller message at once, no retries, nothing sent."""
    run.start()
    run.wait_cues(1)
    run.touch(0)
    run.wait_cues(2)
    run.touch(1)
    buttons = run.wait_box()
    trace = run.trace()
    run.equal(trace[-1:], ["!get"], "the touch's read found it gone")
    run.equal(trace.count("!get") + trace.count("!Q") + trace.count("!Rs"), 1, "one failed transfer, none retried")
    if run.equal(len(buttons), 1, "the no-controller message"):
        run.press(buttons[0])
    run.equal(run.exit_code(timeout=10), EXIT["no_controller"], "exit status")
    run.equal(run.trace(), trace, "nothing sent after the message")
    run.check("Can not open" in run.output("stderr.txt"), "stderr names it")


def no_display(run):
    """Neither DISPLAY nor WAYLAND_DISPLAY, and no console display: one line,
    exit 1, and the controller untouched."""
    env = run.x.env({"ASAN_OPTIONS": "detect_leaks=0", "KELCALIB_VC_CONFIG": run.conf,
                     "LD_PRELOAD": linux_run.OPTIONS.preload})
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"):
        env.pop(name, None)
    for args in ([], ["--list-displays"], ["--identify"]):
        done = subprocess.run([linux_run.OPTIONS.exe] + args, env=env, capture_output=True, text=True, timeout=20)
        run.equal(done.returncode, EXIT["cannot_start"], "exit status of %s" % args)
        run.equal(done.stderr.strip().splitlines(),
                  ["kelcalib: no display: set DISPLAY or WAYLAND_DISPLAY, or run on the console"],
                  "one line for %s" % args)
        run.equal(done.stdout, "", "nothing listed for %s" % args)
    run.equal(run.trace(), [], "no transfers")


SLOW = ["fault slow 150"]
SCENARIOS = {
    # The handshake in progress stops: the Y record never goes out.
    "sighup_at_identity": (left_by(at_identity, send(signal.SIGHUP), unsent=["Cy"]), SLOW),
    "sighup_at_refused_identity": (left_by(at_refused_identity, send(signal.SIGHUP), unsent=["Cy"]),
                                   [e2e.REJECT_EVERY_SEND]),
    "sighup_after_fourth_touch": (left_by(after_fourth_touch, send(signal.SIGHUP)), ["fault slow 100"]),
    "sighup_at_question": left_by(at_question, send(signal.SIGHUP)),
    "sigterm_at_question": left_by(at_question, send(signal.SIGTERM)),
    "close_at_question": left_by(at_question, close_request),
    "escape_at_records": (left_by(at_records, escape), SLOW),
    "sigquit": left_by(after_first_touch, send(signal.SIGQUIT)),
    "sigabrt": left_by(after_first_touch, send(signal.SIGABRT), -signal.SIGABRT, "SIGABRT"),
    "x_server_killed": left_by(after_first_touch, kill_x_server, said="the display going away"),
    "compositor_killed": (left_by(on_wayland(after_first_touch), kill_compositor,
                                  said="the display going away"), ["panel straight"]),
    "display_removed": left_by(on_display_1(after_first_touch), remove_display,
                               said="the display going away"),
    "unplugged": (unplugged, ["fault gone-after 0 after-cues 2"]),
    "no_display": no_display,
}
TWO_MONITORS = {"display_removed"}
