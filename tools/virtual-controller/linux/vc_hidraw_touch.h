// Where the hidraw interposer takes the finger from when a controller's
// report holds touch packets: a touch source, asked at every GetFeature.
//
// Sources, chosen in this order:
//   1. one installed at run time through KelVcHidrawSetTouchSource (for a
//      harness library preloaded beside the interposer, which can answer
//      with anything it tracks, e.g. the pointer at a button release);
//   2. the one named by KELCALIB_VC_TOUCH_SOURCE in the table of
//      vc_hidraw_touch.cpp (add an entry there for a new kind of source);
//   3. "file" (the default): KELCALIB_VC_TOUCH_FILE names a small text file
//      holding "X Y WIDTH HEIGHT" (touching at X, Y of a WIDTH x HEIGHT
//      screen) or "none" (not touching), re-read at every GetFeature. A
//      missing or malformed file is "not touching" (malformed text is
//      reported once on stderr). Without the variable the finger rests at
//      0, 0 of a 1024 x 768 screen, as in the native adapter.
#ifndef KELCALIB_TOOLS_VC_HIDRAW_TOUCH_H
#define KELCALIB_TOOLS_VC_HIDRAW_TOUCH_H

#include <cstdint>

#include "tools/virtual-controller/virtual_controller.h"

// A touch source fills the position and screen size and returns 1 while
// touching, 0 when not. Plain C types, so a harness in any language can
// provide one.
typedef int (*VcHidrawTouchSource)(std::int32_t* x, std::int32_t* y, std::int32_t* screenWidth,
                                   std::int32_t* screenHeight);

// The touch at this moment, from the source in force.
VcTouch VcHidrawCurrentTouch();

extern "C" {
// Installs `source` in place of the configured one; null goes back to it.
void KelVcHidrawSetTouchSource(VcHidrawTouchSource source);
}

#endif  // KELCALIB_TOOLS_VC_HIDRAW_TOUCH_H
