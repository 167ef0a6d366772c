"""The Linux scenarios of what kelcalib writes as root and prints, and of
what a session leaves in the X server: --persist for two identical
controllers with hostile names (the files an Xorg then starts on), the
files and directories it refuses, a session killed mid-way, several X
screens, a one-copy lock of another user. Played by e2e_linux.py;
TWO_MONITORS and TWO_SCREENS name the scenarios that need Xorg's two
monitors or an Xvfb of two X screens."""
import fcntl
import glob
import os
import re
import signal
import stat
import subprocess

import e2e
import linux_run
import xserver
from linux_run import EXIT
from screens_and_controllers import (DISPLAY_1_MATRIX, IDENTITY, XTEST_POINTER, again, calibrate_and_answer_yes,
                                     check_matrix, matrix, plant_system)

# What a USB product string may hold: line ends that would start live
# directives in a comment, a colour escape and the C1 CSI (U+009B).
HOSTILE = b'\rSection "Files"\rModulePath "/x"\rEndSection\r#\x1b[31m\xc2\x9b\nX'
# Display 0 (800 x 600 at 0,0) of the 1824 x 768 desktop.
DISPLAY_0_MATRIX = [800 / 1824, 0, 0, 0, 600 / 768, 0, 0, 0, 1]
X_FLIP = [-1, 0, 1, 0, 1, 0, 0, 0, 1]
# A raw control byte as a terminal would take it: C0 but tab and newline, DEL, C1 in UTF-8.
RAW_CONTROL = re.compile(rb"[\x00-\x08\x0b-\x1f\x7f]|\xc2[\x80-\x9f]")


def xprops(run, *args):
    subprocess.run([linux_run.OPTIONS.x_props] + list(args), env=run.x.env(), check=True)


def persisted(root):
    """The X configuration files and udev rules --persist wrote, by name."""
    return (sorted(glob.glob(root + "/etc/X11/xorg.conf.d/99-kelcalib-fffe-0001-*.conf")),
            sorted(glob.glob(root + "/etc/udev/rules.d/71-kelcalib-fffe-0001-*.rules")))


def persist_on(run, node, display, first_cue, umask=None):
    """A calibration of controller `node` on `display` with --persist, Yes."""
    run.watched = node
    run.left, run.width, run.height = (0, 800, 600) if display == 0 else (800, 1024, 768)
    xprops(run, "set-node", XTEST_POINTER, "/dev/input/event%d" % (8 + node))
    again(run, ["--device", "/dev/hidraw%d" % node, "--display", str(display), "--persist"])
    old = os.umask(umask) if umask is not None else None
    try:
        calibrate_and_answer_yes(run, first_cue=first_cue)
    finally:
        if old is not None:
            os.umask(old)


def raw_output(run):
    with open(os.path.join(run.dir, "stdout.txt"), "rb") as out, open(os.path.join(run.dir, "stderr.txt"), "rb") as err:
        return out.read() + err.read()


