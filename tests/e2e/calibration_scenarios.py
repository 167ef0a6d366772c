"""kelcalib.exe end to end: whole calibrations and what the user can do on
the way (the targets drawn, No then Yes, the ways to leave, buttons, moves
and double taps, a second copy, coincident touches, a question box that
fails). Played by e2e_win32.py; the Linux scenarios play some of them too."""
import subprocess
import time

from e2e import (BACKGROUND, COMMIT_TRACE, CONFIRM, FATAL, PASS_TRACE, SCREEN_TARGETS,
                 check_committed, check_straight, escape_with_nothing_committed, row_bands, target, xdotool)


def full_calibration(panel, screenshot=False, layout=None):
    """A whole calibration on `panel`; on the controller's default layout (a
    touch screen collection the program cannot open, then the vendor one it
    calibrates through, without X or Y: 0x7FFF) or on `layout`."""
    def scenario(run):
        run.start()
        run.wait_cues(1)
        if screenshot:
            check_first_target(run)
            run.touch(0)
            run.wait_cues(2)
            check_second_target(run)
        run.collect(start=1 if screenshot else 0)
        run.answer(CONFIRM, "Return")
        run.equal(run.exit_code(), run.EXIT["calibrated"], "exit code")
        run.equal(run.trace(), PASS_TRACE + COMMIT_TRACE, "transfers")
        points = run.raw_points()
        if not run.equal(len(points), 4, "touch reads with a packet"):
            return
        worst = check_committed(run, points)
        print("  panel %s: raw points %s, worst error at the targets %d device units" % (panel, points, worst))
        if panel == "straight":
            run.check(worst <= 2, "straight panel: every target within 2 device units (worst %d)" % worst)
            check_straight(run, points)
    return scenario, ["panel " + panel] + (["layout " + layout] if layout else [])


TARGET_RADIUS_MM = 10


def expected_radius(height):
    """The radius the program draws on a display `height` pixels high: 10 mm
    of the height in millimetres the system reports, which Wine takes at its
    96 pixels per inch (768 rows: 203 mm, so 37 px; the X server's own 195 mm
    would give 39)."""
    millimetres = (height * 254 + 480) // 960
    return height * TARGET_RADIUS_MM // millimetres


