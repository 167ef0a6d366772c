// Which controller the program talks to: the one at a named hidraw node
// (--device), or the n-th of the vendor ID in node order (--index, 0 when
// neither is given).
#ifndef KELCALIB_APP_CONTROLLER_CHOICE_LINUX_H
#define KELCALIB_APP_CONTROLLER_CHOICE_LINUX_H

#include <cstddef>
#include <cstdint>

#include "device/hid_enumerate.h"

struct ControllerChoice {
    const char* device;   // "/dev/hidrawN" or a link to one; null: by index
    std::uint16_t index;  // match index among the vendor ID's controllers
};

// The opened controller: its hidraw node and what the node says of it.
struct ChosenController {
    unsigned node;          // N of /dev/hidrawN
    std::uint16_t index;    // its match index (0 when chosen by --device)
    HidInterfaceInfo info;  // path, name, vendor and product
};

// Opens the chosen controller into gSession at its node itself (the named
// one, or the one the listing gives the index) and fills `chosen` from that
// node, so that what is mapped is what was opened. On false `problem` holds what to tell the user
// (the node, why it cannot be used, the udev rule where access is lacking),
// or is empty when there is simply no controller of the vendor ID.
bool OpenChosenController(std::uint16_t vendorId, const ControllerChoice& choice,
                          ChosenController* chosen, char* problem, std::size_t size);

#endif  // KELCALIB_APP_CONTROLLER_CHOICE_LINUX_H
