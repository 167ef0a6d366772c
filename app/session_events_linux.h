// What the Linux program reads from SDL, the system and its own session
// messages, as the inputs of a session: one loop for the calibration, its
// questions and messages, and --identify. A close request, a signal
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT), the display going away and the
// session's controller unplugged all come as one input, kLeave; what each
// loop does with an input is its own.
#ifndef KELCALIB_APP_SESSION_EVENTS_LINUX_H
#define KELCALIB_APP_SESSION_EVENTS_LINUX_H

#include <cstdint>

#include "app/session_state.h"

enum class InputKind {
    kNone,
    kLeave,           // a close request, a signal or the display lost: `reason`
    kEscape,          // Esc pressed
    kKey,             // another key pressed: `key` (an SDL key code)
    kPress,           // a finger down or a mouse button pressed at `x`, `y`
    kRelease,         // a finger lifted or a mouse button released at `x`, `y`
    kRedraw,          // the window must be drawn again
    kSessionMessage,  // WM_CALIB_START ... WM_CALIB_EXIT: `message`
};

struct SessionInput {
    InputKind kind;
    AbandonReason reason;
    std::int32_t key;
    int x;  // window pixels
    int y;
    unsigned message;
};

// From now on SIGINT, SIGTERM, SIGHUP and SIGQUIT only set gLeaveRequested,
// which NextInput turns into kLeave (and which stops a handshake in
// progress); SIGABRT sends the abort command if a session needs it, then
// ends the process as it would have. Called before SDL starts, which then
// installs none of its own.
void CatchLeaveSignals();

// The next input, running the tracking timer while it waits a few
// milliseconds at most; false when none came.
bool NextInput(SessionInput* input);

// One tick of the tracking timer when it is due; returns the milliseconds
// until the next one. `Start` begins its ticks at `now`.
std::uint32_t RunTrackingTimer();
void StartTrackingTimer(std::uint32_t now);

#endif  // KELCALIB_APP_SESSION_EVENTS_LINUX_H
