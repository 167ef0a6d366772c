// The Linux side of the calibration session: the session messages as SDL
// user events, the window's grab while a pass collects, the target screen,
// and the messages and the question drawn in the window.
#include <SDL.h>

#include <cstring>
#include <string>

#include "app/calibration_session.h"
#include "app/touch_capture_linux.h"
#include "app/calibration_window_linux.h"
#include "app/session_platform.h"
#include "app/session_texts.h"
#include "display/touch_mapping_linux.h"

namespace {

// What stood in the way of opening the controller, shown below the
// no-controller message.
std::string gNoControllerDetail;

// The pointer and the keyboard belong to the calibration while it collects,
// where the system allows it. A display that went away takes no more calls.
void SetCollecting(bool collecting) {
    gScreen.collecting = collecting;
    if (gScreen.window == nullptr || gScreen.displayLost) return;
    SDL_SetWindowGrab(gScreen.window, collecting ? SDL_TRUE : SDL_FALSE);
    SDL_SetWindowKeyboardGrab(gScreen.window, collecting ? SDL_TRUE : SDL_FALSE);
}

}  // namespace

void NoteNoControllerDetail(const char* detail) {
    gNoControllerDetail = detail != nullptr ? detail : "";
}

const char* NoControllerDetail() { return gNoControllerDetail.c_str(); }

void PostSessionMessage(UINT message) {
    SDL_Event event;
    std::memset(&event, 0, sizeof(event));
    event.type = gScreen.sessionEvent;
    event.user.code = static_cast<Sint32>(message);
    SDL_PushEvent(&event);
}

void CaptureTouches() { SetCollecting(true); }

void ReleaseTouches() { SetCollecting(false); }

void ShowCurrentTarget() {
    // A touch made during the transfers before this target answers an
    // earlier screen: dropped, not taken as this target's point. Esc stays.
    DropQueuedInput();
    if (gSession.pointCount > 0) gScreen.misclickPx = 0;  // said until the first touch
    PaintTargetScreen();
}

void ShowMisclick(std::int32_t missPx) { gScreen.misclickPx = missPx; }

void ShowSessionMessage(SessionMessage message) {
    std::string text = message == SessionMessage::kNoController ? kNoDeviceUtf8 : kTransferErrorUtf8;
    if (message == SessionMessage::kNoController && !gNoControllerDetail.empty()) {
        // The node, why it cannot be used, and (for access) the udev rule.
        text += "\n\n";
        text += gNoControllerDetail;
    }
    AbandonReason why = AbandonReason::kCloseRequest;
    if (ShowBox(text.c_str(), kFatalCaptionUtf8, BoxKind::kOk, &why) == BoxAnswer::kClosed) {
        AbandonSession(why);
    }
    PaintTargetScreen();
}

SessionAnswer AskCalibrationQuestion() {
    // Esc pressed while the records went out ends the calibration, as it
    // does on Windows, where it reaches the window before the question's
    // box is up. On the question itself Esc is no answer.
    if (EscapeQueued()) {
        AbandonSession(AbandonReason::kEscape);
        return SessionAnswer::kUnanswered;
    }
    AbandonReason why = AbandonReason::kCloseRequest;
    const BoxAnswer answer = ShowBox(kConfirmUtf8, kConfirmCaptionUtf8, BoxKind::kYesNo, &why);
    PaintTargetScreen();
    switch (answer) {
    case BoxAnswer::kYes:
        return SessionAnswer::kYes;
    case BoxAnswer::kNo:
        return SessionAnswer::kNo;
    case BoxAnswer::kClosed:
        AbandonSession(why);
        break;
    case BoxAnswer::kOk:
        break;
    }
    return SessionAnswer::kUnanswered;
}

// The X touch mapping (display/touch_mapping_linux.h).
void ApplyTouchMapping() { ApplyDisplayMapping(); }
void RestoreTouchMapping() { RestoreDisplayMapping(); }
void KeepTouchMapping() { KeepDisplayMapping(); }

void EndSessionWindow() {
    SetCollecting(false);
    gScreen.ended = true;
}
