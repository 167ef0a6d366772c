// The calibration window's procedure: the session state machine driven by
// the five private messages, the tracking timer, and the message boxes
// centred on the calibration window.
#include "app/calibration_window.h"
#include "app/session_state.h"
#include "app/target_layout.h"
#include "app/touch_timing.h"
#include "calib/calibration_solve.h"
#include "device/controller_protocol.h"
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
    if (!OpenTouchDevice(gSession.vendorId, 0)) {
        CenteredMessageBox(window, kNoDeviceText, kFatalCaption, MB_OK | MB_ICONWARNING);
        PostQuitMessage(0);
        return;
    }
    if (!ReadLogicalMaxima(gSession.device, &gSession.logicalMaxX, &gSession.logicalMaxY)) {
        gSession.logicalMaxX = 0x7FFF;
        gSession.logicalMaxY = 0x7FFF;
    }
    gSession.elapsedMs = 0;
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

void RemoveTouchHook() {
    if (gSession.mouseHook != nullptr) {
        UnhookWindowsHookEx(gSession.mouseHook);
        gSession.mouseHook = nullptr;
    }
}

void OnStartPass(HWND window) {
    gSession.elapsedMs = 0;
    if (!ResetToIdentity()) {
        // The pass ends before it began: no hook, capture or cross cursor
        // was set up, so a tap on the box's button is the box's own.
        CenteredMessageBox(window, kTransferErrorText, kFatalCaption, MB_OK | MB_ICONWARNING);
        Post(window, WM_CALIB_ABORT);
        return;
    }
    // Hook, cross cursor and capture come only once the identity records
    // were accepted. The handshake blocks this thread for 400 ms at least
    // (about 8 s when refused), and Windows silently removes a low-level hook
    // that does not answer within its LowLevelHooksTimeout: a finger still
    // moving from the last answer would cost the pass its hook. From here on
    // the only transfers while the hook is in place are the target cue and
    // the hook's own reads.
    gSession.mouseHook =
        SetWindowsHookExW(WH_MOUSE_LL, TouchCaptureHook, gSession.instance, 0);
    SetCursor(gSession.targetCursor);
    SetCapture(window);
    gSession.pointCount = 0;
    Post(window, WM_CALIB_NEXT);
}

void OnSolve(HWND window) {
    RemoveTouchHook();
    SetCursor(gSession.arrowCursor);
    ReleaseCapture();
    ComputeCalibration();
    // Coincident or collinear points leave no calibration to try: sent, it
    // would put every touch in one spot, and the question could no longer
    // be answered by touch. A new pass starts instead.
    if (!gSession.coefficients.valid || !SendCoefficients()) {
        Post(window, WM_CALIB_START);
        return;
    }
    const int answer = CenteredMessageBox(window, kConfirmText, kConfirmCaption,
                                          MB_YESNO | MB_ICONQUESTION);
    // While the question was open the window may have been closed (a close
    // request handled inside the box's modal loop ends the session and
    // closes the controller): nothing may be committed or restarted then.
    if (!DeviceIsOpen()) {
        return;
    }
    // Only Yes commits. A box that failed to open (0 from MessageBoxW; Wine
    // gives -1) was never answered, so it counts as No: a new pass. Setting
    // the box up took the keyboard focus from the window; it takes it back,
    // so that Esc still ends the session.
    if (answer != IDYES) {
        if (answer != IDNO) {
            SetFocus(window);
        }
        Post(window, WM_CALIB_START);
        return;
    }
    CommitCalibration();
    Post(window, WM_CALIB_EXIT);
}

void OnAbort(HWND window) {
    SetCursor(gSession.arrowCursor);
    ReleaseCapture();
    SendAbort();
    Post(window, WM_CALIB_EXIT);
}

void OnExit() {
    if (DeviceIsOpen()) {
        CloseHandle(gSession.device);
    }
    // The handle is gone: nothing may use or close it again, even if its
    // value is handed out anew.
    gSession.device = nullptr;
    if (gSession.timerId != 0) {
        KillTimer(gSession.mainWindow, gSession.timerId);
        gSession.timerId = 0;
    }
    // A pass ended by Esc or a close request still has its touch hook;
    // release it with the window.
    RemoveTouchHook();
    DestroyWindow(gSession.mainWindow);
    PostQuitMessage(0);
}

}  // namespace

bool DeviceIsOpen() {
    return gSession.device != nullptr && gSession.device != INVALID_HANDLE_VALUE;
}

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
        OnAbort(window);  // not passed on: the window stays until WM_CALIB_EXIT
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
        OnStartPass(window);
        return 0;
    case WM_CALIB_NEXT:
        SendTargetCue();
        InvalidateRect(window, nullptr, TRUE);
        return 0;
    case WM_CALIB_SOLVE:
        OnSolve(window);
        return 0;
    case WM_CALIB_ABORT:
        OnAbort(window);
        return 0;
    case WM_CALIB_EXIT:
        OnExit();
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

int CenteredMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    gSession.messageBoxHook =
        SetWindowsHookExW(WH_CBT, MessageBoxCenterHook, nullptr, GetCurrentThreadId());
    const int result = MessageBoxW(owner, text, caption, type);
    if (gSession.messageBoxHook != nullptr) {
        UnhookWindowsHookEx(gSession.messageBoxHook);
        gSession.messageBoxHook = nullptr;
    }
    return result;
}

LRESULT CALLBACK MessageBoxCenterHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        RECT mainRect = {0, 0, 0, 0};
        RECT boxRect = {0, 0, 0, 0};
        GetWindowRect(gSession.mainWindow, &mainRect);
        GetWindowRect(box, &boxRect);
        const std::int32_t w = boxRect.right - boxRect.left;
        const std::int32_t h = boxRect.bottom - boxRect.top;
        const BoxOrigin origin =
            CenteredBoxOrigin(mainRect.left, mainRect.top, mainRect.right, mainRect.bottom, w, h);
        MoveWindow(box, origin.x, origin.y, w, h, TRUE);
    }
    return CallNextHookEx(gSession.messageBoxHook, code, wParam, lParam);
}
