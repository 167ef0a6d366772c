// kelcalib-ctl's Windows edge: opening the controller through the program's
// Win32 link, Ctrl-C through the console, files by UTF-16 name.
#include "app/ctl/ctl_platform.h"

#include <cstdlib>
#include <cstring>

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

}  // namespace

CtlOpenResult CtlOpenController(std::uint16_t vendorId, std::uint16_t index, char* why,
                                std::size_t whySize) {
    if (OpenTouchDevice(vendorId, index)) {
        if (!ReadLogicalMaxima(gSession.device, &gSession.logicalMaxX, &gSession.logicalMaxY)) {
            gSession.logicalMaxX = 0x7FFF;
            gSession.logicalMaxY = 0x7FFF;
        }
        return CtlOpenResult::kOpened;
    }
    // Why not: the interfaces as the search saw them.
    int capacity = 64;
    int count = 0;
    HidInterfaceInfo* interfaces = nullptr;
    for (;;) {
        interfaces = static_cast<HidInterfaceInfo*>(
            std::calloc(static_cast<std::size_t>(capacity), sizeof(HidInterfaceInfo)));
        count = interfaces == nullptr ? -1 : ListHidInterfaces(vendorId, interfaces, capacity);
        if (count <= capacity) break;
        std::free(interfaces);
        capacity = count;
    }
    CtlOpenResult result = CtlOpenResult::kNoController;
    int ours = 0;
    for (int i = 0; i < count && result == CtlOpenResult::kNoController; ++i) {
        const HidInterfaceInfo& info = interfaces[i];
        if (info.ours && ours++ == index) {
            std::snprintf(why, whySize, "controller %u (%s) cannot be opened%s%s",
                          static_cast<unsigned>(index), info.path, info.problem[0] ? ": " : "",
                          info.problem);
            result = CtlOpenResult::kFailed;
        } else if (!info.ours && CtlDeniedController(info, vendorId, why, whySize)) {
            result = CtlOpenResult::kNoPermission;
        }
    }
    std::free(interfaces);
    if (count < 0) {
        std::snprintf(why, whySize, "cannot read the system's list of HID devices");
        return CtlOpenResult::kFailed;
    }
    if (result == CtlOpenResult::kNoController) {
        if (ours > 0) {
            std::snprintf(why, whySize, "no controller with vendor ID 0x%04X at index %u (%d found)",
                          vendorId, static_cast<unsigned>(index), ours);
        } else {
            std::snprintf(why, whySize, "no controller with vendor ID 0x%04X", vendorId);
        }
    }
    return result;
}

void CtlCloseController() {
    if (gSession.device != nullptr && gSession.device != INVALID_HANDLE_VALUE) {
        CloseHandle(gSession.device);
    }
    gSession.device = nullptr;
}

// A HID device path names the vendor as "vid_VVVV": an interface of our
// vendor ID that answers "access denied" is a controller held by another
// program or shut off from this account.
bool CtlDeniedController(const HidInterfaceInfo& info, std::uint16_t vendorId, char* why,
                         std::size_t whySize) {
    if (info.queried) return false;
    char vid[16];
    std::snprintf(vid, sizeof vid, "vid_%04x", vendorId);
    wchar_t path[kWidePathMax];
    if (!ContainsIgnoringCase(info.path, vid) || !Wide(info.path, path)) return false;
    HANDLE handle = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return false;
    }
    if (GetLastError() != ERROR_ACCESS_DENIED) return false;
    std::snprintf(why, whySize,
                  "%s: access denied; another program may hold the controller open (close it), "
                  "or this account may not use it",
                  info.path);
    return true;
}

void CtlCatchInterrupt() {
    if (gInterruptHandled == nullptr) gInterruptHandled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool CtlInterrupted() {
    return InterlockedCompareExchange(&gInterrupted, 0, 0) != 0;
}

void CtlInterruptHandled() {
    if (gInterruptHandled != nullptr) SetEvent(gInterruptHandled);
}

std::FILE* CtlOpenFileForReading(const char* path) {
    wchar_t wide[kWidePathMax];
    return Wide(path, wide) ? _wfopen(wide, L"rb") : nullptr;
}

std::uint64_t CtlMilliseconds() {
    return GetTickCount64();
}
