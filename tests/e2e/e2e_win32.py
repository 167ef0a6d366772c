#!/usr/bin/env python3
"""kelcalib.exe end to end: the real program under Wine in an X display, the
virtual controller behind the replacement hid.dll and setupapi.dll, touches
made with xdotool.

    e2e_win32.py --exe kelcalib.exe --solve calib-solve --post-close post-close.exe SCENARIO...

Needs DISPLAY and WINEPREFIX of a booted prefix into which the virtual
controller was installed for kelcalib.exe (./check does this). Each scenario
gets its own controller config, log and store in a temporary directory, which
is removed unless it fails. Prints what it measured; exits 1 when a check
failed.
"""
import argparse
import os
import sys

import e2e
from calibration_scenarios import (abandon, buttons_moves_and_debounce, close_during_question, coincident_touches,
                                   full_calibration, logical_maxima, no_controller, no_then_yes,
                                   question_box_fails, second_copy)
from e2e import REJECT_EVERY_SEND, Run, play
from fault_scenarios import (bad_replies, commit_refused, identity_refused, no_packets, records_refused,
                             silent_after_second_target, silent_before_records, slow_transfers,
                             vanishes_mid_pass)


SCENARIOS = {
    # The program's own path on one panel, its raw points and records fixed
    # ones; the solve on every kind of panel is tests/calib's, the records'
    # words as bytes (negative ones too) the protocol test's, and a mirrored
    # panel end to end the Linux scenario logical_max_4095's.
    "full_straight": full_calibration("straight", screenshot=True),
    # One vendor collection, its X and Y read (32767): the same points, the same records.
    "full_straight_vendor_layout": full_calibration("straight", layout="vendor"),
    "no_then_yes": no_then_yes,
    "escape": abandon("esc"),
    "alt_f4": abandon("alt-f4"),
    "wm_close": abandon("wm-close"),
    "no_controller": (no_controller, None),
    "identity_refused": (identity_refused, [REJECT_EVERY_SEND]),
    # The maxima of the collection the program opens: one vendor collection
    # holding the values.
    "logical_max_4095": (logical_maxima(4095), ["layout vendor", "value-caps 2 4095 2047"]),
    "logical_max_none": (logical_maxima(32767), ["layout vendor", "value-caps 0"]),
    # 0..0xFFFF written in two bytes: -1 to the HID class, so 0x7FFF.
    "logical_max_ffff": (logical_maxima(32767), ["layout vendor", "value-caps 2 65535 65535",
                                                 "logical-max-bytes 2"]),
    "records_refused": (records_refused, [REJECT_EVERY_SEND + " after-cues 5"]),
    "commit_refused": (commit_refused, [REJECT_EVERY_SEND + " after-accepts 4"]),
    "coincident_touches": coincident_touches,
    "question_box_fails": question_box_fails,
    "second_copy": second_copy,
    "buttons_moves_debounce": buttons_moves_and_debounce,
    "no_packets": (no_packets, ["fault no-packets"]),
    "silent_after_second_target": (silent_after_second_target, ["fault silent after-cues 3"]),
    "silent_before_records": (silent_before_records, ["fault silent after-cues 5"]),
    "vanishes_mid_pass": (vanishes_mid_pass, ["fault gone-after 0 after-cues 3"]),
    "slow_transfers": (slow_transfers, ["fault slow 200"]),
    "close_during_question": close_during_question,
}
# A bad reply in each phase, a kind of its own in each (every kind in every
# phase is the protocol tests'); bytes after a whole reply are accepted in
# every phase: one run covers them all.
for _fault, _phase in (("other-reply", "identity"), ("no-cr", "records"), ("half-reply", "commit")):
    SCENARIOS["replies_%s_%s" % (_fault.replace("-", "_"), _phase)] = bad_replies(_fault, _phase)
SCENARIOS["replies_trailing_bytes"] = bad_replies("trailing-bytes", "identity")


def run_scenario(name):
    entry = SCENARIOS[name]
    if callable(entry):
        entry = (entry, [])
    function, lines = entry
    return play(Run(name, lines or [], devices=lines is not None), function, name)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--exe", help="kelcalib.exe")
    parser.add_argument("--solve", help="the native calib-solve")
    parser.add_argument("--post-close", help="post-close.exe")
    parser.add_argument("--list", action="store_true", help="list the scenarios")
    parser.add_argument("scenarios", nargs="*")
    options = e2e.OPTIONS = parser.parse_args()
    if options.list:
        print("\n".join(SCENARIOS))
        return 0
    if not (options.exe and options.solve and options.post_close):
        parser.error("--exe, --solve and --post-close are required")
    unknown = [s for s in options.scenarios if s not in SCENARIOS]
    if unknown:
        parser.error("unknown scenario %s (--list names them)" % ", ".join(unknown))
    for variable in ("DISPLAY", "WINEPREFIX"):
        if not os.environ.get(variable):
            parser.error("%s is not set: run under ./check's Wine session" % variable)
    ok = all([run_scenario(s) for s in options.scenarios or list(SCENARIOS)])
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
