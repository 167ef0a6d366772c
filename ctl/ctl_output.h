// kelcalib-ctl's output: the list of controllers and the touch lines of
// `watch`, as text for people and as JSON for scripts.
#ifndef KELCALIB_CTL_CTL_OUTPUT_H
#define KELCALIB_CTL_CTL_OUTPUT_H

#include <cstdint>

#include "device/hid_enumerate.h"
#include "device/name_text.h"

// The report IDs tried, in the order of the transfer fallback.
constexpr std::uint8_t kCtlReportIds[3] = {0x55, 0x01, 0x00};

// One controller of ours as `list` shows it.
struct CtlListedController {
    const HidInterfaceInfo* info;
    bool answered[3];        // a feature read under kCtlReportIds[i] succeeded
    char openProblem[256];   // why it could not be opened for the probe; empty when it was
    // The input devices the system made from the controller (Linux: its
    // event devices); inputDeviceCount -1 where the system has none to tell.
    int inputDeviceCount;
    char inputDevices[4][32];
};

// The controllers (match index = position) and, with `all`, every
// interface in `interfaces` that is not ours.
void PrintList(bool json, bool all, std::uint16_t vendorId, const CtlListedController* controllers,
               int controllerCount, const HidInterfaceInfo* interfaces, int interfaceCount);

// One line of `watch`: a touch at raw (x, y), or the lift when !touching.
// False when it could not be written (a closed pipe, a dropped terminal).
bool PrintTouch(bool json, std::int64_t milliseconds, bool touching, std::uint16_t x,
                std::uint16_t y);

// The records a reset or an apply committed.
void PrintCommitted(bool json, const char* command, std::uint16_t vendorId, std::uint16_t index,
                    const std::int32_t records[2][4]);

#endif  // KELCALIB_CTL_CTL_OUTPUT_H
