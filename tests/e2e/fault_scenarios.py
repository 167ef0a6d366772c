"""kelcalib.exe end to end against a controller that fails: refused
commands, no touch packets, silence, a controller that vanishes, slow
transfers, replies that are not whole, and the touch hook's hold times on
the way. Played by e2e_win32.py."""
import os
import re
import time

from e2e import (COMMIT_TRACE, CONFIRM, FATAL, PASS_TRACE, POLLS, SENDS, check_committed,
                 escape_with_nothing_committed, target, xdotool)


def identity_refused(run):
    """The error box is answered with a mouse click, as on a machine whose
    only pointer is the touch screen: the click is the box's, not a point."""
    run.start()
    run.click_only_button(FATAL)
    run.equal(run.exit_code(timeout=10), 0, "exit code")
    run.equal(run.trace(), ["Cx", "get"] * SENDS + ["Cy", "get", "Rs"],
              "every X record refused, Y, the abort: no cue, no read, no record")
    run.equal(run.cues(), 0, "no target shown")
    run.equal(run.store_text(), None, "store untouched")


def records_refused(run):
    run.start()
    run.collect()
    # No question: a new pass starts at the first target.
    run.wait_cues(6)
    trace = run.trace()
    first = PASS_TRACE[:-4]
    run.equal(trace[:len(first)], first, "a whole pass")
    run.equal(trace[len(first):], ["Cx", "get"] * SENDS + ["Cy", "get"] + ["Cx", "get", "Cy", "get", "Q"],
              "every X record refused, Y, then identity and the first target again")
    xdotool("key", "Escape")
    run.equal(run.exit_code(timeout=10), 0, "exit code")
    run.equal(run.store_text(), None, "store untouched")


def commit_refused(run):
    run.start()
    run.collect()
    run.answer(CONFIRM, "Return")
    run.equal(run.exit_code(timeout=20), 0, "exit code")
    run.equal(run.trace(), PASS_TRACE + ["CS", "get"] * SENDS, "every CS refused, no WC")
    run.equal(run.store_text(), None, "store untouched")


def no_packets(run):
    run.start()
    run.wait_cues(1)
    run.touch(0)
    run.wait_cues(2)
    run.touch(0)
    run.wait_cues(3)
    time.sleep(0.3)
    run.equal(run.trace(), ["Cx", "get", "Cy", "get"] + ["Q", "get"] * 2 + ["Q"],
              "a read without a packet shows the same target again")
    pixel = run.screenshot("same-target")
    x, y = target(0, run.width, run.height)
    run.equal(pixel(x, y), (0, 0, 0), "still the first target")
    xdotool("key", "Escape")
    run.equal(run.exit_code(timeout=10), 0, "exit code")


# Faults mid-calibration ---------------------------------------------------


def touch_three_targets(run):
    """Starts the program and touches the first three targets as they come."""
    run.start()
    for i in range(3):
        run.wait_cues(i + 1)
        run.touch(i)


def silent_after_second_target(run):
    touch_three_targets(run)
    run.wait_for("a command to be ignored", lambda: "ignored (silent)" in run.events())
    run.touch(2)
    time.sleep(0.5)
    run.equal(run.cues(), 3, "the third target stays")
    escape_with_nothing_committed(run)
    run.equal(len(run.raw_points()), 2, "two points read")


def silent_before_records(run):
    """Silent from the fifth cue: the records, then the new pass's identity,
    each give up after their last send; Esc pressed during the wait is answered."""
    run.start()
    run.collect()
    started = time.time()
    time.sleep(2)
    xdotool("key", "Escape")
    run.equal(run.exit_code(timeout=60), 0, "exit code")
    took = time.time() - started
    pairs = sends_and_polls(run.trace()[len(PASS_TRACE) - 4:])
    sends = [command for command, _ in pairs]
    print("  silent controller: %d sends, %d polls, %.1f s from the fifth cue to the end" % (
        len(sends), sum(polls for _, polls in pairs), took))
    run.equal(sends, ["Cx"] * SENDS + ["Cy"] * SENDS + ["Cx"] * SENDS + ["Cy"] * SENDS + ["Rs"],
              "records, then the new pass's identity, every send of each, then the abort")
    run.equal(set(polls for _, polls in pairs[:-1]), {POLLS}, "every poll after every send")
    run.equal(run.store_text(), None, "store untouched")


