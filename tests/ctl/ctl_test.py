#!/usr/bin/env python3
"""kelcalib-ctl against the virtual controller: what each command prints,
its exit status, and what the controller's transfer log and store show it
did. On Windows the exe runs under Wine behind the replacement hid.dll and
setupapi.dll; on Linux the program runs through the hidraw interposer.

    ctl_test.py --platform wine --exe kelcalib-ctl.exe [--solve calib-solve] SCENARIO...
    ctl_test.py --platform linux --exe kelcalib-ctl --runner with-vc-hidraw [--solve ...] SCENARIO...

Under Wine it needs WINEPREFIX of a booted prefix into which the virtual
controller was installed for kelcalib-ctl.exe (./check does this). Each
scenario gets its own config, log, store and touch file in a temporary
directory, removed unless the scenario fails. Exits 1 when a check failed.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import e2e  # noqa: E402  (how a scenario is played and reported)
import ctl_doctor_test  # noqa: E402
import ctl_linux_test  # noqa: E402

OPTIONS = None


SCREEN = (1024, 768)  # the touch file's screen


def winpath(path):
    """A path as the program sees it: under Wine through drive Z:."""
    if OPTIONS.platform == "linux":
        return path
    return "Z:" + path.replace("/", "\\")


class Run:
    """One virtual controller setup and the tool's runs against it."""

    def __init__(self, name, lines):
        self.name = name
        self.dir = tempfile.mkdtemp(prefix="kelcalib-ctl-%s." % name)
        self.log = os.path.join(self.dir, "controller.log")
        self.touch = os.path.join(self.dir, "touch")
        self.failures = []
        conf = ["log-file " + winpath(self.log)]
        for line in lines:
            conf.append(line.replace("STORE", winpath(os.path.join(self.dir, "store"))))
        self.conf = os.path.join(self.dir, "controller.conf")
        with open(self.conf, "w") as f:
            f.write("\n".join(conf) + "\n")
        open(self.log, "w").close()

    def command(self, args, env):
        env = dict(os.environ, KELCALIB_VC_CONFIG=winpath(self.conf),
                   KELCALIB_VC_TOUCH_FILE=winpath(self.touch), **env)
        if OPTIONS.platform == "linux":
            # A sanitized tool: the interposer's run keeps leak reports out.
            env.setdefault("ASAN_OPTIONS", "detect_leaks=0")
            return [OPTIONS.runner, OPTIONS.exe] + list(args), env
        return ["wine", OPTIONS.exe] + list(args), env

    def ctl(self, *args, stdin=None, env={}):
        """Runs the tool; returns (exit status, stdout lines, stderr lines)."""
        argv, env = self.command(args, env)
        proc = subprocess.run(argv, env=env, input=stdin, capture_output=True, text=True, errors="replace",
                              timeout=120)
        e2e.show_wine_failure(proc.stderr)
        return proc.returncode, proc.stdout.splitlines(), proc.stderr.splitlines()

    def set_touch(self, where):
        """Puts the finger at screen point `where`, or lifts it (None)."""
        with open(self.touch + ".new", "w") as f:
            f.write("none\n" if where is None else "%d %d %d %d\n" % (where + SCREEN))
        os.replace(self.touch + ".new", self.touch)

    def store(self, n=0):
        try:
            with open(os.path.join(self.dir, "store" if n == 0 else "store%d" % n)) as f:
                return f.read()
        except FileNotFoundError:
            return None

    def events(self, controller="0"):
        """(kind, command or event text) of one controller's log lines."""
        out = []
        with open(self.log) as f:
            for line in f:
                words = line.split()
                if len(words) < 3 or words[1] != controller:
                    continue
                if words[2] == "EVENT":
                    out.append(("EVENT", " ".join(words[3:])))
                elif words[2] == "SET":
                    data = [int(b, 16) for b in words[7:]]
                    payload = data if data and data[0] == 1 else data[1:]
                    out.append(("SET", "Q" if payload[1:2] == [ord("Q")] else bytes(payload[1:3]).decode()))
                else:
                    out.append((words[2], words[4]))
        return out

    def commands(self, controller="0"):
        return [text for kind, text in self.events(controller) if kind == "SET"]

    def stop(self):
        """Nothing to stop: each of the tool's runs ends before its check."""

    def fail(self, message):
        self.failures.append(message)
        print("  FAIL: " + message)

    def check(self, condition, message):
        if not condition:
            self.fail(message)

    def equal(self, got, want, message):
        if got != want:
            self.fail("%s:\n    got  %r\n    want %r" % (message, got, want))

    def refused(self, status, out, err, code, what):
        """A refusal: the exit status, nothing on stdout, one line on stderr."""
        self.equal(status, code, what + ": exit status")
        self.equal(out, [], what + ": stdout")
        self.equal(len(err), 1, what + ": lines on stderr (%r)" % err)


