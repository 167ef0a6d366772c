// kelcalib-ctl's Windows edge: closing the controller's handle, an
// interface of ours that answers "access denied", Ctrl-C through the
// console, the tick count and files by UTF-16 name.
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

bool ContainsIgnoringCase(const char* text, const char* part) {
    const std::size_t length = std::strlen(part);
    for (; *text != '\0'; ++text) {
        std::size_t k = 0;
        while (k < length && text[k] != '\0' &&
               (text[k] == part[k] || (text[k] >= 'A' && text[k] <= 'Z' && text[k] + 32 == part[k]))) {
            ++k;
        }
        if (k == length) return true;
    }
    return false;
}

// Windows gives each top-level collection of a device an interface of its
// own ("...&col01#...", "...&col02#..."), and keeps the collections it reads
// itself (a controller's touch screen) from every program. Such a collection
// beside one of the same vendor and product that opened is no controller
// this account is shut out of.
bool SystemCollectionBesideAnOpenedOne(const HidInterfaceInfo* interfaces, int count,
                                       const HidInterfaceInfo& denied) {
    const char* collection = std::strstr(denied.path, "&col");
    if (collection == nullptr) collection = std::strstr(denied.path, "&COL");
    if (collection == nullptr) return false;
    const std::size_t prefix = static_cast<std::size_t>(collection - denied.path);
    for (int i = 0; i < count; ++i) {
        const HidInterfaceInfo& other = interfaces[i];
        if (&other != &denied && other.queried && std::strlen(other.path) > prefix + 4 &&
            _strnicmp(other.path, denied.path, prefix + 4) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

void CtlCloseController() {
    if (gSession.device != nullptr && gSession.device != INVALID_HANDLE_VALUE) {
        CloseHandle(gSession.device);
    }
    gSession.device = nullptr;
}

// A HID device path names the vendor as "vid_VVVV": an interface of our
// vendor ID that answers "access denied" is a controller held by another
// program or shut off from this account.
bool CtlDeniedAccess(const HidInterfaceInfo* interfaces, int count, std::uint16_t vendorId,
                     char* why, std::size_t whySize) {
    char vid[16];
    std::snprintf(vid, sizeof vid, "vid_%04x", vendorId);
    for (int i = 0; i < count; ++i) {
        const HidInterfaceInfo& info = interfaces[i];
        wchar_t path[kWidePathMax];
        if (info.queried || !ContainsIgnoringCase(info.path, vid) ||
            SystemCollectionBesideAnOpenedOne(interfaces, count, info) || !Wide(info.path, path)) {
            continue;
        }
        HANDLE handle = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
            continue;
        }
        if (GetLastError() != ERROR_ACCESS_DENIED) continue;
        std::snprintf(why, whySize,
                      "%s: access denied; another program may hold the controller open (close "
                      "it), or this account may not use it",
                      info.path);
        return true;
    }
    return false;
}

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

// hid.dll tells a gone device by ERROR_DEVICE_NOT_CONNECTED.
bool CtlControllerGone() {
    return GetLastError() == ERROR_DEVICE_NOT_CONNECTED;
}

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
