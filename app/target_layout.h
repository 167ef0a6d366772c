// Where the four targets lie, which pixels make up one target circle, and
// the target radius in pixels. Portable: the drawing code on Windows and the
// native tests share it.
#ifndef KELCALIB_APP_TARGET_LAYOUT_H
#define KELCALIB_APP_TARGET_LAYOUT_H

#include <cstdint>

// Fills entries 0..count-1 of targetX/targetY with the target centres for a
// W x H window: upper left, lower right, upper right, lower left, centre.
// Each coordinate is (n * size) / 5 with the multiplication first. Returns
// true for a count of 1 to 5; any other count writes nothing and returns false.
bool LayoutTargets(std::uint8_t count, std::int32_t width, std::int32_t height,
                   std::int32_t* targetX, std::int32_t* targetY);

// Called once per eight-way plot of the midpoint circle with the offset (a, b).
typedef void (*CirclePlotFunction)(void* context, std::int32_t a, std::int32_t b);

// Integer midpoint circle: calls `plot` with each offset (a, b) of the first
// octant in order, and once more for the diagonal when the loop ends on it.
// Radius 0 gives the single offset (0, 0); a negative radius gives none.
void TraceCircleOffsets(std::int32_t radius, CirclePlotFunction plot, void* context);

// Target radius in pixels for a radius in millimetres on a display of
// `verticalPixels` rows over `verticalMillimetres`: (rows * mm) / height,
// truncated. A display that reports no physical height (0 or less) gets the
// radius from its logical pixels per inch instead (96 when that is unknown
// too), so the radius never comes from a division by zero.
std::int32_t TargetRadiusPixels(std::int32_t radiusMm, std::int32_t verticalPixels,
                                std::int32_t verticalMillimetres, std::int32_t pixelsPerInchY);

// Top-left corner that centres a box of the given outer rectangle on the
// main window's rectangle, each halving truncating toward zero.
struct BoxOrigin {
    std::int32_t x;
    std::int32_t y;
};
BoxOrigin CenteredBoxOrigin(std::int32_t mainLeft, std::int32_t mainTop, std::int32_t mainRight,
                            std::int32_t mainBottom, std::int32_t boxWidth,
                            std::int32_t boxHeight);

#endif  // KELCALIB_APP_TARGET_LAYOUT_H