IDENTITY_STORE = "x 1 0 0 1\ny 0 1 0 1\n"
COMMIT = ["Cx", "Cy", "CS", "WC"]

# Scenarios ------------------------------------------------------------------


def list_none(run):
    for args in (["list"], ["list", "--all"], ["--json", "list"]):
        status, out, err = run.ctl(*args)
        run.equal(status, 3, "%s: exit status" % args)
        run.equal(len(err), 1, "%s: one line on stderr" % args)
    status, out, _ = run.ctl("list", "--json", "--all")
    listed = json.loads("".join(out))
    run.equal((listed["controllers"], [d["vendor_id"] for d in listed["other_devices"]]),
              ([], ["0x845E"]), "--json --all without a controller")


def list_one(run):
    status, out, err = run.ctl("list")
    run.equal(status, 0, "exit status")
    labels = ["controller 0:", "device:", "vendor:product:", "feature report length:", "logical maxima:",
              "report IDs answering:"]
    if OPTIONS.platform == "linux":
        labels.insert(5, "input device:")
    run.equal([l.strip().startswith(label) for l, label in zip(out, labels)], [True] * len(labels),
              "text lines %r" % out)
    run.equal(out[-1].split()[-1], "0x01", "report IDs answering (text)")
    status, out, err = run.ctl("list", "--json")
    c = json.loads("".join(out))["controllers"]
    run.equal([(d["index"], d["vendor_id"], d["product_id"], d["feature_report_length"], d["logical_max_x"],
                d["logical_max_y"], d["report_ids"]) for d in c],
              [(0, "0xFFFE", "0x0042", 64, 4095, 2047, ["0x01"])], "--json controller")
    run.equal(run.commands(), [], "list sends no command")


def list_foreign_first(run):
    status, out, err = run.ctl("list", "--all", "--json")
    run.equal(status, 0, "exit status")
    listed = json.loads("".join(out))
    # Without report IDs in its descriptor, every ID is report 0 on Linux;
    # Windows refuses every ID but 0 before any I/O.
    ids = ["0x55", "0x01", "0x00"] if OPTIONS.platform == "linux" else ["0x00"]
    run.equal([(d["index"], d["report_ids"], d["feature_report_length"]) for d in listed["controllers"]],
              [(0, ids, 101), (1, ids, 5)], "two controllers after a foreign device")
    others = [("0x845E", True, "vendor ID 0x845E is not 0xFFFE")]
    if OPTIONS.platform == "wine":
        # An interface per collection: each controller's touch screen, which
        # the system keeps for itself, is not opened.
        others += [(None, False, "cannot be opened")] * 2
    run.equal([(d.get("vendor_id"), d["queried"], d["problem"].split(":")[0]) for d in listed["other_devices"]],
              [(v, q, p.split(":")[0]) for v, q, p in others], "the foreign device and why")
    status, out, err = run.ctl("list")
    run.equal([l.split(":")[0] for l in out if l.startswith("controller")], ["controller 0", "controller 1"],
              "text without --all")
    run.equal([l for l in out if l.startswith("not ours")], [], "others only with --all")


