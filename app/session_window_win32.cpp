// The calibration window's procedure: its message table, which hands the
// five private messages and the close request to the session
// (calibration_session.h), and the tracking timer.
#include "app/calibration_session.h"
#include "app/calibration_window_win32.h"
#include "app/session_state.h"
#include "app/touch_timing.h"
#include "device/hid_device.h"

const wchar_t kNoDeviceText[] = L"Fatal error:Can not open Kelvane USB HID device!";
const wchar_t kFatalCaption[] = L"Fatal error!";
const wchar_t kNoTimerText[] = L"Could not create a traceing timer!";
const wchar_t kErrorCaption[] = L"Error";
const wchar_t kTransferErrorText[] = L"Transfer data to device error!";
const wchar_t kConfirmText[] = L"Try moving on the screen,Does the cursor jump to your fingertip?";
const wchar_t kConfirmCaption[] = L"Checking calibration results";

namespace {

void Post(HWND window, UINT message) {
    PostMessageW(window, message, 0, 0);
}

// Opening: controller, maxima, debounce clock, timer, then show the window
// in front and start the first pass.
void OnCreate(HWND window) {
    gSession.mainWindow = window;
    if (!OpenSession(OpenTouchDevice(gSession.vendorId, 0))) {
        PostQuitMessage(0);
        return;
    }
    gSession.lastTick = GetTickCount();
    gSession.timerId = SetTimer(gSession.mainWindow, kTrackingTimerId, 1, nullptr);
    if (gSession.timerId == 0) {
        CenteredMessageBox(window, kNoTimerText, kErrorCaption, MB_OK | MB_ICONWARNING);
    }
    HWND foreground = GetForegroundWindow();
    if (foreground != nullptr) {
        AttachThreadInput(GetCurrentThreadId(), GetWindowThreadProcessId(foreground, nullptr),
                          TRUE);
    }
    ShowWindow(window, SW_SHOWNORMAL);
    const RECT& s = gSession.screenRect;
    SetWindowPos(window, HWND_TOPMOST, s.left, s.top, ScreenWidth(), ScreenHeight(),
                 SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(window);
    UpdateWindow(window);
    Post(window, WM_CALIB_START);
}

}  // namespace

LRESULT CALLBACK CalibrationWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        PaintTargetScreen(window);
        return 0;
    case WM_CLOSE:
        // Not passed on: the window stays until WM_CALIB_EXIT.
        AbandonSession(AbandonReason::kCloseRequest);
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            Post(window, WM_CALIB_ABORT);
        }
        return 0;
    case WM_TIMER:
        AdvanceTrackingTimer(GetTickCount());
        return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
        return 0;
    case WM_CALIB_START:
    case WM_CALIB_NEXT:
    case WM_CALIB_SOLVE:
    case WM_CALIB_ABORT:
    case WM_CALIB_EXIT:
        HandleSessionMessage(message);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
