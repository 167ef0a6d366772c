"""kelcalib-ctl on Linux: signals and a closed pipe in the middle of a
command (the abort command still goes out), watch ending on its own, a
refused commit, the lock on the controller's node, exit statuses of
permission and other problems, and names with bytes a terminal would obey.
Played by ctl_test.py, whose Linux scenarios take these in."""
import fcntl
import json
import signal
import subprocess
import time

from e2e import REJECT_EVERY_SEND, SENDS  # ctl_test.py puts tests/e2e on the path

OTHER = "other-device 0x845E 0x0001"


def wait_for_commands(run, proc, count):
    end = time.time() + 30
    while time.time() < end and len(run.commands()) < count and proc.poll() is None:
        time.sleep(0.05)


def watch_interrupted(run):
    """SIGINT (Ctrl-C) and SIGHUP (a dropped terminal or ssh session) end
    watch with the abort command and exit status 0."""
    run.set_touch((300, 200))
    for number, sig in enumerate((signal.SIGINT, signal.SIGHUP)):
        argv, env = run.command(["watch"], {})
        proc = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        wait_for_commands(run, proc, 2 * number + 1)
        time.sleep(0.3)
        proc.send_signal(sig)
        try:
            out, err = proc.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.communicate()
            run.fail("watch did not end at %s" % sig.name)
            return
        run.equal(proc.returncode, 0, "%s: exit status (%s)" % (sig.name, err.strip()))
        run.equal(len(out.splitlines()), 1, "%s: one line for the finger held still" % sig.name)
        run.equal(run.commands(), ["Q", "Rs"] * (number + 1), "%s: the cue, then the abort" % sig.name)


def watch_into_a_closed_pipe(run):
    """watch | head -1: the write after the reader has gone fails (SIGPIPE is
    ignored), which ends watch as Ctrl-C does: the abort command, exit 0."""
    run.set_touch((300, 200))
    argv, env = run.command(["watch"], {})
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    first = proc.stdout.readline()
    proc.stdout.close()
    run.set_touch((600, 400))
    try:
        proc.wait(timeout=30)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        run.fail("watch did not end when its reader went")
        return
    err = proc.stderr.read().decode(errors="replace")
    run.equal((proc.returncode, bool(first)), (0, True), "exit status after one line (%s)" % err.strip())
    run.equal(run.commands(), ["Q", "Rs"], "the cue, then the abort")


def watch_cue_not_sent(run):
    """A one-byte report has no room for the cue: no transfer at all, exit 1, one line."""
    status, out, err = run.ctl("watch", "--seconds", "5")
    run.refused(status, out, err, 1, "cue not sent")
    run.equal(run.events(), [], "no transfer (never an ioctl below 2 bytes)")


def watch_controller_gone(run):
    run.set_touch((300, 200))
    start = time.time()
    status, out, err = run.ctl("watch", "--seconds", "60")
    run.equal(status, 1, "exit status")
    run.equal((len(err), "gone" in (err[-1] if err else "")), (2, True), "the notice, then why (%r)" % err)
    run.check(time.time() - start < 30, "ends at once, not after --seconds")


def reset_interrupted(run):
    """SIGHUP between two steps of reset: the abort command, nothing committed."""
    argv, env = run.command(["reset", "--yes"], {})
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    wait_for_commands(run, proc, 1)
    proc.send_signal(signal.SIGHUP)
    out, err = proc.communicate(timeout=60)
    run.equal(proc.returncode, 1, "exit status (%s)" % err.strip())
    run.equal(run.commands(), ["Cx", "Rs"], "the X record, then the abort")
    run.equal(run.store(), None, "nothing committed")


def write_refused(run):
    status, out, err = run.ctl("reset", "--yes")
    run.refused(status, out, err, 1, "WC refused")
    run.check(err and "uncertain" in err[0] and "reset" in err[0], "says the state is uncertain (%r)" % err)
    run.equal(run.commands(), ["Cx", "Cy", "CS"] + ["WC"] * SENDS + ["Rs"], "records, CS, every WC send, the abort")