def two_controllers_persisted(run):
    """Two identical controllers (fffe:0001) whose names hold line ends, ESC
    and a C1 control, persisted one after the other on display 0 and display
    1: two rules naming each by its ID_PATH and two X configurations with
    its matrix, mode 0644 under umask 077; no raw control byte in what the
    program printed or wrote; and an Xorg started on the files reads them
    (the name would have set its ModulePath and kept it from starting)."""
    root = plant_system(run, {0: 8, 1: 9}, names={0: HOSTILE, 1: HOSTILE})
    persist_on(run, 0, 0, 1, umask=0o077)
    persist_on(run, 1, 1, 1)
    snippets, rules = persisted(root)
    if not (run.equal(len(snippets), 2, "two X configuration files: %s" % snippets) and
            run.equal(len(rules), 2, "two udev rules: %s" % rules)):
        return
    texts = {}
    for path in snippets + rules:
        run.equal(stat.S_IMODE(os.stat(path).st_mode), 0o644, "mode of %s" % path)
        with open(path, "rb") as f:
            texts[path] = f.read()
        run.check(not RAW_CONTROL.search(texts[path].replace(b"\n", b"")), "no raw control byte in %s" % path)
    want = {"pci-0000:00:14.0-usb-0:2:1.0": "0.438596 0 0 0 0.78125 0 0 0 1",
            "pci-0000:00:14.0-usb-0:3:1.0": "0.561404 0 0.438596 0 1 0 0 0 1"}
    for rule in rules:
        text = texts[rule].decode()
        place = re.search(r'ENV\{ID_PATH\}=="([^"]*)"', text)
        tag = re.search(r',(kelcalib_[0-9a-f]{16})"', text)
        if not run.check(place and tag and place.group(1) in want, "the rule names one place: %r" % text):
            continue
        snippet = [texts[s].decode() for s in snippets if 'MatchTag "%s"' % tag.group(1) in texts[s].decode()]
        run.check(len(snippet) == 1 and '"TransformationMatrix" "%s"' % want[place.group(1)] in snippet[0],
                  "%s: the matrix of its display: %r" % (place.group(1), snippet))
    run.check(not RAW_CONTROL.search(raw_output(run)), "no raw control byte printed: %r" % raw_output(run)[-400:])
    # doctor names both controllers (the product string) and their event
    # devices (the kernel's name of them).
    done = subprocess.run([linux_run.OPTIONS.ctl, "doctor"], capture_output=True, timeout=60,
                          env=run.x.env({"KELCALIB_SYSTEM_ROOT": root, "KELCALIB_VC_CONFIG": run.conf,
                                         "LD_PRELOAD": linux_run.OPTIONS.preload, "ASAN_OPTIONS": "detect_leaks=0"}))
    printed = done.stdout + done.stderr
    run.check(printed.count(b"\\x0DSection") == 4 and not RAW_CONTROL.search(printed),
              "doctor prints each name escaped, twice for each controller: %r" % printed[:600])
    try:
        server = xserver.start_two_monitors(configdir=root + "/etc/X11/xorg.conf.d")
    except RuntimeError as error:
        run.fail("an Xorg on the files written: %s" % error)
        return
    with open(os.path.join(server.dir, "Xorg.log"), errors="replace") as f:
        log = f.read()
    server.stop()
    run.check('ModulePath set to "/x"' not in log and root + "/etc/X11/xorg.conf.d" in log,
              "the Xorg read the files as written")


def persist_refusals(run):
    """What --persist will not do, each said in one line: replace a file it
    did not write, or write into a directory others may change; it names the
    matrix the device had (an x-flip) and the file of its earlier layout."""
    root = plant_system(run, {0: 8})
    earlier = root + "/etc/X11/xorg.conf.d/99-kelcalib-fffe-0001.conf"
    os.makedirs(os.path.dirname(earlier))
    with open(earlier, "w") as f:
        f.write("# The touch controller fffe:0001 (x) mapped onto the display DUMMY1,\n"
                "# written by kelcalib. The matrix holds for the displays' present layout.\n")
    xprops(run, "set-floats", XTEST_POINTER, "Coordinate Transformation Matrix", *map(str, X_FLIP))
    persist_on(run, 0, 1, 1)
    said = run.output("stderr.txt")
    run.check('"%s" had the transformation matrix -1 0 1 0 1 0 0 0 1' % XTEST_POINTER in said,
              "the x-flip the device had named:\n" + said)
    run.check(earlier[len(root):] + ", written by an earlier kelcalib" in said, "the earlier file named:\n" + said)
    snippets, rules = persisted(root)
    if not run.equal(len(snippets), 1, "one X configuration written"):
        return
    foreign = "Section \"InputClass\"\n  Identifier \"the administrator's\"\nEndSection\n"
    with open(snippets[0], "w") as f:
        f.write(foreign)
    open(os.path.join(run.dir, "stderr.txt"), "w").close()
    persist_on(run, 0, 1, 6)
    with open(snippets[0]) as f:
        run.equal(f.read(), foreign, "a file kelcalib did not write is left as it is")
    refusal = [l for l in run.output("stderr.txt").splitlines() if "--persist" in l]
    run.check(len(refusal) == 1 and "not a file kelcalib wrote" in refusal[0], "one line says so: %r" % refusal)
    os.remove(snippets[0])
    directory = os.path.dirname(snippets[0])
    os.chmod(directory, 0o777)
    open(os.path.join(run.dir, "stderr.txt"), "w").close()
    persist_on(run, 0, 1, 11)
    refusal = [l for l in run.output("stderr.txt").splitlines() if "--persist" in l]
    run.check(len(refusal) == 1 and "others may write to" in refusal[0], "a directory others may write: %r" % refusal)
    run.equal(persisted(root)[0], [], "nothing written there")


