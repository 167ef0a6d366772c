// Whether the four touches of a pass have the shape of the targets. The
// targets lie at the corners of a rectangle (0 upper left, 1 lower right,
// 2 upper right, 3 lower left); any panel the firmware can calibrate maps
// that rectangle onto a parallelogram of raw points, so the raw points of
// good touches have p0 + p1 = p2 + p3. A touch that missed its target moves
// one corner off that shape: how far, taken back to screen pixels through
// the mapping the four points themselves give, says how far it missed.
// Exact integer arithmetic; the calibration itself is not touched.
#ifndef KELCALIB_APP_MISCLICK_H
#define KELCALIB_APP_MISCLICK_H

#include <cstdint>

#include "app/session_state.h"

// How far, in screen pixels across or down (the larger of the two, rounded
// toward zero), one touch lies from where the other three put it; -1 when
// the points have no shape to compare (all on one line).
std::int32_t TouchShapeMissPx(const RawPoint raw[kTargetCount], const std::int32_t targetX[kTargetCount],
                              const std::int32_t targetY[kTargetCount]);

// With gSession.misclickPx above 0: true, and the miss in `missPx`, when
// the pass's four points miss the targets' shape by more than that.
bool TouchesMissTargets(std::int32_t* missPx);

#endif  // KELCALIB_APP_MISCLICK_H