def vid_override(run):
    status, out, err = run.ctl("list")
    run.equal(status, 3, "the build's vendor ID finds nothing")
    status, out, err = run.ctl("--vid", "0x1234", "list", "--json")
    run.equal([d["vendor_id"] for d in json.loads("".join(out))["controllers"]], ["0x1234"], "--vid 0x1234")
    status, out, err = run.ctl("reset", "--yes", "--vid=1234")
    run.equal((status, run.store()), (0, IDENTITY_STORE), "reset with --vid")


def watch(run):
    moves = [(0.8, (512, 384)), (1.3, (700, 100)), (1.8, None), (2.3, (100, 700))]

    def finger():
        start = time.time()
        for at, where in moves:
            time.sleep(max(0.0, at - (time.time() - start)))
            run.set_touch(where)

    run.set_touch(None)
    thread = threading.Thread(target=finger)
    thread.start()
    status, out, err = run.ctl("watch", "--seconds", "3", "--json")
    thread.join()
    run.equal(status, 0, "exit status")
    lines = [json.loads(l) for l in out]
    raw = lambda x, y: (round(65535 * x / SCREEN[0]), round(65535 * y / SCREEN[1]))
    got = [(l["event"],) + ((l["x"], l["y"]) if l["event"] == "touch" else ()) for l in lines]
    run.equal(got, [("touch",) + raw(512, 384), ("touch",) + raw(700, 100), ("lift",), ("touch",) + raw(100, 700)],
              "one line per position change and per lift")
    run.equal([l["ms"] for l in lines], sorted(l["ms"] for l in lines), "times in order")
    cmds = run.commands()
    run.equal((cmds[:1], cmds[-1:], len(cmds)), (["Q"], ["Rs"], 2), "the cue first, the abort last")
    run.set_touch(None)
    status, out, err = run.ctl("watch", "--seconds", "1")
    run.equal((status, out), (0, []), "no touch: no lines")


def reset(run):
    status, out, err = run.ctl("reset")
    run.refused(status, out, err, 2, "reset without --yes")
    run.equal(run.commands(), [], "nothing sent without --yes")
    status, out, err = run.ctl("reset", "--yes")
    run.equal(status, 0, "exit status")
    run.equal(run.commands(), COMMIT, "identity X and Y, CS, WC")
    run.equal(run.store(), IDENTITY_STORE, "store")


def apply(run):
    records = "record-x 2 0 10 1\nrecord-y 0 2 20 1\n"
    if OPTIONS.solve:
        records = subprocess.run([OPTIONS.solve, "13056", "13056", "52415", "52394", "52415", "13056",
                                  "13056", "52394"], capture_output=True, text=True, check=True).stdout
    want = "".join(l.replace("record-", "") + "\n" for l in records.splitlines() if l.startswith("record-"))
    path = os.path.join(run.dir, "records.txt")
    with open(path, "w") as f:
        f.write(records)
    status, out, err = run.ctl("apply", "--yes", winpath(path))
    run.equal((status, run.store()), (0, want), "apply FILE: exit status and store")
    run.equal(run.commands(), COMMIT, "records, CS, WC")
    status, out, err = run.ctl("--json", "reset", "--yes")
    status, out, err = run.ctl("--json", "apply", "--yes", "-", stdin=records)
    run.equal((status, run.store()), (0, want), "apply from standard input")
    answer = json.loads("".join(out))
    run.equal(" ".join(str(v) for v in answer["record_x"] + answer["record_y"]),
              want.replace("x ", "").replace("y ", "").replace("\n", " ").strip(), "--json records")


MALFORMED = [
    ("record-x 2 0 10 1\n", "line", "no record-y line"),
    ("record-x 2 0 10 1\nrecord-y 0 2 20\n", "line 2:", "three numbers"),
    ("record-x 2 0 10 1 5\nrecord-y 0 2 20 1\n", "line 1:", "five numbers"),
    ("record-x 2 0 10 0\nrecord-y 0 2 20 1\n", "line 1:", "divisor 0"),
    ("record-x 2 0 10 1\nrecord-y 0 40000 20 1\n", "line 2:", "a factor beyond calib-solve's"),
    ("record-x 2 0 10 1\nrecord-y 0 2 2147483648 1\n", "line 2:", "beyond 32 bits"),
    ("record-x 2 0 1O 1\nrecord-y 0 2 20 1\n", "line 1:", "not a number"),
    ("record-x 2 0 10 1\nrecord-y 0 2 20 1\nrecord-x 2 0 10 1\n", "line 3:", "a second record-x"),
    ("record-z 2 0 10 1\n", "line 1:", "an unknown record"),
    ("", "no record-x", "empty"),
    # A terminal's controls in the file come back as text (OSC, then C1 CSI).
    ("record-x 2 0 1\x1b]0;x\x07 1\nrecord-y 0 2 20 1\n", "'1\\x1B]0;x\\x07'", "OSC in a number"),
    ("record-\u009b2J 2 0 10 1\n", "'record-\\xC2\\x9B2J'", "C1 CSI in a record's name"),
]


