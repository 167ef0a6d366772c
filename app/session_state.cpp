#include "app/session_state.h"

SessionState InitialSessionState() {
    SessionState state{};
    state.vendorId = static_cast<std::uint16_t>(KELCALIB_VENDOR_ID);
    state.targetRadiusMm = 10;
    return state;
}

SessionState gSession = InitialSessionState();

volatile std::sig_atomic_t gLeaveRequested = 0;
