// The X server's side of the displays (RandR): which output shows an area
// of the desktop, at what rotation and physical size, and the desktop's
// own size.
#ifndef KELCALIB_DISPLAY_X11_DISPLAY_LINUX_H
#define KELCALIB_DISPLAY_X11_DISPLAY_LINUX_H

#include <cstdint>

#include "display/display_mapping.h"

typedef struct _XDisplay Display;
struct DisplayFacts;

// The X screen a window lies on (the default one when it cannot be told).
int X11ScreenOfWindow(Display* display, unsigned long window);

// The first connected output of X screen `screen` whose CRTC shows exactly
// `area` (in that screen's coordinates): its name, rotation (RandR's
// quarter turns counter-clockwise; reflections are not counted) and
// physical size turned with it (0 where the output reports none). False
// when no output shows that area.
bool X11OutputFacts(Display* display, int screen, const DisplayArea& area, DisplayFacts* facts);

// The desktop (the default X screen) in pixels.
void X11DesktopSize(Display* display, std::int32_t* width, std::int32_t* height);

// The areas of the desktop that outputs show (connected, with a CRTC), each
// once (outputs that mirror one another share one), with the first such
// output's name: fills at most `capacity` and returns how many there are;
// 0 without RandR.
struct X11Output {
    DisplayArea area;
    char name[64];
};
int X11ShownAreas(Display* display, X11Output* outputs, int capacity);

#endif  // KELCALIB_DISPLAY_X11_DISPLAY_LINUX_H
