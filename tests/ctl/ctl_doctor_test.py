"""kelcalib-ctl on Linux beyond the controller: `list` naming the input
event device, and `doctor` naming each thing planted between a touch and
the cursor. Played by ctl_test.py, whose Linux scenarios take these in.

The system doctor reads is planted under a root of the scenario's own
(KELCALIB_SYSTEM_ROOT): sysfs for the controller's event device, udev's
rules and database, X's configuration, tslib's file, a kelcalib file of the
earlier layout. The X server is Xorg with two monitors
(tests/e2e_linux/xserver.py; root only), whose XTEST pointer stands for the
controller's X device."""
import json
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e_linux"))
import xserver  # noqa: E402

OPTIONS = None  # set by ctl_test.py: x_props among them
POINTER = "Virtual core XTEST pointer"
DISPLAY_1 = ["%.6f" % (1024 / 1824), "0", "%.6f" % (800 / 1824), "0", "1", "0", "0", "0", "1"]
IDENTITY = ["1", "0", "0", "0", "1", "0", "0", "0", "1"]
RULE = 'SUBSYSTEM=="hidraw", KERNELS=="*:FFFE:*", TAG+="uaccess"\n'


def write(root, path, text):
    os.makedirs(os.path.dirname(root + path), exist_ok=True)
    with open(root + path, "w") as f:
        f.write(text)


def plant_controller(run):
    """hidraw0's event device event8 (13:72) and the udev rule; returns the root."""
    root = os.path.join(run.dir, "system")
    os.makedirs(root + "/sys/class/hidraw/hidraw0/device/input/input8/event8")
    write(root, "/sys/class/input/event8/device/name", "KelCalib virtual controller 0\n")
    write(root, "/sys/class/input/event8/dev", "13:72\n")
    write(root, "/etc/udev/rules.d/70-kelcalib.rules", "# access\n" + RULE)
    return root


def list_input_device(run):
    root = plant_controller(run)
    env = {"KELCALIB_SYSTEM_ROOT": root}
    status, out, err = run.ctl("list", env=env)
    run.equal([l.strip() for l in out if "input device" in l],
              ["input device:          /dev/input/event8", "input device:          none"], "text: the event devices")
    status, out, err = run.ctl("list", "--json", "--all", env=env)
    listed = json.loads("".join(out))
    run.equal([c["input_devices"] for c in listed["controllers"]], [["/dev/input/event8"], []],
              "JSON: the first controller's event device, none for the second")


def xprops(x, *args):
    subprocess.run([OPTIONS.x_props] + list(args), env=x.env(), check=True)


def doctor(run, root, x, env=None):
    """doctor --json; returns (exit status, [(check, verdict)...] of the problems, report)."""
    status, out, err = run.ctl("--json", "doctor", env=dict({"KELCALIB_SYSTEM_ROOT": root,
                                                             "DISPLAY": x.display}, **(env or {})))
    try:
        report = json.loads("".join(out))
    except ValueError:
        run.fail("doctor printed no JSON: %r %r" % (out, err))
        return status, None, {}
    problems = [f["check"] for s in report["sections"] for f in s["findings"] if f["verdict"] == "problem"]
    return status, problems, report


