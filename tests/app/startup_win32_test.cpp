// The display orientation the solve is given: that of the display flagged
// primary, over display lists given to PrimaryDisplayOrientation.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <vector>

#include "app/calibration_window_win32.h"

namespace {

struct FakeDisplay {
    DWORD flags;
    bool modeReadable;
    DWORD orientation;
};

std::vector<FakeDisplay> gDisplays;

const wchar_t* const kNames[] = {L"\\\\.\\DISPLAY1", L"\\\\.\\DISPLAY2", L"\\\\.\\DISPLAY3"};

BOOL WINAPI FakeEnumDevices(LPCWSTR device, DWORD index, PDISPLAY_DEVICEW display, DWORD flags) {
    if (device != nullptr || flags != 0 || display == nullptr || display->cb != sizeof(*display) ||
        index >= gDisplays.size()) {
        return FALSE;
    }
    std::wcscpy(display->DeviceName, kNames[index]);
    display->StateFlags = gDisplays[index].flags;
    return TRUE;
}

BOOL WINAPI FakeEnumSettings(LPCWSTR device, DWORD mode, DEVMODEW* settings) {
    if (mode != ENUM_CURRENT_SETTINGS || settings == nullptr || settings->dmSize != sizeof(*settings)) {
        return FALSE;
    }
    for (std::size_t i = 0; i < gDisplays.size(); ++i) {
        if (std::wcscmp(device, kNames[i]) != 0) continue;
        if (!gDisplays[i].modeReadable) return FALSE;
        settings->dmDisplayOrientation = gDisplays[i].orientation;
        return TRUE;
    }
    return FALSE;
}

constexpr DWORD kActive = DISPLAY_DEVICE_ATTACHED_TO_DESKTOP;
constexpr DWORD kPrimary = DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | DISPLAY_DEVICE_PRIMARY_DEVICE;

}  // namespace

TEST(Startup, OrientationIsThePrimaryDisplaysAnd10000WithoutOne) {
    struct Case {
        const char* what;
        std::vector<FakeDisplay> displays;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"primary first", {{kPrimary, true, DMDO_180}, {kActive, true, DMDO_90}}, 2},
        {"a rotated primary after device 0", {{kActive, true, DMDO_90}, {kPrimary, true, DMDO_270}}, 3},
        {"primary third, upright", {{kActive, true, DMDO_90}, {0, true, DMDO_180}, {kPrimary, true, DMDO_DEFAULT}}, 0},
        {"no device flagged primary", {{kActive, true, DMDO_90}, {kActive, true, DMDO_180}}, 10000},
        {"no display device at all", {}, 10000},
        {"the primary's mode unreadable", {{kActive, true, DMDO_90}, {kPrimary, false, DMDO_180}}, 10000},
    };
    for (const Case& c : cases) {
        gDisplays = c.displays;
        EXPECT_EQ(PrimaryDisplayOrientation(DisplayEnumeration{FakeEnumDevices, FakeEnumSettings}), c.expected)
            << c.what;
    }
}
