// Whether a Wayland compositor offers a seat (its input: touch, pointer,
// keyboard). SDL 2.26's Wayland video driver crashes during start-up on a
// compositor without one, so the program asks first and uses another
// display system instead.
#ifndef KELCALIB_DISPLAY_WAYLAND_PROBE_LINUX_H
#define KELCALIB_DISPLAY_WAYLAND_PROBE_LINUX_H

enum class WaylandSeat {
    kNoCompositor,  // none reachable (WAYLAND_DISPLAY, XDG_RUNTIME_DIR)
    kSeat,
    kNoSeat,
};

// Connects to the compositor SDL would use, lists its globals once, and
// disconnects.
WaylandSeat ProbeWaylandSeat();

// Chooses the display system before SDL starts: when SDL would try Wayland
// (SDL_VIDEODRIVER unset or "wayland") and the compositor offers no seat,
// X11 where there is an X display (SDL_VIDEODRIVER is set to x11); false
// with one line in `error` where there is none.
bool AvoidSeatlessWayland(char* error, int capacity);

#endif  // KELCALIB_DISPLAY_WAYLAND_PROBE_LINUX_H
