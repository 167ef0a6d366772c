// kelcalib-ctl's output: the list of controllers and the touch lines of
// `watch`, as text for people and as JSON for scripts.
#ifndef KELCALIB_APP_CTL_CTL_OUTPUT_H
#define KELCALIB_APP_CTL_CTL_OUTPUT_H

#include <cstdint>
#include <string>
#include <vector>

#include "device/hid_enumerate.h"

// The report IDs tried, in the order of the transfer fallback.
constexpr std::uint8_t kCtlReportIds[3] = {0x55, 0x01, 0x00};

// One controller of ours as `list` shows it.
struct CtlListedController {
    HidInterfaceInfo info;
    int index;                  // match index
    bool answered[3];           // a feature read under kCtlReportIds[i] succeeded
    std::string openProblem;    // why it could not be opened for the probe
};

std::string JsonQuote(const std::string& text);
std::string HexId(std::uint16_t id);  // "0xFFFE"

// `others` holds the interfaces that are not ours; printed only with `all`.
void PrintList(bool json, bool all, std::uint16_t vendorId,
               const std::vector<CtlListedController>& controllers,
               const std::vector<HidInterfaceInfo>& others);

// One line of `watch`: a touch at raw (x, y), or the lift when !touching.
void PrintTouch(bool json, std::int64_t milliseconds, bool touching, std::uint16_t x,
                std::uint16_t y);

#endif  // KELCALIB_APP_CTL_CTL_OUTPUT_H
