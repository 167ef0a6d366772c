// The touch that vc-uhid's controllers report, set "from the firmware side"
// by a test through a small text file that vc-uhid reads at every GetFeature:
//
//   X Y            touching at pixel X, Y of a 1024 x 768 screen
//   X Y W H        touching at pixel X, Y of a W x H screen
//   none           not touching (also: an empty or missing file)
//
// Write it whole (a new file renamed over the old one) so a read never sees
// half a line.
#ifndef KELCALIB_TOOLS_VIRTUAL_CONTROLLER_UHID_VC_UHID_TOUCH_H
#define KELCALIB_TOOLS_VIRTUAL_CONTROLLER_UHID_VC_UHID_TOUCH_H

#include <cstdint>
#include <string>
#include <vector>

#include "tools/virtual-controller/virtual_controller.h"

// Parses the file's text; false (and `touch` unchanged) for anything else
// than the forms above.
bool ParseTouch(const std::string& text, VcTouch* touch);

// The touch named by the file at `path`. An empty path gives the default
// touch of the native test build (touching at 0, 0 of 1024 x 768); a missing,
// empty or unreadable file and "none" give no touch; a malformed file gives no
// touch and a line on stderr.
VcTouch ReadTouch(const std::string& path);

// What the firmware keeps of the finger. It sends the finger down and up as
// input reports at once; its feature report holds the lifted finger's
// packets for kLiftLingerMs more, so that a host reading the controller on
// the release (as the calibration does) still finds where the finger was,
// and holds none after that (a lift, as kelcalib-ctl watch shows it).
constexpr std::uint64_t kLiftLingerMs = 500;

struct TouchLatch {
    VcTouch last = VcTouch{0, 0, 1024, 768, false};  // where the finger was last down
    bool everTouched = false;
    bool down = false;
    std::uint64_t liftedAtMs = 0;
};

// Takes the finger as the touch file gives it at `nowMs` (milliseconds of a
// steady clock).
void LatchTouch(TouchLatch* latch, const VcTouch& finger, std::uint64_t nowMs);

// The touch the feature report shows at `nowMs`: the finger while it is
// down, its last position for kLiftLingerMs after the lift, else none.
VcTouch ReportedTouch(const TouchLatch& latch, std::uint64_t nowMs);

// The input report controller `controller` (enumeration entry `info`) sends
// for the latched finger: the tip switch down or up at the finger's last
// position, mapped through the calibration the firmware holds now (its
// active records: the identity during a pass, new records once sent, else
// the committed ones). False when there is nothing to send: no finger yet, a
// gone controller, or one without X and Y to report.
bool TouchInputReport(const VcSystem& system, const VcDeviceInfo& info, const TouchLatch& latch,
                      std::vector<std::uint8_t>* report);

#endif  // KELCALIB_TOOLS_VIRTUAL_CONTROLLER_UHID_VC_UHID_TOUCH_H
