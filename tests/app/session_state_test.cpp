#include "app/session_state.h"

#include <gtest/gtest.h>

TEST(SessionState, StartsZeroedButForVendorIdAndRadius) {
    const SessionState state = InitialSessionState();
    EXPECT_EQ(state.vendorId, static_cast<std::uint16_t>(KELCALIB_VENDOR_ID));
    EXPECT_NE(state.vendorId, 0x845E) << "Wine's own virtual mouse and keyboard use that ID";
    EXPECT_EQ(state.targetRadiusMm, 10);
    EXPECT_EQ(state.device, nullptr);
    EXPECT_EQ(state.pointCount, 0);
    EXPECT_EQ(state.elapsedMs, 0);
    EXPECT_EQ(state.timerId, 0u);
    EXPECT_FALSE(state.coefficients.valid);
}

TEST(SessionState, PrivateMessagesFollowWmUser) {
    EXPECT_EQ(WM_CALIB_START, 0x465u);
    EXPECT_EQ(WM_CALIB_NEXT, 0x466u);
    EXPECT_EQ(WM_CALIB_SOLVE, 0x467u);
    EXPECT_EQ(WM_CALIB_ABORT, 0x468u);
    EXPECT_EQ(WM_CALIB_EXIT, 0x469u);
}