def vanishes_mid_pass(run):
    touch_three_targets(run)
    run.wait_for("the controller to go", lambda: "!Q" in run.trace())
    run.touch(2)
    time.sleep(0.5)
    escape_with_nothing_committed(run)
    trace = run.trace()
    run.check(trace[-1] == "!Rs", "the abort was tried on the gone device (%s)" % trace[-3:])


HOOK_HOLD_LIMIT_MS = 500


def hook_hold_times(run):
    """Milliseconds between the touch hook's call and its return for each
    button release, from Wine's relay trace of hook procedures."""
    with open(os.path.join(run.dir, "stderr.txt"), errors="replace") as f:
        trace = f.read()
    pattern = r"^(\d+\.\d+):\w+:(Call|Ret ) hook proc \w+ \(id=WH_MOUSE_LL,code=0,wp=0000020([258])"
    holds = []
    called = None
    for at, what, _ in re.findall(pattern, trace, re.M):
        if what == "Call":
            called = float(at)
        elif called is not None:
            holds.append(round((float(at) - called) * 1000))
            called = None
    return holds


def slow_transfers(run):
    """Every transfer takes 200 ms: the calibration completes, and the hook
    holds each release for about one read."""
    run.hook_trace = True
    run.start()
    run.collect()
    run.answer(CONFIRM, "Return")
    run.equal(run.exit_code(timeout=60), 0, "exit code")
    run.equal(run.trace(), PASS_TRACE + COMMIT_TRACE, "transfers")
    points = run.raw_points()
    if run.equal(len(points), 4, "touch reads"):
        check_committed(run, points)
    holds = hook_hold_times(run)
    print("  hook hold per release, ms: %s" % holds)
    run.equal(len(holds), 4, "four releases traced through the hook")
    # Windows removes a low-level hook that overruns LowLevelHooksTimeout (at
    # most 1 s): one read of 200 ms is the hook's whole time, two and a half
    # reads' worth is already too much.
    run.check(holds != [] and max(holds) < HOOK_HOLD_LIMIT_MS,
              "the hook holds every release well under one second (under %d ms): %s" % (HOOK_HOLD_LIMIT_MS, holds))


def sends_and_polls(trace):
    """Each command sent with the number of reads that followed it."""
    pairs = []
    for word in trace:
        if word == "get" and pairs:
            pairs[-1][1] += 1
        elif word != "get":
            pairs.append([word, 0])
    return [tuple(p) for p in pairs]


def bad_replies(fault, phase):
    """A reply fault in one phase of the session; never taken for an accept.
    Every kind in every phase is the protocol tests' (Handshake in
    tests/device/controller_protocol_test.cpp); here one kind per phase shows
    the session's way on from there."""
    suffix = {"identity": "", "records": " after-cues 5", "commit": " after-accepts 4"}[phase]

    def scenario(run):
        run.start()
        if phase == "identity":
            if fault == "trailing-bytes":
                run.collect()
                run.answer(CONFIRM, "Return")
            else:
                run.answer(FATAL, "Return")
        elif phase == "records":
            run.collect()
            # The records fail, the new pass's identity fails: the error, then the end.
            run.answer(FATAL, "Return")
        else:
            run.collect()
            run.answer(CONFIRM, "Return")
        run.equal(run.exit_code(timeout=60), 0, "exit code")
        trace = run.trace()
        events = run.events()
        if fault == "trailing-bytes":
            run.equal(trace, PASS_TRACE + COMMIT_TRACE, "replies with bytes after them accepted at once")
            run.check(run.store_text() is not None, "committed")
            return
        pairs = sends_and_polls(trace)
        sends = [command for command, _ in pairs]
        handshakes = {"identity": ["Cx", "Cy"], "records": ["Cx", "Cy", "Cx", "Cy"], "commit": ["CS"]}[phase]
        faulty = [command for command in handshakes for _ in range(SENDS)]
        tail = faulty + (["Rs"] if phase != "commit" else [])
        # The identity phase is the whole session; the others come after a pass.
        run.equal(sends if phase == "identity" else sends[-len(tail):], tail,
                  "every send of each handshake with a bad reply, then the end")
        run.check("WC" not in sends, "no WC")
        run.equal(set(polls for _, polls in pairs[-len(tail):][:len(faulty)]), {POLLS},
                  "every poll after every send of a bad reply")
        run.check(not any(e.startswith("WC accept") for e in events), "nothing committed")
        run.equal(run.store_text(), None, "store untouched")
    return scenario, ["fault %s%s" % (fault, suffix)]