def in_use(run):
    """A second program is told the controller is in use and sends nothing."""
    run.set_touch(None)
    argv, env = run.command(["watch"], {})
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    wait_for_commands(run, proc, 1)
    status, out, err = run.ctl("reset", "--yes")
    proc.send_signal(signal.SIGINT)
    proc.communicate(timeout=30)
    run.refused(status, out, err, 1, "reset while watch runs")
    run.check(err and "in use" in err[0], "says in use (%r)" % err)
    run.equal(run.commands(), ["Q", "Rs"], "only watch's cue and abort")


def a_reader_keeps_no_one_out(run):
    """A program that may only read the node holds every lock it can take
    (flock and a read lock): reset still goes through."""
    lock = run.conf + ".hidraw0.lock"
    open(lock, "a").close()
    with open(lock, "r") as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        fcntl.lockf(held, fcntl.LOCK_SH)
        status, out, err = run.ctl("reset", "--yes")
    run.equal((status, err), (0, []), "reset while a reader holds its locks")
    run.equal(run.commands(), ["Cx", "Cy", "CS", "WC"], "the whole reset")


def not_a_permission_problem(run):
    """A controller whose descriptor cannot be read is no permission problem: exit 3, not 4."""
    status, out, err = run.ctl("reset", "--yes", "--index", "2")
    run.refused(status, out, err, 3, "no controller at index 2")


def names_escaped(run):
    """A product string with ESC, a byte that is not UTF-8, LF and the C1
    CSI (U+009B): taken in as printable text, the same in text and JSON, in
    list and doctor."""
    shown = "T\\x1B[31m\\xFF\\x0A\\xC2\\x9Bok"
    status, out, err = run.ctl("list")
    run.equal(out[0] if out else None, "controller 0: " + shown, "text: \\xNN for each such byte")
    status, out, err = run.ctl("list", "--json")
    run.equal(json.loads("".join(out))["controllers"][0]["name"], shown, "JSON: the same text")
    status, out, err = run.ctl("doctor")
    run.check(out and out[0].startswith("controller 0: /dev/hidraw0 (%s," % shown), "doctor: %r" % out[:1])
    for args in (["list"], ["list", "--json"], ["doctor"]):
        status, out, err = run.ctl(*args)
        run.check(not any(c in "".join(out + err) for c in "\x1b\x9b\r"), "%s: no raw control" % args)


def permission(run):
    """A node refused for lack of permission: the udev advice and exit 4."""
    for args in (["list"], ["reset", "--yes"], ["watch", "--seconds", "1"]):
        status, out, err = run.ctl(*args, env={"KELCALIB_VC_HIDRAW_DENY": "1"})
        run.equal(status, 4, "%s: exit status" % args)
        run.equal(any("udev" in l for l in err) and any("/dev/hidraw1" in l for l in err), True,
                  "%s: names the node and the udev rule (%r)" % (args, err))
    run.equal(run.commands(), [], "nothing sent")


SCENARIOS = {
    "watch_interrupted": (watch_interrupted, [OTHER, "controller"]),
    "permission": (permission, [OTHER, "controller"]),
    "watch_into_a_closed_pipe": (watch_into_a_closed_pipe, ["controller"]),
    "watch_cue_not_sent": (watch_cue_not_sent, ["controller", "report-length 1"]),
    "watch_controller_gone": (watch_controller_gone, ["controller", "fault gone-after 4"]),
    "reset_interrupted": (reset_interrupted, ["controller", "store STORE", "fault slow 300"]),
    "write_refused": (write_refused, ["controller", "store STORE", REJECT_EVERY_SEND + " after-accepts 3"]),
    "in_use": (in_use, ["controller", "store STORE"]),
    "a_reader_keeps_no_one_out": (a_reader_keeps_no_one_out, ["controller", "store STORE"]),
    "not_a_permission_problem": (not_a_permission_problem,
                                 ["controller", "descriptor-size 5000", "controller"]),
    "names_escaped": (names_escaped, ["controller", "name-bytes 54 1b 5b 33 31 6d ff 0a c2 9b 6f 6b"]),
}
