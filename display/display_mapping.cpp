#include "display/display_mapping.h"

#include <cmath>

namespace {

bool QuarterTurn(std::int32_t orientation) {
    return orientation == 1 || orientation == 3;
}

}  // namespace

bool TouchMatrixForDisplay(std::int32_t desktopWidth, std::int32_t desktopHeight,
                           const DisplayArea& area, std::int32_t orientation, double matrix[9]) {
    if (desktopWidth <= 0 || desktopHeight <= 0 || area.width <= 0 || area.height <= 0) {
        return false;
    }
    // The turn from the panel's (u, v) to the display's own (s, t), each
    // 0..1: the inverse of the arrangement of expected positions the solve
    // uses for the same orientation, so that a calibrated touch lands where
    // it was made. Rows (s) and (t) of [a b c].
    double turn[6] = {1, 0, 0, 0, 1, 0};
    if (orientation == 1) {  // s = 1 - v, t = u
        const double t[6] = {0, -1, 1, 1, 0, 0};
        for (int i = 0; i < 6; ++i) turn[i] = t[i];
    } else if (orientation == 2) {  // s = 1 - u, t = 1 - v
        const double t[6] = {-1, 0, 1, 0, -1, 1};
        for (int i = 0; i < 6; ++i) turn[i] = t[i];
    } else if (orientation == 3) {  // s = v, t = 1 - u
        const double t[6] = {0, 1, 0, -1, 0, 1};
        for (int i = 0; i < 6; ++i) turn[i] = t[i];
    }
    // Then the display's share of the desktop: x = s * w / W + x0 / W.
    const double scaleX = static_cast<double>(area.width) / desktopWidth;
    const double scaleY = static_cast<double>(area.height) / desktopHeight;
    const double shiftX = static_cast<double>(area.x) / desktopWidth;
    const double shiftY = static_cast<double>(area.y) / desktopHeight;
    matrix[0] = scaleX * turn[0];
    matrix[1] = scaleX * turn[1];
    matrix[2] = scaleX * turn[2] + shiftX;
    matrix[3] = scaleY * turn[3];
    matrix[4] = scaleY * turn[4];
    matrix[5] = scaleY * turn[5] + shiftY;
    matrix[6] = 0;
    matrix[7] = 0;
    matrix[8] = 1;
    return true;
}

bool IsIdentityMatrix(const double matrix[9]) {
    for (int i = 0; i < 9; ++i) {
        const double want = (i % 4 == 0) ? 1.0 : 0.0;
        if (std::fabs(matrix[i] - want) > 1e-6) return false;
    }
    return true;
}

void SizeAsShown(std::int32_t panelWidthMm, std::int32_t panelHeightMm, std::int32_t orientation,
                 std::int32_t* shownWidthMm, std::int32_t* shownHeightMm) {
    const bool swap = QuarterTurn(orientation);
    *shownWidthMm = swap ? panelHeightMm : panelWidthMm;
    *shownHeightMm = swap ? panelWidthMm : panelHeightMm;
}
