// The session's message boxes, each centred on the calibration window by a
// thread hook that moves the box as it is activated.
#include "app/calibration_window_win32.h"
#include "app/session_state.h"
#include "app/target_layout.h"

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
