// The virtual controller behind the device seams, for test executables:
// PlatformSetFeature, PlatformGetFeature and WaitMilliseconds answered by the
// model with a virtual clock (waits add to a counter, nothing sleeps), and the
// controls a test uses to set the scene and read what happened.
//
// Link the kelcalib_vc_native library into a test instead of the Windows
// seams. Not thread-safe: one test thread drives it.
#ifndef KELCALIB_TOOLS_VIRTUAL_CONTROLLER_NATIVE_ADAPTER_H
#define KELCALIB_TOOLS_VIRTUAL_CONTROLLER_NATIVE_ADAPTER_H

#include <cstdint>
#include <string>
#include <vector>

#include "app/platform_types.h"
#include "tools/virtual-controller/virtual_controller.h"

// Parses `configText`, resets the model to it and clears the clock, the
// counters and the log. gSession.device is set to 0 (no device). On a bad
// config returns false with the parser's error and leaves the model empty.
bool VcNativeLoadConfig(const std::string& configText, std::string* error);

// "Opens" controller `controller`: gSession.device gets its handle and
// gSession.featureReportLength its report length. False for no such controller.
bool VcNativeOpen(int controller);

// The handle standing for controller `controller` (never 0 or INVALID_HANDLE_VALUE).
HANDLE VcNativeHandle(int controller);

// The current touch that GetFeature reports (default: touching at 0, 0 of a
// 1024 x 768 screen).
void VcNativeSetTouch(std::int32_t x, std::int32_t y, std::int32_t screenWidth,
                      std::int32_t screenHeight);
void VcNativeSetTouching(bool touching);
VcTouch VcNativeTouch();

VcSystem* VcNativeSystem();
const std::vector<VcLogEntry>& VcNativeLog();

// Virtual clock: milliseconds waited through WaitMilliseconds plus the
// simulated duration of slow transfers.
std::uint64_t VcNativeClockMs();
std::uint64_t VcNativeWaitedMs();   // WaitMilliseconds only
std::int64_t VcNativeWaitCount();   // number of WaitMilliseconds calls
std::int64_t VcNativeSetCalls();    // PlatformSetFeature calls, any outcome
std::int64_t VcNativeGetCalls();    // PlatformGetFeature calls, any outcome

// Called with the report of every PlatformSetFeature before the model takes
// it (report ID first), so that a test can look at the program's state at
// each command; nullptr (also after VcNativeLoadConfig) calls nothing.
using VcNativeSetObserver = void (*)(const std::uint8_t* report, std::uint32_t length);
void VcNativeObserveSets(VcNativeSetObserver observer);

// Zeroes the clock and the counters and clears the log (the model keeps its state).
void VcNativeClearCounters();

// Log helpers: the SET/GET entries only, and the event texts only.
std::vector<VcLogEntry> VcNativeTransfers(VcLogKind kind);
std::vector<std::string> VcNativeEvents();

#endif  // KELCALIB_TOOLS_VIRTUAL_CONTROLLER_NATIVE_ADAPTER_H
