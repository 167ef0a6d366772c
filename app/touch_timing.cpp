#include "app/touch_timing.h"

#include <cstdint>
#include <limits>

#include "app/session_state.h"

void AccumulateElapsed(std::uint32_t now) {
    const std::uint32_t interval = now - gSession.lastTick;  // wraps like the tick counter
    const std::int64_t sum = static_cast<std::int64_t>(gSession.elapsedMs) + interval;
    const std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    gSession.elapsedMs = static_cast<std::int32_t>(sum < limit ? sum : limit);
    gSession.lastTick = now;
}

void AdvanceTrackingTimer(std::uint32_t now) {
    AccumulateElapsed(now);
    if (gSession.elapsedMs < kTimerBonusLimitMs) {
        gSession.elapsedMs += 1;
    }
}

ReleasePosts HandleTouchRelease(std::uint32_t now, TouchPointReader read) {
    AccumulateElapsed(now);
    if (gSession.elapsedMs < kDebounceMs) {
        return ReleasePosts::kNothing;
    }
    gSession.elapsedMs = 0;
    if (gSession.pointCount < 0 || gSession.pointCount >= kTargetCount) {
        return ReleasePosts::kNothing;
    }
    std::uint16_t rawX = 0;
    std::uint16_t rawY = 0;
    if (!read(&rawX, &rawY)) {
        return ReleasePosts::kNext;
    }
    RawPoint& point = gSession.rawPoints[gSession.pointCount];
    point.x = static_cast<std::int32_t>(rawX);  // zero-extended: 0xFFFF is 65535
    point.y = static_cast<std::int32_t>(rawY);
    gSession.pointCount += 1;
    return gSession.pointCount == kTargetCount ? ReleasePosts::kNextAndSolve : ReleasePosts::kNext;
}
