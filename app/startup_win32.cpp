// Start-up: one copy only, the display, the window class and the full-screen
// calibration window, then the message loop until the session ends.
#include "app/calibration_window_win32.h"
#include "app/session_state.h"
#include "app/target_layout.h"

const wchar_t kInitFailedText[] = L"Application initialization failed";

bool EnableSystemProfilePrivilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        return false;
    }
    bool enabled = false;
    TOKEN_PRIVILEGES privileges = {};
    if (LookupPrivilegeValueW(nullptr, L"SeSystemProfilePrivilege",
                              &privileges.Privileges[0].Luid)) {
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        // Success of the call alone is not enough: a token without the
        // privilege reports ERROR_NOT_ALL_ASSIGNED.
        enabled = AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                  GetLastError() != ERROR_NOT_ALL_ASSIGNED;
    }
    CloseHandle(token);
    return enabled;
}

std::int32_t PrimaryDisplayOrientation(const DisplayEnumeration& system) {
    // The display devices are listed until the first index that fails; the
    // one flagged primary is the display the window covers (device 0 need
    // not be it).
    for (DWORD index = 0; index < kMaxDisplayDevices; ++index) {
        DISPLAY_DEVICEW display = {};
        display.cb = sizeof(display);
        if (!system.enumDevices(nullptr, index, &display, 0)) {
            break;
        }
        if ((display.StateFlags & DISPLAY_DEVICE_PRIMARY_DEVICE) == 0) {
            continue;
        }
        DEVMODEW mode = {};
        mode.dmSize = sizeof(mode);
        if (!system.enumSettings(display.DeviceName, ENUM_CURRENT_SETTINGS, &mode)) {
            return 10000;
        }
        return static_cast<std::int32_t>(mode.dmDisplayOrientation);
    }
    return 10000;
}

std::int32_t QueryDisplayOrientation() {
    return PrimaryDisplayOrientation(DisplayEnumeration{EnumDisplayDevicesW, EnumDisplaySettingsW});
}

void RegisterCalibrationClass(HINSTANCE instance) {
    gSession.arrowCursor = LoadCursorW(nullptr, IDC_ARROW);
    gSession.targetCursor = LoadCursorW(instance, MAKEINTRESOURCEW(kTargetCursorId));
    HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(kAppIconId));
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = CalibrationWndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = icon;
    windowClass.hIconSm = icon;
    windowClass.hCursor = gSession.targetCursor;
    // Lives as long as the process, like the class.
    windowClass.hbrBackground = CreateSolidBrush(kBackgroundColour);
    windowClass.lpszClassName = gSession.title;
    RegisterClassExW(&windowClass);
}

std::int32_t ScreenWidth() {
    const RECT& s = gSession.screenRect;
    return s.right > s.left ? s.right - s.left : s.left - s.right;
}

std::int32_t ScreenHeight() {
    const RECT& s = gSession.screenRect;
    return s.bottom > s.top ? s.bottom - s.top : s.top - s.bottom;
}

bool CreateCalibrationWindow(HINSTANCE instance) {
    const RECT& s = gSession.screenRect;
    const std::int32_t width = ScreenWidth();
    const std::int32_t height = ScreenHeight();
    LayoutTargets(kTargetCount, width, height, gSession.targetX, gSession.targetY);
    HWND window = CreateWindowExW(0, gSession.title, nullptr, WS_POPUP, s.left, s.top, width,
                                  height, nullptr, nullptr, instance, nullptr);
    if (window != nullptr) {
        HDC dc = GetDC(window);
        if (dc != nullptr) {
            gSession.targetRadiusPx =
                TargetRadiusPixels(gSession.targetRadiusMm, GetDeviceCaps(dc, VERTRES),
                                   GetDeviceCaps(dc, VERTSIZE), GetDeviceCaps(dc, LOGPIXELSY));
            ReleaseDC(window, dc);
        }
    }
    if (window == nullptr) {
        return false;
    }
    gSession.mainWindow = window;
    return true;
}

int RunCalibrationProgram(HINSTANCE instance) {
    gSession.instance = instance;
    // Owned and held until the process ends; never released or closed.
    CreateMutexW(nullptr, TRUE, kInstanceMutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        return 1;
    }
    EnableSystemProfilePrivilege();
    gSession.screenRect.left = 0;
    gSession.screenRect.top = 0;
    gSession.screenRect.right = GetSystemMetrics(SM_CXSCREEN);
    gSession.screenRect.bottom = GetSystemMetrics(SM_CYSCREEN);
    gSession.displayOrientation = QueryDisplayOrientation();
    LoadStringW(instance, kTitleStringId, gSession.title, 100);
    RegisterCalibrationClass(instance);
    if (!CreateCalibrationWindow(instance)) {
        MessageBoxW(nullptr, kInitFailedText, kErrorCaption, MB_OK | MB_ICONWARNING);
        return 0;
    }
    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
