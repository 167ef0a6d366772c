// The controller link of the end-to-end build: the virtual controller linked
// into the unchanged Linux program in place of the hidraw link, with real
// waits. It reads the config file named by KELCALIB_VC_CONFIG (no variable
// or no controller in it: no controller), writes the model's log and store
// where the config says, and takes the touch from the X pointer: its
// position on the display it is on, over that display's size, as a touch
// panel on that monitor would report it. Test builds only.
#include <SDL.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/session_state.h"
#include "device/hid_device.h"
#include "tools/virtual-controller/virtual_controller.h"

namespace {

VcSystem gSystem;
int gController = -1;
char gProblem[300] = "";

// The handle stands for controller index + 1.
int ControllerOf(HANDLE device) {
    const auto value = reinterpret_cast<std::uintptr_t>(device);
    if (value == 0 || static_cast<int>(value) - 1 != gController) return -1;
    return gController;
}

VcTouch PointerTouch() {
    VcTouch touch = {0, 0, 1024, 768, true};
    int x = 0;
    int y = 0;
    SDL_GetGlobalMouseState(&x, &y);
    for (int i = 0; i < SDL_GetNumVideoDisplays(); ++i) {
        SDL_Rect b;
        const SDL_Point p = {x, y};
        if (SDL_GetDisplayBounds(i, &b) == 0 && SDL_PointInRect(&p, &b)) {
            touch = VcTouch{x - b.x, y - b.y, b.w, b.h, true};
            break;
        }
    }
    return touch;
}

void Delay(std::uint32_t milliseconds) {
    if (milliseconds == 0) return;
    timespec wait = {static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0) {
    }
}

}  // namespace

bool OpenTouchDevice(std::uint16_t vendorId, std::uint16_t matchIndex) {
    gProblem[0] = '\0';
    const char* path = std::getenv(kVcConfigEnvironmentVariable);
    if (path == nullptr) return false;
    VcConfig config;
    std::string error;
    if (!VcLoadConfigFile(path, &config, &error)) {
        std::snprintf(gProblem, sizeof(gProblem), "virtual controller: %s", error.c_str());
        return false;
    }
    VcReset(&gSystem, config);
    int matches = 0;
    for (int i = 0; i < VcDeviceCount(gSystem); ++i) {
        VcDeviceInfo info;
        if (!VcGetDeviceInfo(gSystem, i, &info) || !info.isController) continue;
        if (info.vendorId != vendorId || matches++ != matchIndex) continue;
        gController = info.controllerIndex;
        gSession.device = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(gController + 1));
        gSession.featureReportLength = info.featureReportLength;
        return true;
    }
    return false;
}

bool ReadLogicalMaxima(HANDLE handle, std::int32_t* maxX, std::int32_t* maxY) {
    const int controller = ControllerOf(handle);
    if (controller < 0) return false;
    const VcControllerConfig& config = gSystem.controllers[static_cast<std::size_t>(controller)].config;
    if (config.valueCapCount < 2) return false;
    *maxX = config.logicalMax[0];
    *maxY = config.logicalMax[1];
    return true;
}

void CloseTouchDevice() {
    gController = -1;
    gSession.device = nullptr;
}

bool DescribeOpenProblem(char* text, std::size_t size) {
    if (size == 0) return false;
    std::snprintf(text, size, "%s", gProblem);
    return gProblem[0] != '\0';
}

bool PlatformSetFeature(HANDLE device, void* buffer, std::uint32_t length) {
    const int controller = ControllerOf(device);
    if (controller < 0) return false;
    Delay(VcTransferDelayMs(gSystem, controller));
    return VcSetFeature(&gSystem, controller, static_cast<const std::uint8_t*>(buffer), length) ==
           VcResult::kOk;
}

bool PlatformGetFeature(HANDLE device, void* buffer, std::uint32_t length) {
    const int controller = ControllerOf(device);
    if (controller < 0) return false;
    Delay(VcTransferDelayMs(gSystem, controller));
    return VcGetFeature(&gSystem, controller, static_cast<std::uint8_t*>(buffer), length,
                        PointerTouch()) == VcResult::kOk;
}

void WaitMilliseconds(std::uint32_t milliseconds) { Delay(milliseconds); }
