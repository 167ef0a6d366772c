// The touch-to-display mapping of one calibration session. On X11 the X
// input devices that carry the controller's touches get a coordinate
// transformation matrix that spreads the controller's whole range over the
// calibrated display from the start of the session, so that the cursor
// follows the finger there when the question is asked. No puts back what
// they held (the next question maps again); Esc, a close request, a signal
// and every other exit put it back too; Yes keeps it and says how to make it
// last. Elsewhere Yes prints the compositor's setting (Wayland) or nothing
// (the console).
#ifndef KELCALIB_DISPLAY_TOUCH_MAPPING_LINUX_H
#define KELCALIB_DISPLAY_TOUCH_MAPPING_LINUX_H

#include <cstdint>

#include "device/hid_enumerate.h"
#include "display/display_mapping.h"

struct SDL_Window;

// The calibrated display: the window on it, its area of the desktop, its
// turn (quarter turns counter-clockwise) and its name.
struct MappedDisplay {
    SDL_Window* window;
    DisplayArea area;
    std::int32_t orientation;
    char name[64];
};

// Once the controller (at /dev/hidraw`node`, as `controller` tells it) is
// open and the window shows: finds the controller's event devices and, on
// X11, its X devices and their matrices as they are.
void PrepareDisplayMapping(unsigned node, const HidInterfaceInfo& controller,
                           const MappedDisplay& display, bool persist);

// At the start and before each question: maps the whole range onto the
// calibrated display (nothing when it is mapped already).
void ApplyDisplayMapping();

// After No or a closed question, and at every exit: puts the matrices back
// as they were; nothing when they were not changed or are kept.
void RestoreDisplayMapping();

// After Yes and a committed calibration: keeps the mapping and prints on
// stdout the X configuration that makes it last (written to
// /etc/X11/xorg.conf.d/ with --persist, as root), or the compositor's step.
void KeepDisplayMapping();

#endif  // KELCALIB_DISPLAY_TOUCH_MAPPING_LINUX_H
