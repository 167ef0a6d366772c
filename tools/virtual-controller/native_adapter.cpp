// Device seams over the virtual controller model, with a virtual clock.
#include "tools/virtual-controller/native_adapter.h"

#include <cstdint>

#include "app/session_state.h"
#include "device/hid_device.h"

namespace {

constexpr std::uintptr_t kHandleBase = 0x7C10;
constexpr std::uintptr_t kHandleStep = 0x10;

VcSystem gVcSystem;
VcTouch gVcTouch = {0, 0, 1024, 768, true};
std::uint64_t gWaitedMs = 0;
std::uint64_t gTransferMs = 0;
std::int64_t gWaitCount = 0;
std::int64_t gSetCalls = 0;
std::int64_t gGetCalls = 0;
VcNativeSetObserver gSetObserver = nullptr;

int ControllerOf(HANDLE device) {
    const auto value = reinterpret_cast<std::uintptr_t>(device);
    if (value < kHandleBase || (value - kHandleBase) % kHandleStep != 0) return -1;
    const std::uintptr_t index = (value - kHandleBase) / kHandleStep;
    if (index >= gVcSystem.controllers.size()) return -1;
    return static_cast<int>(index);
}

}  // namespace

bool PlatformSetFeature(HANDLE device, void* buffer, std::uint32_t length) {
    ++gSetCalls;
    if (gSetObserver != nullptr) {
        gSetObserver(static_cast<const std::uint8_t*>(buffer), length);
    }
    const int controller = ControllerOf(device);
    if (controller < 0) return false;
    gTransferMs += VcTransferDelayMs(gVcSystem, controller);
    return VcSetFeature(&gVcSystem, controller, static_cast<const std::uint8_t*>(buffer), length) ==
           VcResult::kOk;
}

bool PlatformGetFeature(HANDLE device, void* buffer, std::uint32_t length) {
    ++gGetCalls;
    const int controller = ControllerOf(device);
    if (controller < 0) return false;
    gTransferMs += VcTransferDelayMs(gVcSystem, controller);
    return VcGetFeature(&gVcSystem, controller, static_cast<std::uint8_t*>(buffer), length,
                        gVcTouch) == VcResult::kOk;
}

void WaitMilliseconds(std::uint32_t milliseconds) {
    ++gWaitCount;
    gWaitedMs += milliseconds;
}

bool VcNativeLoadConfig(const std::string& configText, std::string* error) {
    VcConfig config;
    const bool parsed = VcParseConfig(configText, &config, error);
    VcReset(&gVcSystem, parsed ? config : VcConfig());
    gSession.device = nullptr;
    gSession.featureReportLength = 0;
    gVcTouch = VcTouch{0, 0, 1024, 768, true};
    gSetObserver = nullptr;
    VcNativeClearCounters();
    return parsed;
}

HANDLE VcNativeHandle(int controller) {
    return reinterpret_cast<HANDLE>(kHandleBase + kHandleStep * static_cast<std::uintptr_t>(controller));
}

bool VcNativeOpen(int controller) {
    if (controller < 0 || controller >= static_cast<int>(gVcSystem.controllers.size())) return false;
    gSession.device = VcNativeHandle(controller);
    gSession.featureReportLength =
        gVcSystem.controllers[static_cast<std::size_t>(controller)].config.featureReportLength;
    return true;
}

void VcNativeSetTouch(std::int32_t x, std::int32_t y, std::int32_t screenWidth,
                      std::int32_t screenHeight) {
    gVcTouch = VcTouch{x, y, screenWidth, screenHeight, true};
}

void VcNativeSetTouching(bool touching) { gVcTouch.touching = touching; }

VcTouch VcNativeTouch() { return gVcTouch; }

void VcNativeObserveSets(VcNativeSetObserver observer) { gSetObserver = observer; }

VcSystem* VcNativeSystem() { return &gVcSystem; }

const std::vector<VcLogEntry>& VcNativeLog() { return gVcSystem.log; }

std::uint64_t VcNativeClockMs() { return gWaitedMs + gTransferMs; }
std::uint64_t VcNativeWaitedMs() { return gWaitedMs; }
std::int64_t VcNativeWaitCount() { return gWaitCount; }
std::int64_t VcNativeSetCalls() { return gSetCalls; }
std::int64_t VcNativeGetCalls() { return gGetCalls; }

void VcNativeClearCounters() {
    gWaitedMs = 0;
    gTransferMs = 0;
    gWaitCount = 0;
    gSetCalls = 0;
    gGetCalls = 0;
    gVcSystem.log.clear();
}

std::vector<VcLogEntry> VcNativeTransfers(VcLogKind kind) {
    std::vector<VcLogEntry> entries;
    for (const VcLogEntry& entry : gVcSystem.log) {
        if (entry.kind == kind) entries.push_back(entry);
    }
    return entries;
}

std::vector<std::string> VcNativeEvents() {
    std::vector<std::string> events;
    for (const VcLogEntry& entry : gVcSystem.log) {
        if (entry.kind == VcLogKind::kEvent) events.push_back(entry.text);
    }
    return events;
}
