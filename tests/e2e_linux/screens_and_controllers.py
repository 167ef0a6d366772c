"""The Linux scenarios of which controller and which display: --device and
--index with two controllers, --identify, the X input mapping of the
calibrated display, and a display turned a quarter. Played by e2e_linux.py,
whose SCENARIOS take these in; TWO_MONITORS and ROTATED name the scenarios
that need Xorg's two monitors or Xephyr's turned output."""
import fcntl
import json
import os
import signal
import subprocess
import time

import e2e
import linux_run
from e2e import COMMIT_TRACE, PASS_TRACE, target
from linux_run import EXIT

XTEST_POINTER = "Virtual core XTEST pointer"
# Display 1 (1024 x 768 at 800,0) of the 1824 x 768 desktop.
DISPLAY_1_MATRIX = [1024 / 1824, 0, 800 / 1824, 0, 1, 0, 0, 0, 1]
IDENTITY = [1, 0, 0, 0, 1, 0, 0, 0, 1]


def plant_system(run, events, names=None):
    """A system root of the run's own (KELCALIB_SYSTEM_ROOT): for each
    hidraw node N its input event device K (13:64+K), named as the kernel
    would (or by `names`, bytes), attached where udev's ID_PATH says
    (pci-0000:00:14.0-usb-0:N+2:1.0)."""
    root = os.path.join(run.dir, "system")
    for node, event in events.items():
        os.makedirs("%s/sys/class/hidraw/hidraw%d/device/input/input%d/event%d" % (root, node, event, event))
        os.makedirs("%s/sys/class/input/event%d/device" % (root, event))
        name = (names or {}).get(node, b"KelCalib virtual controller %d" % node)
        with open("%s/sys/class/input/event%d/device/name" % (root, event), "wb") as f:
            f.write(name + b"\n")
        with open("%s/sys/class/input/event%d/dev" % (root, event), "w") as f:
            f.write("13:%d\n" % (64 + event))
        os.makedirs("%s/run/udev/data" % root, exist_ok=True)
        with open("%s/run/udev/data/c13:%d" % (root, 64 + event), "w") as f:
            f.write("E:ID_INPUT=1\nE:ID_PATH=pci-0000:00:14.0-usb-0:%d:1.0\n" % (node + 2))
    run.extra_env["KELCALIB_SYSTEM_ROOT"] = root
    return root


def again(run, args):
    """The next start of the program in the same X server."""
    run.proc = None
    run.args = args


def calibrate_and_answer_yes(run, first_cue=1):
    run.start()
    run.collect(first_cue=first_cue)
    run.wait_box()
    e2e.xdotool("key", "Return")
    run.equal(run.exit_code(), EXIT["ok"], "exit code")


def press_ok(run):
    buttons = run.wait_box()
    if run.equal(len(buttons), 1, "one OK button"):
        run.press(buttons[0])
    run.equal(run.exit_code(timeout=10), EXIT["no_controller"], "exit code")


def by_index_and_device(run):
    """Two controllers, the first held by another program (the lock every
    program of the project takes on a node): --index 0 is told it is in use
    and sends nothing; --index 1 calibrates the second, and only it,
    meanwhile. Once the first is free, --device /dev/hidraw0 calibrates it
    and only it."""
    second_store = os.path.join(run.dir, "store1.txt")
    with open(run.conf + ".hidraw0.lock", "w") as held:
        fcntl.lockf(held, fcntl.LOCK_EX)  # a write lock: a program that may write
        run.args = ["--index", "0"]
        run.start()
        press_ok(run)
        run.check("in use" in run.output("stderr.txt"), "controller 0 in use told")
        again(run, ["--index", "1"])
        run.watched = 1
        calibrate_and_answer_yes(run)
    run.equal(run.trace(), PASS_TRACE + COMMIT_TRACE, "controller 1: a whole calibration")
    with open(second_store) as f:
        committed = f.read()
    run.check(committed.startswith("x "), "controller 1's store written: %r" % committed)
    run.watched = 0
    run.equal(run.trace(), [], "controller 0: no transfer")
    run.equal(run.store_text(), None, "controller 0's store untouched")
    again(run, ["--device", "/dev/hidraw0"])
    calibrate_and_answer_yes(run)
    run.equal(run.trace(), PASS_TRACE + COMMIT_TRACE, "controller 0: a whole calibration")
    run.check((run.store_text() or "").startswith("x "), "controller 0's store written")
    run.watched = 1
    run.equal(run.trace(), PASS_TRACE + COMMIT_TRACE, "controller 1: nothing more")
    with open(second_store) as f:
        run.equal(f.read(), committed, "controller 1's store unchanged")


