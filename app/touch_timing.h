// The debounce clock shared by the tracking timer and the touch capture
// hook, and what the hook does with a release. Portable: the Win32 hook and
// window procedure pass GetTickCount values in, the native tests inject them.
#ifndef KELCALIB_APP_TOUCH_TIMING_H
#define KELCALIB_APP_TOUCH_TIMING_H

#include <cstdint>

// A release is accepted once this many milliseconds have gathered (inclusive).
constexpr std::int32_t kDebounceMs = 300;
// Below this the tracking timer adds one extra millisecond per tick.
constexpr std::int32_t kTimerBonusLimitMs = 30000;

// Adds the unsigned 32-bit interval (now - lastTick) to elapsedMs and moves
// lastTick to now. A tick-counter wrap still gives the true interval. The sum
// saturates at INT32_MAX, so weeks of idle time never turn it negative (which
// would refuse every touch until it climbed back).
void AccumulateElapsed(std::uint32_t now);

// One WM_TIMER of the tracking timer: accumulate, then add one more
// millisecond while elapsedMs is below 30000.
void AdvanceTrackingTimer(std::uint32_t now);

// What the hook posts to the calibration window after a release.
enum class ReleasePosts {
    kNothing,       // rejected by the debounce, or four points already stored
    kNext,          // WM_CALIB_NEXT: next target, or the same one again
    kNextAndSolve,  // WM_CALIB_NEXT, then WM_CALIB_SOLVE: the fourth point
};

// Reads the raw position of the current touch; true when one was found, and
// only then are the outputs written.
typedef bool (*TouchPointReader)(std::uint16_t* rawX, std::uint16_t* rawY);

// A button release at tick `now`: accumulates the clock; below 300 ms it is
// rejected. Otherwise elapsedMs restarts at 0 and, while fewer than four
// points are stored, the controller is read once: a point is stored
// zero-extended at rawPoints[pointCount] and pointCount advances. With four
// points already stored the release is discarded without reading or posting,
// so a pass gets exactly one WM_CALIB_SOLVE.
ReleasePosts HandleTouchRelease(std::uint32_t now, TouchPointReader read);

#endif  // KELCALIB_APP_TOUCH_TIMING_H
