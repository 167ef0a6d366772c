#include "app/touch_timing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "app/session_state.h"

namespace {

// The fake controller: how many reads happened and what the next read finds.
int gReads = 0;
bool gHasPacket = true;
std::uint16_t gNextX = 0;
std::uint16_t gNextY = 0;

bool FakeRead(std::uint16_t* rawX, std::uint16_t* rawY) {
    ++gReads;
    if (!gHasPacket) {
        return false;
    }
    *rawX = gNextX;
    *rawY = gNextY;
    return true;
}

class TouchTiming : public ::testing::Test {
protected:
    void SetUp() override {
        gSession = InitialSessionState();
        gReads = 0;
        gHasPacket = true;
        gNextX = 100;
        gNextY = 200;
    }
};

TEST_F(TouchTiming, TimerAddsMeasuredTimePlusOneBelowThirtySeconds) {
    gSession.elapsedMs = 29990;
    gSession.lastTick = 1000;
    AdvanceTrackingTimer(1005);
    EXPECT_EQ(gSession.elapsedMs, 29996);
    EXPECT_EQ(gSession.lastTick, 1005u);

    gSession.elapsedMs = 29999;
    gSession.lastTick = 1000;
    AdvanceTrackingTimer(1005);
    EXPECT_EQ(gSession.elapsedMs, 30004) << "no extra millisecond from 30000 on";
}

TEST_F(TouchTiming, TimerTicksAloneReachTheDebounce) {
    // 150 ticks of 1 ms each are worth 300 ms: the timer's extra millisecond.
    gSession.lastTick = 5000;
    for (std::uint32_t t = 5001; t <= 5150; ++t) {
        AdvanceTrackingTimer(t);
    }
    EXPECT_EQ(gSession.elapsedMs, 300);
    EXPECT_EQ(HandleTouchRelease(5150, FakeRead), ReleasePosts::kNext);
}

TEST_F(TouchTiming, DebounceBoundaryIsInclusive) {
    gSession.lastTick = 1000;
    EXPECT_EQ(HandleTouchRelease(1299, FakeRead), ReleasePosts::kNothing);
    EXPECT_EQ(gSession.elapsedMs, 299);
    EXPECT_EQ(gSession.lastTick, 1299u) << "a rejected release still moves lastTick";
    EXPECT_EQ(gReads, 0);
    EXPECT_EQ(HandleTouchRelease(1300, FakeRead), ReleasePosts::kNext);
    EXPECT_EQ(gSession.elapsedMs, 0);
    EXPECT_EQ(gReads, 1);
    EXPECT_EQ(gSession.pointCount, 1);
}

TEST_F(TouchTiming, TickCounterWrapGivesTheTrueInterval) {
    gSession.lastTick = 0xFFFFFF00u;
    // 0x100 + 0x2C = 300 ms across the wrap.
    EXPECT_EQ(HandleTouchRelease(0x2Cu, FakeRead), ReleasePosts::kNext);
    EXPECT_EQ(gSession.pointCount, 1);
}

TEST_F(TouchTiming, ElapsedTimeSaturatesOverLongIdle) {
    gSession.lastTick = 0;
    gSession.elapsedMs = 0;
    // About 49 days of wrapped tick intervals would overflow a plain sum.
    for (int i = 0; i < 3; ++i) {
        AdvanceTrackingTimer(static_cast<std::uint32_t>(i + 1) * 0xF0000000u);
    }
    EXPECT_EQ(gSession.elapsedMs, std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(HandleTouchRelease(gSession.lastTick + 1, FakeRead), ReleasePosts::kNext)
        << "a touch after a long idle time is still accepted";
}

TEST_F(TouchTiming, FourPointsPostSolveOnceAndAFifthIsDiscarded) {
    const ReleasePosts want[4] = {ReleasePosts::kNext, ReleasePosts::kNext, ReleasePosts::kNext,
                                  ReleasePosts::kNextAndSolve};
    std::uint32_t now = 1000;
    for (int i = 0; i < 4; ++i) {
        now += 300;
        gNextX = static_cast<std::uint16_t>(10 * i);
        gNextY = static_cast<std::uint16_t>(20 * i);
        EXPECT_EQ(HandleTouchRelease(now, FakeRead), want[i]) << i;
    }
    ASSERT_EQ(gSession.pointCount, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(gSession.rawPoints[i].x, 10 * i);
        EXPECT_EQ(gSession.rawPoints[i].y, 20 * i);
    }
    now += 300;
    EXPECT_EQ(HandleTouchRelease(now, FakeRead), ReleasePosts::kNothing);
    EXPECT_EQ(gReads, 4) << "the fifth release does not read the controller";
    EXPECT_EQ(gSession.pointCount, 4);
    EXPECT_EQ(gSession.rawPoints[3].x, 30);
}

TEST_F(TouchTiming, NoPacketKeepsTheTargetAndRestartsTheInterval) {
    gSession.lastTick = 0;
    gHasPacket = false;
    gSession.rawPoints[0].x = 77;
    EXPECT_EQ(HandleTouchRelease(400, FakeRead), ReleasePosts::kNext);
    EXPECT_EQ(gSession.pointCount, 0);
    EXPECT_EQ(gSession.rawPoints[0].x, 77);
    EXPECT_EQ(gSession.elapsedMs, 0);
    gHasPacket = true;
    EXPECT_EQ(HandleTouchRelease(650, FakeRead), ReleasePosts::kNothing) << "250 ms later";
    EXPECT_EQ(HandleTouchRelease(700, FakeRead), ReleasePosts::kNext);
    EXPECT_EQ(gSession.pointCount, 1);
}

TEST_F(TouchTiming, RawCoordinatesAreZeroExtended) {
    gSession.lastTick = 0;
    gNextX = 0xFFFF;
    gNextY = 0x8000;
    HandleTouchRelease(300, FakeRead);
    EXPECT_EQ(gSession.rawPoints[0].x, 65535);
    EXPECT_EQ(gSession.rawPoints[0].y, 32768);
}

}  // namespace