def node_opened_itself(run):
    """--device /dev/hidraw1 while another controller comes in before it
    between two looks at /dev (relist_shim.c): the controller at the named
    node when it was named is the one calibrated, not the one the second
    look would count at its index."""
    with open(run.conf) as f:
        first = f.read()
    relist = os.path.join(run.dir, "relist.conf")
    with open(relist, "w") as f:
        f.write(first.replace("controller\nstore %s/store1.txt" % run.dir,
                              "controller\nstore %s/store-new.txt\ncontroller\nstore %s/store1.txt" % (run.dir, run.dir)))
    preload = linux_run.OPTIONS.preload.split(":")
    preload.insert(1 if "asan" in preload[0] else 0, linux_run.OPTIONS.relist_shim)
    run.extra_env.update({"KELCALIB_TEST_RELIST_CONFIG": relist, "LD_PRELOAD": ":".join(preload)})
    run.args = ["--device", "/dev/hidraw1"]
    run.watched = 1
    calibrate_and_answer_yes(run)
    run.check(os.path.exists(os.path.join(run.dir, "store1.txt")), "the named controller calibrated")
    run.check(not os.path.exists(os.path.join(run.dir, "store-new.txt")), "the one come in meanwhile untouched")


def choice_refused(run):
    """A --device or --index that names no controller of ours: the message
    says which and why, nothing is sent; contradictory options exit 2."""
    cases = [(["--device", "/dev/hidraw5"], "there is no HID device at /dev/hidraw5"),
             (["--device", "/dev/hidraw1"],
              "/dev/hidraw1 is not a controller of vendor ID 0xFFFE (it is 1234:0001"),
             (["--index", "1"], "there is no controller 1 of vendor ID 0xFFFE (1 found"),
             (["--device", run.dir], "%s is not a hidraw device node" % run.dir)]
    for args, said in cases:
        again(run, args)
        run.start()
        press_ok(run)
        run.check(said in run.output("stderr.txt"), "%s: %r told" % (args, said))
    env = run.x.env({"ASAN_OPTIONS": "detect_leaks=0"})
    for args in (["--device", "/dev/hidraw0", "--index", "0"], ["--json"], ["--identify", "--index", "1"],
                 ["--index", "-1"], ["--device"], ["--device="]):
        done = subprocess.run([linux_run.OPTIONS.exe] + args, env=env, capture_output=True, text=True,
                              timeout=20)
        run.equal(done.returncode, EXIT["bad_option"], "exit code of %s" % args)
        run.equal(len(done.stderr.strip().splitlines()), 1, "one line for %s: %r" % (args, done.stderr))
    run.equal(run.trace(), [], "no transfers")


def showing(pixel, left):
    """True when the program's grey fills that display's corner."""
    return pixel(left + 10, 10) == linux_run.BACKGROUND


def identify(run):
    """Two controllers, of which only the second reports touches: display 0
    passed by with Esc, a touch on display 1 pairs the second with it."""
    plant_system(run, {0: 8, 1: 9})
    listed = subprocess.run([linux_run.OPTIONS.exe, "--list-displays"], capture_output=True, text=True,
                            env=run.x.env({"ASAN_OPTIONS": "detect_leaks=0"}), timeout=20).stdout
    run.equal(listed.splitlines()[1:], ["1: 1024x768 at 800,0  DUMMY1  (no size known; targets 37 px)"],
              "--list-displays names the outputs")
    run.args = ["--identify", "--json"]
    run.start()
    run.wait_for("display 0's prompt", lambda: showing(run.screenshot("prompt0"), 0), 20)
    e2e.xdotool("key", "Escape")
    run.wait_for("display 1's prompt", lambda: showing(run.screenshot("prompt1"), 800), 20)
    with open(run.touch_file, "w") as f:
        f.write("100 100 1024 768\n")
    run.equal(run.exit_code(timeout=20), EXIT["ok"], "exit code")
    try:
        pairs = json.loads(run.output())["controllers"]
    except (ValueError, KeyError) as error:
        run.fail("no JSON pairs (%s): %r" % (error, run.output()))
        return
    run.equal([(c["device"], c["input_devices"], c["display"], c["display_name"]) for c in pairs],
              [("/dev/hidraw0", ["/dev/input/event8"], None, None),
               ("/dev/hidraw1", ["/dev/input/event9"], 1, "DUMMY1")], "the pairs")
    for controller in (0, 1):
        run.watched = controller
        trace = run.trace()
        run.equal((trace.count("Q"), trace[-1:]), (2, ["Rs"]),
                  "controller %d: cued on each display, then the abort command" % controller)


def identify_hangup(run):
    """SIGHUP while a display asks for a touch (a closed terminal or ssh
    session): the abort command at once, not after the display's 20 s."""
    run.args = ["--identify"]
    run.start()
    run.wait_for("the prompt", lambda: showing(run.screenshot("prompt"), 0), 20)
    run.proc.send_signal(signal.SIGHUP)
    run.equal(run.exit_code(timeout=5), EXIT["abandoned"], "exit code within 5 s")
    run.equal([t for t in run.trace() if t != "get"], ["Q", "Rs"], "the cue, reads, then the abort command")


def matrix(run):
    done = subprocess.run([linux_run.OPTIONS.x_props, "matrix", XTEST_POINTER], env=run.x.env(),
                          capture_output=True, text=True)
    return [float(v) for v in done.stdout.split()]