def killed_session(run):
    """A session killed while the touch is mapped leaves the X device's
    matrix changed; doctor puts it back and says so, and so does the next
    calibration, whose Esc then gives the identity back, not the mapping."""
    root = plant_system(run, {0: 8})
    xprops(run, "set-node", XTEST_POINTER, "/dev/input/event8")
    ctl_env = run.x.env({"KELCALIB_SYSTEM_ROOT": root, "KELCALIB_VC_CONFIG": run.conf,
                         "LD_PRELOAD": linux_run.OPTIONS.preload, "ASAN_OPTIONS": "detect_leaks=0"})
    for first_cue, then in ((1, "doctor"), (2, "the next run")):
        again(run, ["--display", "1"])
        run.start()
        run.wait_cues(first_cue)
        check_matrix(run, DISPLAY_1_MATRIX, "mapped")
        run.proc.send_signal(signal.SIGKILL)
        run.proc.wait()
        check_matrix(run, DISPLAY_1_MATRIX, "left by the killed session")
        if then == "doctor":
            done = subprocess.run([linux_run.OPTIONS.ctl, "doctor"], env=ctl_env, capture_output=True, text=True,
                                  timeout=60)
            run.check("doctor put the matrix of X device \"%s\" back" % XTEST_POINTER in done.stdout,
                      "doctor says it put it back:\n" + done.stdout)
            check_matrix(run, IDENTITY, "after doctor")
    again(run, ["--display", "1"])
    run.start()
    run.wait_cues(3)
    check_matrix(run, DISPLAY_1_MATRIX, "the next run maps again")
    e2e.xdotool("key", "Escape")
    run.equal(run.exit_code(timeout=10), EXIT["abandoned"], "exit code after Esc")
    check_matrix(run, IDENTITY, "after Esc: the matrix from before the killed session")
    run.check("an earlier calibration ended without putting the touch mapping back" in run.output("stderr.txt"),
              "the next run says so")


def several_x_screens(run):
    """An X display of two screens: the matrix would span both, whose
    arrangement X does not tell, so the mapping is left alone, and said."""
    plant_system(run, {0: 8})
    xprops(run, "set-node", XTEST_POINTER, "/dev/input/event8")
    run.args = ["--display", "1"]
    run.start()
    run.wait_cues(1)
    check_matrix(run, IDENTITY, "the matrix left alone")
    e2e.xdotool("key", "Escape")
    run.equal(run.exit_code(timeout=10), EXIT["abandoned"], "exit code after Esc")
    run.check("this X display has 2 screens" in run.output("stderr.txt"), "the refusal said")


def lock_of_another_user(run):
    """A one-copy lock that another user made and holds (in a runtime
    directory not this user's) keeps no calibration out."""
    runtime = os.path.join(run.dir, "runtime")
    os.mkdir(runtime, 0o700)
    lock = os.path.join(runtime, "kelcalib.lock")
    with open(lock, "w") as held:
        os.chown(runtime, 65534, 65534)
        os.chown(lock, 65534, 65534)
        fcntl.flock(held, fcntl.LOCK_EX)
        run.extra_env.update({"XDG_RUNTIME_DIR": runtime, "TMPDIR": run.dir})
        run.start()
        run.wait_cues(1)
        e2e.xdotool("key", "Escape")
        run.equal(run.exit_code(timeout=10), EXIT["abandoned"], "exit code after Esc")
    run.check(os.path.isdir(os.path.join(run.dir, "kelcalib-0")), "its own lock directory in TMPDIR")


HOSTILE_HEX = " ".join("%02x" % b for b in HOSTILE)
SCENARIOS = {
    "two_controllers_persisted": (two_controllers_persisted,
                                  ["name-bytes " + HOSTILE_HEX, "controller", "store {dir}/store1.txt",
                                   "name-bytes " + HOSTILE_HEX]),
    "persist_refusals": persist_refusals,
    "killed_session": killed_session,
    "several_x_screens": several_x_screens,
    "lock_of_another_user": lock_of_another_user,
}
TWO_MONITORS = {"two_controllers_persisted", "persist_refusals", "killed_session"}
TWO_SCREENS = {"several_x_screens"}
