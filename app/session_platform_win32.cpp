// The Windows side of the calibration session: the private messages posted
// to the calibration window, the touch hook with the transparent cursor and
// the mouse capture, the repaint, the message boxes centred on the window,
// and the end of the window.
#include "app/calibration_window_win32.h"
#include "app/calibration_session.h"
#include "app/session_platform.h"
#include "app/session_state.h"

void PostSessionMessage(UINT message) {
    PostMessageW(gSession.mainWindow, message, 0, 0);
}

void CaptureTouches() {
    gSession.mouseHook = SetWindowsHookExW(WH_MOUSE_LL, TouchCaptureHook, gSession.instance, 0);
    SetCursor(gSession.targetCursor);
    SetCapture(gSession.mainWindow);
}

namespace {

void RemoveTouchHook() {
    if (gSession.mouseHook != nullptr) {
        UnhookWindowsHookEx(gSession.mouseHook);
        gSession.mouseHook = nullptr;
    }
}

}  // namespace

void ReleaseTouches() {
    RemoveTouchHook();
    SetCursor(gSession.arrowCursor);
    ReleaseCapture();
}

void ShowCurrentTarget() {
    InvalidateRect(gSession.mainWindow, nullptr, TRUE);
}

// The Windows program takes every pass (gSession.misclickPx is 0): nothing
// calls this there.
void ShowMisclick(std::int32_t) {}

void ShowSessionMessage(SessionMessage message) {
    const bool noController = message == SessionMessage::kNoController;
    CenteredMessageBox(gSession.mainWindow, noController ? kNoDeviceText : kTransferErrorText,
                       kFatalCaption, MB_OK | MB_ICONWARNING);
}

SessionAnswer AskCalibrationQuestion() {
    const int answer = CenteredMessageBox(gSession.mainWindow, kConfirmText, kConfirmCaption,
                                          MB_YESNO | MB_ICONQUESTION);
    if (answer == IDYES) return SessionAnswer::kYes;
    if (answer == IDNO) return SessionAnswer::kNo;
    // A box that failed to open (0 from MessageBoxW; Wine gives -1) took the
    // keyboard focus from the window setting itself up; the window takes it
    // back, so that Esc still ends the session. A close request answered
    // inside the box's modal loop ended the session and its window.
    if (!SessionLeaving()) SetFocus(gSession.mainWindow);
    return SessionAnswer::kUnanswered;
}

// The controller maps its range over the primary display itself.
void ApplyTouchMapping() {}
void RestoreTouchMapping() {}
void KeepTouchMapping() {}

void EndSessionWindow() {
    if (gSession.timerId != 0) {
        KillTimer(gSession.mainWindow, gSession.timerId);
        gSession.timerId = 0;
    }
    // The abort step released the touch hook already; any other end
    // releases it with the window.
    RemoveTouchHook();
    DestroyWindow(gSession.mainWindow);
    PostQuitMessage(0);
}