def check_first_target(run):
    time.sleep(0.5)
    pixel = run.screenshot("first-target")
    x, y = target(0, run.width, run.height)
    black = (0, 0, 0)
    dark = lambda px, py: sum(pixel(px, py)) < 300
    run.equal(pixel(x, y), black, "the cross's centre")
    # The vertical bar runs from the circle's top to one pixel short of its
    # bottom: its length upwards is the radius.
    radius = 0
    while radius < 200 and dark(x, y - radius - 1):
        radius += 1
    print("  target radius %d px" % radius)
    run.equal(radius, expected_radius(run.height), "10 mm of the display's height as Wine reports it")
    diagonal = int(round(radius * 0.7071))
    for sx, sy in ((1, 1), (1, -1), (-1, 1), (-1, -1)):
        near = any(dark(x + sx * diagonal + dx, y + sy * diagonal + dy) for dx in (-1, 0, 1) for dy in (-1, 0, 1))
        run.check(near, "the circle passes (%d, %d) from the centre" % (sx * diagonal, sy * diagonal))
    run.check(dark(x - radius, y) and dark(x + radius, y), "the circle at both ends of the bar")
    run.equal(pixel(x + radius // 2, y + radius // 2), BACKGROUND, "grey inside the circle")
    run.equal(pixel(x + radius + 5, y + radius + 5), BACKGROUND, "grey outside the circle")
    for i in (1, 2, 3):
        tx, ty = target(i, run.width, run.height)
        run.equal(pixel(tx, ty), BACKGROUND, "no cross at target %d yet" % i)
    # The three texts: on the first, third and fifth line from the top.
    rows = [yy for yy in range(0, y - radius - 1) if any(dark(xx, yy) for xx in range(0, run.width, 1))]
    runs = row_bands(rows)
    starts = [r[0] for r in runs]
    if run.equal(len(runs), 3, "three text lines above the target"):
        run.check(starts[1] - starts[0] == starts[2] - starts[1] and runs[0][1] - runs[0][0] < starts[1] - starts[0] - 1,
                  "the texts on every other line (rows %s)" % runs)


def check_second_target(run):
    """After the first touch: the first target erased, one target at the
    second position and nothing else below the texts, which stand on grey."""
    time.sleep(0.5)
    pixel = run.screenshot("second-target")
    first = target(0, run.width, run.height)
    second = target(1, run.width, run.height)
    run.equal(pixel(*first), BACKGROUND, "the first target's centre erased")
    run.equal(pixel(*second), (0, 0, 0), "the second target's centre")
    radius = 0
    while radius < 200 and sum(pixel(second[0], second[1] - radius - 1)) < 300:
        radius += 1
    top = first[1] - radius - 1  # the texts lie above the first target's row
    lighter = sum(1 for y in range(0, top) for x in range(0, run.width, 2)
                  if max(pixel(x, y)) > BACKGROUND[0])
    run.equal(lighter, 0, "pixels lighter than the grey around the texts")
    stray = [(x, y) for y in range(top, run.height, 2) for x in range(0, run.width, 2)
             if pixel(x, y) != BACKGROUND and max(abs(x - second[0]), abs(y - second[1])) > radius + 1]
    run.equal(stray[:5], [], "drawn pixels below the texts away from the second target")


def no_then_yes(run):
    run.start()
    run.collect()
    run.answer(CONFIRM, "n")
    run.collect(first_cue=6)
    run.answer(CONFIRM, "Return")
    run.equal(run.exit_code(), run.EXIT["calibrated"], "exit code")
    run.equal(run.trace(), PASS_TRACE + PASS_TRACE + COMMIT_TRACE, "transfers: identity again, a new pass")
    events = run.events()
    identity = [i for i, e in enumerate(events) if e in ("Cx accept 1 0 0 1", "Cy accept 0 1 0 1")]
    run.equal(len(identity), 4, "identity sent at each pass")
    points = run.raw_points()
    if run.equal(len(points), 8, "touch reads"):
        check_committed(run, points[4:], "second pass: ")


def abandon_by(leave):
    """The session left by `leave(run)` after the first touch: exit 0, one
    abort command last, nothing committed."""
    def scenario(run):
        run.start()
        run.wait_cues(1)
        run.touch(0)
        run.wait_cues(2)
        time.sleep(0.4)
        leave(run)
        run.equal(run.exit_code(timeout=10), run.EXIT["abandoned"], "exit code")
        trace = run.trace()
        run.equal(trace[-1:], ["Rs"], "the abort command ends the transfers")
        run.equal(trace.count("Rs"), 1, "one abort command")
        run.check("CS" not in trace and "WC" not in trace, "nothing committed")
        run.equal(run.store_text(), None, "store untouched")
    return scenario


def abandon(how):
    """Esc, Alt+F4 or a WM_CLOSE posted to the window."""
    def leave(run):
        if how == "esc":
            xdotool("key", "Escape")
        elif how == "alt-f4":
            xdotool("key", "alt+F4")
        else:
            run.post_close()
    return abandon_by(leave)


def no_controller(run):
    run.start()
    box = run.wait_box(FATAL)
    boxes = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", ".+"], capture_output=True,
                           text=True).stdout.split()
    run.equal(len(boxes), 1, "one visible window: the box")
    geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", box], capture_output=True,
                              text=True).stdout
    g = dict(line.split("=") for line in geometry.split())
    cx = int(g["X"]) + int(g["WIDTH"]) // 2
    cy = int(g["Y"]) + int(g["HEIGHT"]) // 2
    run.check(abs(cx - run.width // 2) <= 2 and abs(cy - run.height // 2) <= 2,
              "the box is centred on the screen (its centre is at %d, %d)" % (cx, cy))
    pixel = run.screenshot("no-controller")
    corner = pixel(5, 5)
    run.check(corner != BACKGROUND, "no calibration window behind the box")
    xdotool("key", "Return")
    run.equal(run.exit_code(timeout=10), run.EXIT["no_controller"], "exit code")
    run.equal(run.trace(), [], "no transfers")


def logical_maxima(logical_max):
    """A whole calibration solved for the maximum the controller reports (or
    32767 when it reports none)."""
    def scenario(run):
        run.start()
        run.collect()
        run.answer(CONFIRM, "Return")
        run.equal(run.exit_code(), run.EXIT["calibrated"], "exit code")
        points = run.raw_points()
        if run.equal(len(points), 4, "touch reads with a packet"):
            check_committed(run, points, "maximum %d: " % logical_max, logical_max)
    return scenario


def new_pass_without_commit(run, after_pass, message):
    """After a whole pass and then `after_pass`: identity and the first target
    again; Esc then ends the session with nothing committed."""
    run.wait_cues(SCREEN_TARGETS + 2)
    trace = run.trace()
    first = PASS_TRACE[:-4]
    run.equal(trace[:len(first)], first, "a whole pass")
    run.equal(trace[len(first):], after_pass + ["Cx", "get", "Cy", "get", "Q"], message)
    escape_with_nothing_committed(run)


def coincident_touches(run):
    """Four touches on one spot: the solve finds no calibration, so none is
    sent (it would put every touch there) and a new pass starts."""
    run.start()
    for i in range(SCREEN_TARGETS):
        run.wait_cues(i + 1)
        run.touch(0)
    new_pass_without_commit(run, [], "no records: identity and the first target again")


def question_box_fails(run):
    """The question's box cannot open (the replacement hid.dll refuses the
    program's dialog windows): unanswered is No, never Yes."""
    run.extra_env = {"KELCALIB_VC_REFUSE_BOXES": "1"}
    run.start()
    run.collect()
    new_pass_without_commit(run, ["Cx", "get", "Cy", "get"],
                            "the records, then identity and the first target again")


def second_copy(run):
    run.start()
    run.wait_cues(1)
    before = run.trace()
    second = run.spawn()
    run.equal(run.exit_code(timeout=20, proc=second), run.EXIT["cannot_start"], "exit code of the second copy")
    run.equal(run.trace(), before, "the second copy made no transfers")
    xdotool("key", "Escape")
    run.equal(run.exit_code(timeout=10), run.EXIT["abandoned"], "exit code of the first copy")


def buttons_moves_and_debounce(run):
    run.start()
    run.wait_cues(1)
    run.touch(0, button=3)  # right button
    run.wait_cues(2)
    # Moves and the wheel between touches reach no device.
    for step in range(20):
        xdotool("mousemove", 100 + 30 * step, 200 + 10 * step)
    xdotool("click", 4)
    xdotool("click", 5)
    run.touch(1, button=2)  # middle button
    run.wait_cues(3)
    # A double tap: the second release comes within 300 ms and is dropped.
    run.double_tap(2)
    run.wait_cues(4)
    time.sleep(0.5)
    run.equal(run.cues(), 4, "one target further for a double tap")
    run.touch(3)
    run.wait_cues(5)
    run.answer(CONFIRM, "Return")
    run.equal(run.exit_code(), run.EXIT["calibrated"], "exit code")
    run.equal(run.trace(), PASS_TRACE + COMMIT_TRACE, "one read per accepted release, none for anything else")


def close_during_question(run):
    run.start()
    run.collect()
    run.wait_box(CONFIRM)
    run.post_close()
    run.equal(run.exit_code(timeout=15), run.EXIT["abandoned"], "exit code")
    trace = run.trace()
    run.equal(trace, PASS_TRACE + ["Rs"], "the abort and nothing after it")
    run.equal(run.store_text(), None, "store untouched")
