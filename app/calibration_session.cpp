#include "app/calibration_session.h"

#include "app/misclick.h"
#include "app/session_platform.h"
#include "app/touch_timing.h"
#include "calib/calibration_solve.h"
#include "device/controller_protocol.h"
#include "device/hid_device.h"

namespace {

// The abort step: touches released, the abort command sent (its result is
// of no use: the program ends either way), then the end. It runs for each
// WM_CALIB_ABORT, as the Windows program always did; AbandonSession starts
// it once.
void RunAbortStep() {
    gSession.leaving = true;
    ReleaseTouches();
    SendAbort();
    PostSessionMessage(WM_CALIB_EXIT);
}

// The controller went away: nothing more can reach it, so no abort command
// either. The user is told, as when there was none.
void EndWithoutController() {
    if (gSession.leaving) return;
    gSession.leaving = true;
    gSession.outcome = SessionOutcome::kNoController;
    ReleaseTouches();
    ShowSessionMessage(SessionMessage::kNoController);
    PostSessionMessage(WM_CALIB_EXIT);
}

// After each step that talks to the controller: the controller is gone, or
// a signal asked the program to end (which stops a handshake at its next
// step). True when the session is over for either.
bool Interrupted() {
    if (gSession.deviceGone) {
        EndWithoutController();
        return true;
    }
    if (gLeaveRequested != 0) {
        gLeaveRequested = 0;
        AbandonSession(AbandonReason::kSignal);
        return true;
    }
    return gSession.leaving;
}

void StartPass() {
    gSession.elapsedMs = 0;
    const bool accepted = ResetToIdentity();
    if (Interrupted()) return;
    if (!accepted) {
        // The pass ends before it began: the touches were never captured,
        // so a tap on the message is the message's own.
        gSession.outcome = SessionOutcome::kIdentityRefused;
        ShowSessionMessage(SessionMessage::kTransferError);
        PostSessionMessage(WM_CALIB_ABORT);
        return;
    }
    // Touches are captured only once the identity records were accepted.
    // Each handshake blocks for 400 ms at least (about 8 s when refused),
    // and Windows silently removes a low-level hook that does not answer
    // within its LowLevelHooksTimeout: from here on the only transfers while
    // touches are captured are the target cue and one read per touch.
    CaptureTouches();
    gSession.pointCount = 0;
    PostSessionMessage(WM_CALIB_NEXT);
}

void ShowNextTarget() {
    SendTargetCue();
    if (Interrupted()) return;
    ShowCurrentTarget();
}

void SolveAndConfirm() {
    ReleaseTouches();
    // A touch that missed its target would be calibrated in: the pass
    // starts again, saying so.
    std::int32_t miss = 0;
    if (TouchesMissTargets(&miss)) {
        ShowMisclick(miss);
        PostSessionMessage(WM_CALIB_START);
        return;
    }
    ComputeCalibration();
    // Coincident or collinear points leave no calibration to try: sent, it
    // would put every touch in one spot, and the question could no longer
    // be answered by touch. A new pass starts instead.
    if (!gSession.coefficients.valid) {
        PostSessionMessage(WM_CALIB_START);
        return;
    }
    const bool sent = SendCoefficients();
    if (Interrupted()) return;
    if (!sent) {
        PostSessionMessage(WM_CALIB_START);
        return;
    }
    // The cursor follows the finger on the calibrated display while the
    // user judges (again, after a No).
    ApplyTouchMapping();
    const SessionAnswer answer = AskCalibrationQuestion();
    // Abandoned while the question was open: the abort step ran there.
    if (Interrupted()) return;
    // Only Yes commits: a question that could not be shown, or ended
    // without an answer, was never answered, so it counts as No.
    if (answer != SessionAnswer::kYes) {
        RestoreTouchMapping();
        PostSessionMessage(WM_CALIB_START);
        return;
    }
    // A commit, once begun, is carried to its end: a request to end the
    // program waits for it (controller_protocol.h).
    const bool committed = CommitCalibration();
    if (gSession.deviceGone) {
        EndWithoutController();
        return;
    }
    // Decided: the session sends nothing more, whatever comes now.
    gSession.leaving = true;
    gSession.outcome = committed ? SessionOutcome::kCalibrated : SessionOutcome::kCommitRefused;
    if (committed) {
        KeepTouchMapping();
    } else {
        RestoreTouchMapping();
    }
    PostSessionMessage(WM_CALIB_EXIT);
}

void EndSession() {
    gSession.leaving = true;
    RestoreTouchMapping();
    CloseTouchDevice();
    EndSessionWindow();
}

}  // namespace

bool OpenSession(bool controllerOpened) {
    gSession.outcome = SessionOutcome::kRunning;
    gSession.leaving = false;
    if (!controllerOpened) {
        gSession.outcome = SessionOutcome::kNoController;
        gSession.leaving = true;
        ShowSessionMessage(SessionMessage::kNoController);
        return false;
    }
    if (!ReadLogicalMaxima(gSession.device, &gSession.logicalMaxX, &gSession.logicalMaxY)) {
        gSession.logicalMaxX = 0x7FFF;
        gSession.logicalMaxY = 0x7FFF;
    }
    gSession.elapsedMs = 0;
    return true;
}

void HandleSessionMessage(UINT message) {
    switch (message) {
    case WM_CALIB_START:
        if (!gSession.leaving) StartPass();
        break;
    case WM_CALIB_NEXT:
        if (!gSession.leaving) ShowNextTarget();
        break;
    case WM_CALIB_SOLVE:
        if (!gSession.leaving) SolveAndConfirm();
        break;
    case WM_CALIB_ABORT:
        // Posted by Esc, or after the identity records were refused.
        if (gSession.outcome == SessionOutcome::kRunning) {
            gSession.outcome = SessionOutcome::kAbandoned;
            gSession.abandonReason = AbandonReason::kEscape;
        }
        RunAbortStep();
        break;
    case WM_CALIB_EXIT:
        EndSession();
        break;
    default:
        break;
    }
}

void TakeRelease(std::uint32_t now) {
    if (gSession.leaving) return;
    const ReleasePosts posts = HandleTouchRelease(now, ReadTouchPoint);
    if (gSession.deviceGone) {
        EndWithoutController();
        return;
    }
    if (posts != ReleasePosts::kNothing) PostSessionMessage(WM_CALIB_NEXT);
    if (posts == ReleasePosts::kNextAndSolve) PostSessionMessage(WM_CALIB_SOLVE);
}

void AbandonSession(AbandonReason reason) {
    if (gSession.leaving) return;
    // A controller that is gone takes no abort command.
    if (gSession.deviceGone) {
        EndWithoutController();
        return;
    }
    if (gSession.outcome == SessionOutcome::kRunning) {
        gSession.outcome = SessionOutcome::kAbandoned;
        gSession.abandonReason = reason;
    }
    RunAbortStep();
}

bool SessionLeaving() { return gSession.leaving; }
