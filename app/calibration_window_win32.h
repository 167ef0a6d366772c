// The Windows side of the calibration program: start-up, the calibration
// window's procedure, the message boxes, the touch capture hook and the
// drawing of the target screen. Windows only.
#ifndef KELCALIB_APP_CALIBRATION_WINDOW_WIN32_H
#define KELCALIB_APP_CALIBRATION_WINDOW_WIN32_H

#ifdef _WIN32

#include <cstdint>

#include "app/platform_types.h"

// Start-up.
constexpr wchar_t kInstanceMutexName[] = L"KelHidCalib";
constexpr int kTitleStringId = 1;
constexpr int kAppIconId = 107;
constexpr int kTargetCursorId = 130;
constexpr UINT_PTR kTrackingTimerId = 1001;
constexpr COLORREF kBackgroundColour = RGB(200, 200, 200);

// The whole program: single-instance mutex, display, class, window, message
// loop. Returns the process exit code (1 for a second copy, else 0).
int RunCalibrationProgram(HINSTANCE instance);
bool EnableSystemProfilePrivilege();
// The orientation of the primary display (0..3), or 10000 when no device is
// flagged primary or its current mode cannot be read.
std::int32_t QueryDisplayOrientation();
// The same over the display enumeration given: EnumDisplayDevicesW and
// EnumDisplaySettingsW, or stand-ins that list other displays.
struct DisplayEnumeration {
    BOOL(WINAPI* enumDevices)(LPCWSTR device, DWORD index, PDISPLAY_DEVICEW display, DWORD flags);
    BOOL(WINAPI* enumSettings)(LPCWSTR device, DWORD mode, DEVMODEW* settings);
};
constexpr DWORD kMaxDisplayDevices = 64;
std::int32_t PrimaryDisplayOrientation(const DisplayEnumeration& system);
void RegisterCalibrationClass(HINSTANCE instance);
bool CreateCalibrationWindow(HINSTANCE instance);
// Width and height of gSession.screenRect, whichever way round its corners
// were given.
std::int32_t ScreenWidth();
std::int32_t ScreenHeight();

// Session controller.
LRESULT CALLBACK CalibrationWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int CenteredMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
LRESULT CALLBACK MessageBoxCenterHook(int code, WPARAM wParam, LPARAM lParam);

// Touch capture.
LRESULT CALLBACK TouchCaptureHook(int code, WPARAM wParam, LPARAM lParam);

// Target screen.
void PlotCirclePoints(HDC dc, std::int32_t cx, std::int32_t cy, std::int32_t a, std::int32_t b,
                      COLORREF colour);
void DrawCircle(HDC dc, POINT centre, std::int32_t radius, COLORREF colour);
void DrawLine(HDC dc, POINT start, POINT end, COLORREF colour);
void DrawTarget(HDC dc, std::int32_t x, std::int32_t y);
// What one repaint puts into `dc`: the target of `pointCount` (none when it
// is 4) and the three instruction texts, centred in `client`.
void DrawTargetScreen(HDC dc, const RECT& client);
// The WM_PAINT branch: BeginPaint, DrawTargetScreen, EndPaint.
void PaintTargetScreen(HWND window);

// Texts of the screen and of the message boxes, exactly as shown.
extern const wchar_t kTouchInstructionText[];
extern const wchar_t kEscapeHintText[];
extern const wchar_t kResetNoteText[];
extern const wchar_t kNoDeviceText[];
extern const wchar_t kFatalCaption[];
extern const wchar_t kNoTimerText[];
extern const wchar_t kErrorCaption[];
extern const wchar_t kTransferErrorText[];
extern const wchar_t kConfirmText[];
extern const wchar_t kConfirmCaption[];
extern const wchar_t kInitFailedText[];

#endif  // _WIN32

#endif  // KELCALIB_APP_CALIBRATION_WINDOW_WIN32_H