def apply_malformed(run):
    for text, names, what in MALFORMED:
        status, out, err = run.ctl("apply", "--yes", stdin=text)
        run.refused(status, out, err, 2, what)
        run.equal(names in (err[0] if err else ""), True, "%s: the message names %r (%r)" % (what, names, err))
    status, out, err = run.ctl("apply", "--yes", winpath(os.path.join(run.dir, "missing.txt")))
    run.refused(status, out, err, 2, "a missing file")
    run.equal(run.commands(), [], "nothing sent for any malformed file")
    run.equal(run.store(), None, "nothing stored")


def rejected(run):
    # Every send of the first handshake is rejected: X never gets in.
    status, out, err = run.ctl("apply", "--yes", stdin="record-x 2 0 10 1\nrecord-y 0 2 20 1\n")
    run.refused(status, out, err, 1, "X record rejected")
    run.equal(run.commands(), ["Cx"] * e2e.SENDS + ["Rs"], "every X send, then the abort; no CS or WC")
    run.equal(run.store(), None, "nothing committed")


def rejected_y(run):
    status, out, err = run.ctl("reset", "--yes")
    run.refused(status, out, err, 1, "Y record rejected")
    run.equal(run.commands(), ["Cx"] + ["Cy"] * e2e.SENDS + ["Rs"], "X, every Y send, the abort; no CS or WC")
    run.equal(run.store(), None, "nothing committed")


def second_controller(run):
    status, out, err = run.ctl("reset", "--yes", "--index", "1")
    run.equal(status, 0, "exit status")
    run.equal((run.commands("0"), run.commands("1")), ([], COMMIT), "only controller 1 is reset")
    run.equal((run.store(0), run.store(1)), (None, IDENTITY_STORE), "stores")
    status, out, err = run.ctl("watch", "--index", "2", "--seconds", "1")
    run.refused(status, out, err, 3, "--index beyond the controllers")


def usage(run):
    for args in (["frobnicate"], [], ["list", "--yes"], ["watch", "--seconds", "0"], ["--vid", "0x12345", "list"],
                 ["apply", "--yes", "a", "b"]):
        status, out, err = run.ctl(*args)
        run.refused(status, out, err, 2, "usage %r" % args)
    status, out, err = run.ctl("--help")
    run.equal((status, "Exit status:" in out), (0, True), "--help")
    # doctor is Linux's alone: Windows's --help does not offer it.
    run.equal(any("doctor" in line for line in out), OPTIONS.platform == "linux", "doctor in --help")
    run.equal(run.commands(), [], "nothing sent")


def calibration_running(run):
    """While kelcalib.exe calibrates (its one-copy mutex held, here by
    hold-mutex.exe), reset and apply refuse with one line and send nothing;
    list and watch go on; once it has ended, reset goes through."""
    holder = subprocess.Popen(["wine", OPTIONS.hold_mutex], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              text=True)
    try:
        run.equal(holder.stdout.readline().strip(), "held", "the calibration's mutex held")
        for args, text in ((["reset", "--yes"], None), (["apply", "--yes"], "record-x 2 0 10 1\nrecord-y 0 2 20 1\n")):
            status, out, err = run.ctl(*args, stdin=text)
            run.refused(status, out, err, 1, "%s while kelcalib.exe runs" % args[0])
            run.check(err and "kelcalib.exe is calibrating" in err[0], "%s: says why (%r)" % (args[0], err))
        run.equal(run.commands(), [], "nothing sent by reset or apply")
        run.equal(run.ctl("list")[0], 0, "list goes on")
        run.equal(run.ctl("watch", "--seconds", "1")[0], 0, "watch goes on")
    finally:
        holder.stdin.close()
        holder.wait(timeout=60)
    status, out, err = run.ctl("reset", "--yes")
    run.equal(status, 0, "reset once the calibration has ended (%r)" % err)
    run.equal(run.store(), IDENTITY_STORE, "committed then")


