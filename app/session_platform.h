// What each platform does for the calibration session (calibration_session.h),
// and nothing more: Windows in session_platform_win32.cpp (the window, the
// touch hook, message boxes), Linux in session_platform_linux.cpp (the SDL
// window, its grab, the boxes drawn in it, the X touch mapping).
#ifndef KELCALIB_APP_SESSION_PLATFORM_H
#define KELCALIB_APP_SESSION_PLATFORM_H

#include <cstdint>

#include "app/platform_types.h"

// The messages of the session, each shown with its caption and an OK button.
enum class SessionMessage {
    kNoController,     // "Fatal error:Can not open Kelvane USB HID device!"
    kTransferError,    // "Transfer data to device error!"
};

// The answer to "Does the cursor jump to your fingertip?". kUnanswered: the
// question could not be shown or was ended without an answer; it never
// counts as Yes.
enum class SessionAnswer { kYes, kNo, kUnanswered };

// Posts one session message (WM_CALIB_START ... WM_CALIB_EXIT) behind the
// messages and events already queued.
void PostSessionMessage(UINT message);

// Touches belong to the calibration while a pass collects points (Windows:
// the low-level mouse hook, the transparent cursor and the mouse capture;
// Linux: the window's pointer and keyboard grab), and are ordinary pointer
// input again afterwards. Releasing what is not captured does no harm.
void CaptureTouches();
void ReleaseTouches();

// Shows the target of `pointCount` (none when it is 4).
void ShowCurrentTarget();

// The pass's touches missed the targets by `missPx` pixels (misclick.h):
// said on the target screen of the pass that follows, until its first
// touch. Only the Linux program checks (gSession.misclickPx).
void ShowMisclick(std::int32_t missPx);

// Shows `message` and waits until it is acknowledged or the session is
// abandoned meanwhile.
void ShowSessionMessage(SessionMessage message);

// Asks the question and waits for the answer. An abandon while it is open
// runs the abort step there and then (SessionLeaving() is true afterwards).
SessionAnswer AskCalibrationQuestion();

// The system's touch-to-display mapping (Linux on X11: the coordinate
// transformation matrix of the controller's X devices). Applied while the
// user tries the calibration, put back on No and on every end but a kept
// calibration, kept after a committed Yes. Windows maps the controller's
// range over the primary display itself: there is nothing to do there.
void ApplyTouchMapping();
void RestoreTouchMapping();
void KeepTouchMapping();

// The session's window and what goes with it are released (the controller
// is closed already): Windows stops the timer, removes the hook, destroys
// the window and quits; Linux ends its event loop.
void EndSessionWindow();

#endif  // KELCALIB_APP_SESSION_PLATFORM_H
