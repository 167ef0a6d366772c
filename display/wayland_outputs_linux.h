// The Wayland compositor's own name of the output that shows a display
// (wl_output's name from version 4 of the interface, else xdg-output's from
// its version 2), for the advice that
// ties the touch screen to it: SDL names a Wayland display by its
// monitor's make and model, which no compositor's setting takes.
#ifndef KELCALIB_DISPLAY_WAYLAND_OUTPUTS_LINUX_H
#define KELCALIB_DISPLAY_WAYLAND_OUTPUTS_LINUX_H

#include <cstddef>

#include "display/display_mapping.h"

// The name (printable text, device/name_text.h) of the output at `area`'s
// position in the compositor's space (or the only output there is). False,
// with `name` empty, without a compositor, an output there or a name.
bool WaylandOutputName(const DisplayArea& area, char* name, std::size_t size);

#endif  // KELCALIB_DISPLAY_WAYLAND_OUTPUTS_LINUX_H
