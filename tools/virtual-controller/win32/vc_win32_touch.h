// The finger of the replacement hid.dll: where a touch is at the moment of
// a read.
#ifndef KELCALIB_TOOLS_VC_WIN32_TOUCH_H
#define KELCALIB_TOOLS_VC_WIN32_TOUCH_H

#include <windows.h>

#include "tools/virtual-controller/virtual_controller.h"

// With KELCALIB_VC_TOUCH_FILE set, the touch that file holds ("X Y WIDTH
// HEIGHT", "X Y" on the screen's own size; anything else, or no file, is no
// finger); otherwise the pointer (GetCursorPos) on the screen
// (GetSystemMetrics), always touching.
VcTouch VcCurrentTouch();

#endif  // KELCALIB_TOOLS_VC_WIN32_TOUCH_H
