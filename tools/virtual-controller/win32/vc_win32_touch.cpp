// Where the finger is for the replacement hid.dll's reads: the touch file
// named by KELCALIB_VC_TOUCH_FILE, else the pointer.
#include "tools/virtual-controller/win32/vc_win32_touch.h"

#include <cstdio>

namespace {

// The touch file named by KELCALIB_VC_TOUCH_FILE, when that is set:
// "X Y WIDTH HEIGHT" (or "X Y" on the screen's own size) is a finger at X, Y
// in screen pixels; a missing or empty file, "none" or any other text is no
// finger. Lets a test lift the finger, which the pointer can't.
bool TouchFromFile(VcTouch* touch) {
    wchar_t path[1024];
    const DWORD length = GetEnvironmentVariableW(L"KELCALIB_VC_TOUCH_FILE", path, 1024);
    if (length == 0 || length >= 1024) return false;
    touch->touching = false;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return true;
    char text[64] = {};
    DWORD got = 0;
    const BOOL read = ReadFile(file, text, sizeof text - 1, &got, nullptr);
    CloseHandle(file);
    int values[4] = {};
    const int count = read ? std::sscanf(text, "%d %d %d %d", &values[0], &values[1], &values[2],
                                         &values[3])
                           : 0;
    if (count == 2 || count == 4) {
        touch->x = values[0];
        touch->y = values[1];
        if (count == 4) {
            touch->screenWidth = values[2];
            touch->screenHeight = values[3];
        }
        touch->touching = true;
    }
    return true;
}

// The pointer stands for the finger (unless a touch file is named): its
// position and the screen size at the moment of the read.
}  // namespace

VcTouch VcCurrentTouch() {
    VcTouch touch{};
    touch.screenWidth = GetSystemMetrics(SM_CXSCREEN);
    touch.screenHeight = GetSystemMetrics(SM_CYSCREEN);
    if (TouchFromFile(&touch)) return touch;
    POINT point{};
    if (GetCursorPos(&point)) {
        touch.x = point.x;
        touch.y = point.y;
    }
    touch.touching = true;
    return touch;
}