OTHER = "other-device 0x845E 0x0001"
# What only Windows has: the calibration program's one-copy mutex.
WINE_SCENARIOS = {"calibration_running": (calibration_running, ["controller", "store STORE"])}
SCENARIOS = {
    "list_none": (list_none, [OTHER]),
    "list_one": (list_one, ["controller", "layout vendor", "product-id 0x42", "report-length 64", "report-ids 01",
                            "descriptor-ids 01", "value-caps 2 4095 2047"]),
    "list_foreign_first": (list_foreign_first, [OTHER, "controller", "controller", "report-length 5",
                                                "report-ids 00"]),
    "vid": (vid_override, [OTHER, "controller", "vendor-id 0x1234", "store STORE"]),
    "watch": (watch, [OTHER, "controller"]),
    "reset": (reset, ["controller", "store STORE"]),
    "apply": (apply, ["controller", "store STORE"]),
    "apply_malformed": (apply_malformed, ["controller", "store STORE"]),
    "rejected_record": (rejected, ["controller", "store STORE", e2e.REJECT_EVERY_SEND]),
    "rejected_y_record": (rejected_y, ["controller", "store STORE", e2e.REJECT_EVERY_SEND + " after-accepts 1"]),
    "second_controller": (second_controller, ["controller", "store STORE", "controller", "store STORE1"]),
    "usage": (usage, ["controller"]),
}
# Signals, pipes, locks and file permissions as only Linux has them.
LINUX_SCENARIOS = dict(ctl_linux_test.SCENARIOS, **ctl_doctor_test.SCENARIOS)


def scenarios():
    return dict(SCENARIOS, **(LINUX_SCENARIOS if OPTIONS.platform == "linux" else WINE_SCENARIOS))


def run_scenario(name):
    function, lines = scenarios()[name]
    return e2e.play(Run(name, lines), function, name)


def main():
    global OPTIONS
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--platform", choices=("wine", "linux"), default="wine")
    parser.add_argument("--exe", help="kelcalib-ctl.exe, or kelcalib-ctl on Linux")
    parser.add_argument("--runner", help="Linux: with-vc-hidraw, which preloads the interposer")
    parser.add_argument("--solve", help="the native calib-solve (apply reads its output)")
    parser.add_argument("--x-props", help="Linux: x-input-props, which plants X device properties")
    parser.add_argument("--hold-mutex", help="Windows: hold-mutex.exe, which holds kelcalib.exe's mutex")
    parser.add_argument("--list", action="store_true", help="list the scenarios")
    parser.add_argument("scenarios", nargs="*")
    OPTIONS = parser.parse_args()
    ctl_doctor_test.OPTIONS = OPTIONS
    if OPTIONS.list:
        print("\n".join(scenarios()))
        return 0
    if not OPTIONS.exe:
        parser.error("--exe is required")
    unknown = [s for s in OPTIONS.scenarios if s not in scenarios()]
    if unknown:
        parser.error("unknown scenario %s (--list names them)" % ", ".join(unknown))
    if OPTIONS.platform == "wine" and not OPTIONS.hold_mutex:
        parser.error("--hold-mutex is required under Wine")
    if OPTIONS.platform == "wine" and not os.environ.get("WINEPREFIX"):
        parser.error("WINEPREFIX is not set: run under ./check's Wine session")
    if OPTIONS.platform == "linux" and not (OPTIONS.runner and OPTIONS.x_props):
        parser.error("--runner and --x-props are required on Linux")
    ok = all([run_scenario(s) for s in OPTIONS.scenarios or list(scenarios())])
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
