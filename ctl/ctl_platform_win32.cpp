// kelcalib-ctl's Windows edge: Ctrl-C through the console, kelcalib.exe's
// one-copy mutex, the tick count and files by UTF-16 name.
#include "ctl/ctl_platform.h"

#include <cstdlib>
#include <cstring>

#include "app/calibration_window_win32.h"
#include "app/session_state.h"
#include "device/hid_device.h"

namespace {

constexpr int kWidePathMax = 1024;

volatile LONG gInterrupted = 0;
HANDLE gInterruptHandled = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    InterlockedExchange(&gInterrupted, 1);
    // Closing the console window ends the process as soon as this returns:
    // give the watch loop the time to send the abort command first.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        if (gInterruptHandled != nullptr) WaitForSingleObject(gInterruptHandled, 4000);
    }
    return TRUE;
}

bool Wide(const char* text, wchar_t* wide) {
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, kWidePathMax) > 0;
}

}  // namespace

// kelcalib.exe holds its one-copy mutex while it runs, and a copy that
// finds it taken ends at once: taken here (and held until the tool exits),
// no calibration can start while the controller is reset or applied to.
bool CtlKeepCalibrationOut(char* why, std::size_t whySize) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kInstanceMutexName);
    if (mutex == nullptr) {
        std::snprintf(why, whySize, "cannot tell whether kelcalib.exe runs (error %lu); nothing was sent",
                      static_cast<unsigned long>(GetLastError()));
        return false;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        std::snprintf(why, whySize,
                      "kelcalib.exe is calibrating: a reset or apply now could commit what its user never "
                      "confirmed; nothing was sent (end the calibration first)");
        return false;
    }
    return true;  // the handle stays open until the tool exits
}

void CtlCatchInterrupt() {
    if (gInterruptHandled == nullptr) gInterruptHandled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool CtlInterrupted() {
    return InterlockedCompareExchange(&gInterrupted, 0, 0) != 0;
}

void CtlInterruptNow() {
    InterlockedExchange(&gInterrupted, 1);
}

void CtlInterruptHandled() {
    if (gInterruptHandled != nullptr) SetEvent(gInterruptHandled);
}

// A write to a closed pipe fails with an error on Windows; nothing to do.
void CtlIgnoreBrokenPipe() {}

std::FILE* CtlOpenFileForReading(const char* path) {
    wchar_t wide[kWidePathMax];
    return Wide(path, wide) ? _wfopen(wide, L"rb") : nullptr;
}

void CtlInputDevices(const HidInterfaceInfo&, CtlListedController* controller) {
    controller->inputDeviceCount = -1;  // Windows shows no such thing to tell
}

std::uint64_t CtlMilliseconds() {
    return GetTickCount64();
}