def doctor_names_each_problem(run):
    """Nothing in the way: exit 0. Then each problem planted alone: doctor
    names it (and only it), says what to do, and exits 5."""
    if os.geteuid() != 0:
        print("  (Xorg with the dummy driver runs as root only: the X checks are left out)")
        return
    root = plant_controller(run)
    try:
        x = xserver.start_two_monitors()
    except RuntimeError as error:
        run.fail(str(error))
        return
    try:
        xprops(x, "set-node", POINTER, "/dev/input/event8")
        xprops(x, "set-floats", POINTER, "Coordinate Transformation Matrix", *DISPLAY_1)
        status, problems, report = doctor(run, root, x)
        run.equal((status, problems), (0, []), "nothing planted")
        found = [f["text"] for s in report.get("sections", []) for f in s["findings"] if f["check"] == "mapping"]
        run.check(found and "onto DUMMY1" in found[0], "the mapping onto DUMMY1 told: %r" % found)

        def planted(check, plant, undo, env=None):
            plant()
            status, problems, report = doctor(run, root, x, env)
            undo()
            run.equal((status, problems), (5, [check]), "planted: " + check)
            advice = [f.get("do", "") for s in report.get("sections", []) for f in s["findings"]
                      if f["check"] == check]
            run.check(advice and advice[0], "%s: what to do said" % check)

        nothing = lambda: None
        events = root + "/sys/class/hidraw/hidraw0/device/input"
        rule = root + "/etc/udev/rules.d/70-kelcalib.rules"
        planted("access", nothing, nothing, {"KELCALIB_VC_HIDRAW_DENY": "0"})
        planted("udev rule", lambda: os.rename(rule, rule + ".off"), lambda: os.rename(rule + ".off", rule))
        planted("input device", lambda: os.rename(events, events + ".off"),
                lambda: os.rename(events + ".off", events))
        planted("mapping", lambda: xprops(x, "set-floats", POINTER, "Coordinate Transformation Matrix", *IDENTITY),
                lambda: xprops(x, "set-floats", POINTER, "Coordinate Transformation Matrix", *DISPLAY_1))
        planted("X device", lambda: xprops(x, "set-node", POINTER, "/dev/input/event3"),
                lambda: xprops(x, "set-node", POINTER, "/dev/input/event8"))
        planted("X driver calibration",
                lambda: xprops(x, "set-floats", POINTER, "libinput Calibration Matrix", "1.1", "0", "-0.05",
                               "0", "1", "0", "0", "0", "1"),
                lambda: xprops(x, "set-floats", POINTER, "libinput Calibration Matrix", *IDENTITY))
        planted("libinput matrix",
                lambda: write(root, "/run/udev/data/c13:72", "E:LIBINPUT_CALIBRATION_MATRIX=1 0 0.1 0 1 0\n"),
                lambda: os.remove(root + "/run/udev/data/c13:72"))
        planted("X calibration",
                lambda: write(root, "/etc/X11/xorg.conf.d/50-touch.conf",
                              'Section "InputClass"\n  Option "Calibration_Matrix" "1 0 0 0 1 0 0 0 1"\n'
                              '  # Option "Calibration" "0 100 0 100"\nEndSection\n'),
                lambda: os.remove(root + "/etc/X11/xorg.conf.d/50-touch.conf"))
        planted("tslib", lambda: write(root, "/etc/pointercal", "65536 0 0 0 65536 0 65536\n"),
                lambda: os.remove(root + "/etc/pointercal"))
        planted("kelcalib file", lambda: write(root, "/etc/X11/xorg.conf.d/99-kelcalib-fffe-0001.conf", "# old\n"),
                lambda: os.remove(root + "/etc/X11/xorg.conf.d/99-kelcalib-fffe-0001.conf"))
        status, out, err = run.ctl("doctor", env={"KELCALIB_SYSTEM_ROOT": root, "DISPLAY": x.display})
        run.equal((status, out[-1:]), (0, ["0 problems found"]), "text report, everything put back")
        # No controller of the vendor ID: a problem too, with what to do.
        status, out, err = run.ctl("--vid", "0x1234", "--json", "doctor",
                                   env={"KELCALIB_SYSTEM_ROOT": root, "DISPLAY": x.display})
        report = json.loads("".join(out)) if status == 5 else {}
        found = [f for s in report.get("sections", []) for f in s["findings"] if f["verdict"] == "problem"]
        run.equal((status, [f["check"] for f in found]), (5, ["controller"]), "no controller of 0x1234")
        run.check(found and "list --all" in found[0].get("do", "") and "--vid" in found[0]["do"],
                  "what to do with no controller: %r" % found)
    finally:
        x.stop()
        shutil.rmtree(root, ignore_errors=True)
    run.equal(run.commands(), [], "doctor sends no command")


SCENARIOS = {
    "list_input_device": (list_input_device, ["controller", "controller"]),
    "doctor": (doctor_names_each_problem, ["controller"]),
}
