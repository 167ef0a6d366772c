// The calibration session's decisions, the same for both programs: opening,
// what each of the five session messages does, a release taken as a touch,
// and the one way out. The platform does only its own part, through the
// operations of session_platform.h: the Windows window procedure and touch
// hook, and the Linux event loop, call these and nothing else decides.
//
// The way out: every abandon (Esc, a close request, a signal, the display
// lost) runs the abort step: the touches are released, the abort command
// goes out, and WM_CALIB_EXIT follows. From then on the session sends
// nothing else: a WM_CALIB_START, WM_CALIB_NEXT or WM_CALIB_SOLVE still
// queued behind the abandon is ignored, and nothing is committed. A
// controller found gone ends the session at once with the no-controller
// message; nothing is retried and nothing more is sent to it.
#ifndef KELCALIB_APP_CALIBRATION_SESSION_H
#define KELCALIB_APP_CALIBRATION_SESSION_H

#include <cstdint>

#include "app/session_state.h"

// Opening, once the platform tried to open the controller: without one the
// no-controller message is shown and the session ends (false, outcome
// kNoController). Otherwise the logical maxima are read (0x7FFF each when
// they cannot be) and the debounce clock is cleared; true. The platform
// then takes `lastTick` from its clock.
bool OpenSession(bool controllerOpened);

// WM_CALIB_START to WM_CALIB_EXIT; other values are ignored.
void HandleSessionMessage(UINT message);

// A button release or a lifted finger at tick `now` while a pass collects
// points: debounced, read from the controller, WM_CALIB_NEXT posted (and
// WM_CALIB_SOLVE after the fourth point).
void TakeRelease(std::uint32_t now);

// The abort step, now (WM_CALIB_ABORT runs the same): release the touches,
// send the abort command, post WM_CALIB_EXIT. `reason` is kept for the
// first abandon of a session whose outcome is not decided yet. Nothing
// while the session is being left already; with the controller gone
// (gSession.deviceGone), the end without it instead.
void AbandonSession(AbandonReason reason);

// True once the abort step ran or the session ended: nothing more goes to
// the controller.
bool SessionLeaving();

#endif  // KELCALIB_APP_CALIBRATION_SESSION_H