def check_matrix(run, want, what):
    got = matrix(run)
    run.check(len(got) == 9 and all(abs(a - b) < 1e-5 for a, b in zip(got, want)),
              "%s: matrix %s, want %s" % (what, got, want))


def x_mapping(run):
    """Display 1 of two, with an X device standing for the controller's event
    device: its range goes onto display 1 for the session; Esc and No put the
    matrix back, Yes keeps it and prints the X configuration (--persist as
    root writes it)."""
    root = plant_system(run, {0: 8})
    os.makedirs(os.path.join(root, "etc/X11"))
    subprocess.run([linux_run.OPTIONS.x_props, "set-node", XTEST_POINTER, "/dev/input/event8"],
                   env=run.x.env(), check=True)
    run.args = ["--display", "1"]
    run.start()
    run.wait_cues(1)
    check_matrix(run, DISPLAY_1_MATRIX, "mapped from the start")
    time.sleep(0.3)
    e2e.xdotool("key", "Escape")
    run.equal(run.exit_code(timeout=10), EXIT["abandoned"], "exit code after Esc")
    check_matrix(run, IDENTITY, "after Esc")
    again(run, ["--display", "1"])
    run.start()
    run.collect(first_cue=2)
    buttons = run.wait_box()
    check_matrix(run, DISPLAY_1_MATRIX, "at the question")
    if run.equal(len(buttons), 2, "two buttons on the question"):
        run.press(buttons[1])
    run.wait_cues(7)
    check_matrix(run, IDENTITY, "after No")
    calibrate_and_answer_yes_after_start(run, first_cue=7)
    check_matrix(run, DISPLAY_1_MATRIX, "kept after Yes")
    said = run.output()
    for line in ('ENV{ID_PATH}=="pci-0000:00:14.0-usb-0:2:1.0"', 'MatchTag "kelcalib_',
                 'Option "TransformationMatrix" "0.561404 0 0.438596 0 1 0 0 0 1"',
                 "/etc/X11/xorg.conf.d/99-kelcalib-fffe-0001-", "/etc/udev/rules.d/71-kelcalib-fffe-0001-"):
        run.check(line in said, "%r printed:\n%s" % (line, said))


def calibrate_and_answer_yes_after_start(run, first_cue):
    run.collect(first_cue=first_cue)
    run.wait_box()
    e2e.xdotool("key", "Return")
    run.equal(run.exit_code(), EXIT["ok"], "exit code")


def rotated(run):
    """A display turned a quarter (768 x 1024): targets and radius (10 mm at
    96 dpi: the output gives no size) on it, and the firmware calibrated in the
    panel's own orientation: a straight panel gets the straight records."""
    listed = subprocess.run([linux_run.OPTIONS.exe, "--list-displays"], capture_output=True, text=True,
                            env=run.x.env({"ASAN_OPTIONS": "detect_leaks=0"}), timeout=20).stdout
    run.equal(listed.strip(), "0: 768x1024 at 0,0 (primary)  default  (no size known, turned left; targets 37 px)",
              "--list-displays: the turn and the radius")
    run.start()
    run.wait_cues(1)
    linux_run.check_first_target(run)
    for i in range(4):
        run.wait_cues(1 + i)
        time.sleep(0.45)
        x, y = target(i, run.width, run.height)
        # The panel lies 1024 x 768 under the turned picture.
        with open(run.touch_file + ".new", "w") as f:
            f.write("%d %d 1024 768\n" % (y, 768 - x))
        os.replace(run.touch_file + ".new", run.touch_file)
        e2e.xdotool("mousemove", x, y, "click", 1)
    run.wait_cues(5)
    run.wait_box()
    e2e.xdotool("key", "Return")
    run.equal(run.exit_code(), EXIT["ok"], "exit code")
    points = run.raw_points()
    if not run.equal(len(points), 4, "touch reads with a packet"):
        return
    out = subprocess.run([linux_run.OPTIONS.solve, "--orientation", "1"] + [str(v) for p in points for v in p],
                         capture_output=True, text=True, check=True).stdout
    records = [" ".join(l.split()[1:]) for l in out.splitlines() if l.startswith("record-")]
    run.equal([e for e in run.events() if e.startswith("WC")][-1:],
              ["WC accept committed %s / %s" % tuple(records)], "calib-solve's records for orientation 1")
    run.equal(records[0], "17016 0 31 34066", "the straight panel's X record, as on a display not turned")


SCENARIOS = {
    "by_index_and_device": (by_index_and_device, ["controller", "store {dir}/store1.txt"]),
    "choice_refused": (choice_refused, ["other-device 0x1234 0x0001"]),
    "node_opened_itself": (node_opened_itself, ["controller", "store {dir}/store1.txt"]),
    "identify": (identify, ["fault no-packets", "controller"]),
    "identify_hangup": (identify_hangup, ["controller"]),
    "x_mapping": x_mapping,
    "rotated": rotated,
}
TWO_MONITORS = {"identify", "x_mapping"}
ROTATED = {"rotated"}
