// kelcalib-ctl's Windows edge: opening the controller through the program's
// Win32 link, Ctrl-C through the console, files by UTF-16 name.
#include "app/ctl/ctl_platform.h"

#include <cwchar>
#include <vector>

#include "app/ctl/ctl_output.h"
#include "app/session_state.h"
#include "device/hid_device.h"

namespace {

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

std::wstring Wide(const std::string& text) {
    const int needed = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (needed <= 0) return std::wstring();
    std::vector<wchar_t> wide(static_cast<std::size_t>(needed));
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), needed);
    return std::wstring(wide.data());
}

bool ContainsIgnoringCase(const std::string& text, const std::string& part) {
    for (std::size_t i = 0; i + part.size() <= text.size(); ++i) {
        bool same = true;
        for (std::size_t k = 0; k < part.size() && same; ++k) {
            char a = text[i + k];
            if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
            same = a == part[k];
        }
        if (same) return true;
    }
    return false;
}

}  // namespace

CtlOpenResult CtlOpenController(std::uint16_t vendorId, std::uint16_t index, std::string* why) {
    if (OpenTouchDevice(vendorId, index)) {
        if (!ReadLogicalMaxima(gSession.device, &gSession.logicalMaxX, &gSession.logicalMaxY)) {
            gSession.logicalMaxX = 0x7FFF;
            gSession.logicalMaxY = 0x7FFF;
        }
        return CtlOpenResult::kOpened;
    }
    std::vector<HidInterfaceInfo> interfaces(64);
    int count = ListHidInterfaces(vendorId, interfaces.data(), 64);
    if (count > 64) {
        interfaces.resize(static_cast<std::size_t>(count));
        count = ListHidInterfaces(vendorId, interfaces.data(), count);
    }
    int ours = 0;
    for (int i = 0; i < count && i < static_cast<int>(interfaces.size()); ++i) {
        const HidInterfaceInfo& info = interfaces[static_cast<std::size_t>(i)];
        if (info.ours && ours++ == index) {
            *why = "controller " + std::to_string(index) + " (" + info.path +
                   ") cannot be opened" + (info.problem[0] != '\0' ? ": " : "") + info.problem;
            return CtlOpenResult::kFailed;
        }
        if (!info.ours && CtlDeniedController(info, vendorId, why)) {
            return CtlOpenResult::kNoPermission;
        }
    }
    *why = "no controller with vendor ID " + HexId(vendorId);
    if (ours > 0) *why += " at index " + std::to_string(index) + " (" + std::to_string(ours) + " found)";
    return CtlOpenResult::kNoController;
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
bool CtlDeniedController(const HidInterfaceInfo& info, std::uint16_t vendorId, std::string* why) {
    if (info.queried) return false;
    char vid[16];
    std::snprintf(vid, sizeof vid, "vid_%04x", vendorId);
    if (!ContainsIgnoringCase(info.path, vid)) return false;
    HANDLE handle = CreateFileW(Wide(info.path).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return false;
    }
    if (GetLastError() != ERROR_ACCESS_DENIED) return false;
    *why = std::string(info.path) +
           ": access denied; another program may hold the controller open (close it), or this "
           "account may not use it";
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

std::FILE* CtlOpenFileForReading(const std::string& path) {
    const std::wstring wide = Wide(path);
    return wide.empty() ? nullptr : _wfopen(wide.c_str(), L"rb");
}
