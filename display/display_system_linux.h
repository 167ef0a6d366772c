// Which display system the programs meet, and what differs between them:
// the one place that names X11, Wayland and KMS/DRM (the console). The
// calibration program and the support tool ask here; the rest of this room
// serves each system.
#ifndef KELCALIB_DISPLAY_DISPLAY_SYSTEM_LINUX_H
#define KELCALIB_DISPLAY_DISPLAY_SYSTEM_LINUX_H

#include "display/display_mapping.h"

struct SDL_Window;
typedef struct _XDisplay Display;

enum class DisplaySystem {
    kNone,     // nothing is shown (SDL's offscreen or dummy driver)
    kX11,
    kWayland,
    kKmsDrm,   // the console, without a display server
    kOther,    // a display SDL knows that this program has no rules for
};

// Before SDL starts: keeps SDL's Wayland driver off a compositor that
// offers no seat (SDL 2.26 crashes there): X11 instead where there is an X
// display. False with one line in `error` where there is nothing else.
bool ChooseDisplaySystem(char* error, int capacity);

// Once SDL runs: the system its video driver shows on. kNone for a driver
// that shows nothing (offscreen, dummy) unless SDL_VIDEODRIVER asked for it
// by name.
DisplaySystem SdlDisplaySystem();

// Without SDL (kelcalib-ctl doctor): the session the environment names:
// Wayland when WAYLAND_DISPLAY is set, else X11 when DISPLAY is, else none.
DisplaySystem EnvironmentDisplaySystem();

// Where the compositor places windows itself (Wayland): the calibration
// window asks for full screen on its display instead of taking its bounds.
bool CompositorPlacesWindows(DisplaySystem system);

// How SDL should hand its frames over on `system`, set before the renderer
// is made (an SDL_FRAMEBUFFER_ACCELERATION in the environment still wins).
void ChooseFramePresentation(DisplaySystem system);

// The X connection `window` is shown through (X11), else null.
Display* WindowXConnection(SDL_Window* window);

// Whether the compositor, not the X server's own input devices, maps the
// touch: Wayland, or X11 through Xwayland.
bool CompositorMapsTouch(DisplaySystem system);

// Whether some output of the X server still shows `area`; `*known` false
// where that cannot be told (not X11, or no output showed it to begin with
// is the caller's to decide).
bool AreaStillShown(SDL_Window* window, const DisplayArea& area, bool* known);

// When the connection to the X server breaks, `leave` runs (the abort step
// of whatever the program holds) and the process ends with the status it
// returns: Xlib would otherwise end it at once, with status 1.
void OnDisplayServerLost(int (*leave)());

#endif  // KELCALIB_DISPLAY_DISPLAY_SYSTEM_LINUX_H
