// The low-level mouse hook of a calibration pass: keeps every press and
// release of the left, right and middle buttons away from all windows and
// turns a debounced release into a calibration point read from the
// controller.
#include "app/calibration_session.h"
#include "app/calibration_window_win32.h"
#include "app/session_state.h"

LRESULT CALLBACK TouchCaptureHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code < 0) {
        return CallNextHookEx(gSession.mouseHook, code, wParam, lParam);
    }
    switch (wParam) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        return 1;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
        TakeRelease(GetTickCount());
        return 1;
    default:
        return CallNextHookEx(gSession.mouseHook, code, wParam, lParam);
    }
}
