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

#include <string>

#include "tools/virtual-controller/virtual_controller.h"

// Parses the file's text; false (and `touch` unchanged) for anything else
// than the forms above.
bool ParseTouch(const std::string& text, VcTouch* touch);

// The touch named by the file at `path`. An empty path gives the default
// touch of the native test build (touching at 0, 0 of 1024 x 768); a missing,
// empty or unreadable file and "none" give no touch; a malformed file gives no
// touch and a line on stderr.
VcTouch ReadTouch(const std::string& path);

#endif  // KELCALIB_TOOLS_VIRTUAL_CONTROLLER_UHID_VC_UHID_TOUCH_H
