// The low-level mouse hook of a calibration pass: keeps every press and
// release of the left, right and middle buttons away from all windows and
// turns a debounced release into a calibration point read from the
// controller.
#include "app/calibration_window.h"
#include "app/session_state.h"
#include "app/touch_timing.h"
#include "device/controller_protocol.h"

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
    case WM_MBUTTONUP: {
        const ReleasePosts posts = HandleTouchRelease(GetTickCount(), ReadTouchPoint);
        if (posts != ReleasePosts::kNothing) {
            PostMessageW(gSession.mainWindow, WM_CALIB_NEXT, 0, 0);
        }
        if (posts == ReleasePosts::kNextAndSolve) {
            PostMessageW(gSession.mainWindow, WM_CALIB_SOLVE, 0, 0);
        }
        return 1;
    }
    default:
        return CallNextHookEx(gSession.mouseHook, code, wParam, lParam);
    }
}
