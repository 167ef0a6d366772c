// What the program knows of the display it calibrates on beyond SDL's
// bounds: its physical size as shown, its rotation and its output's name,
// from the system that shows it (X11: RandR; KMS/DRM: the connector).
#ifndef KELCALIB_DISPLAY_DISPLAY_FACTS_LINUX_H
#define KELCALIB_DISPLAY_DISPLAY_FACTS_LINUX_H

#include <cstdint>

#include "display/display_mapping.h"

struct SDL_Window;

struct DisplayFacts {
    std::int32_t widthMm;      // physical size as shown; 0 when unknown
    std::int32_t heightMm;
    std::int32_t orientation;  // quarter turns counter-clockwise, 0..3
    char name[64];             // the output's or connector's name, else SDL's, as
                               // printable text (device/name_text.h)
};

// Facts of display `display` (bounds `area`), shown by `window`, which lies
// on it (or, without a window, asked through a connection of its own). X11: the RandR output whose CRTC shows exactly that area (its
// millimetres turned with its rotation); KMS/DRM: the connector SDL counts
// as that display (no rotation); elsewhere the height SDL's vertical dots per
// inch give, and no rotation. Sizes stay 0 where none is known.
void ReadDisplayFacts(SDL_Window* window, int display, const DisplayArea& area,
                      DisplayFacts* facts);

// "WxH mm, turned left" or "no size known": how --list-displays tells it.
void DescribeDisplayFacts(const DisplayFacts& facts, char* text, int size);

#endif  // KELCALIB_DISPLAY_DISPLAY_FACTS_LINUX_H
