// Where a touch controller's whole range goes on a desktop of several
// displays, and a display's physical size as it is shown. Portable: the
// Linux program's X11 mapping and the native tests share it.
//
// The controller's firmware keeps the panel's own orientation (the solve
// takes the display's orientation into account, calib/calibration_solve.h);
// the system turns the touch with the display. Orientations are those of
// the session record: 0 none, 1, 2 and 3 quarter turns counter-clockwise
// (any other value counts as 0).
#ifndef KELCALIB_DISPLAY_DISPLAY_MAPPING_H
#define KELCALIB_DISPLAY_DISPLAY_MAPPING_H

#include <cstdint>

// One display's rectangle in the desktop's pixels.
struct DisplayArea {
    std::int32_t x;
    std::int32_t y;
    std::int32_t width;
    std::int32_t height;
};

// The 3 x 3 matrix, row by row, that takes a touch at (u, v, 1) of the
// controller's range (u and v 0..1 across the panel in its own orientation)
// to (x, y, 1) of the desktop (x and y 0..1 across its width and height):
// turned by the display's orientation, then scaled and moved onto `area`.
// This is the form of X's coordinate transformation matrix. False, with
// nothing written, when a size is 0 or negative.
bool TouchMatrixForDisplay(std::int32_t desktopWidth, std::int32_t desktopHeight,
                           const DisplayArea& area, std::int32_t orientation, double matrix[9]);

// True when `matrix` is the identity (each entry within 1e-6): the touch
// spans the whole desktop.
bool IsIdentityMatrix(const double matrix[9]);

// The display's physical size as it is shown, from the panel's own: width
// and height change places for a quarter turn (orientation 1 or 3).
void SizeAsShown(std::int32_t panelWidthMm, std::int32_t panelHeightMm, std::int32_t orientation,
                 std::int32_t* shownWidthMm, std::int32_t* shownHeightMm);

#endif  // KELCALIB_DISPLAY_DISPLAY_MAPPING_H
