#include "app/controller_choice_linux.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "device/hid_device.h"
#include "device/hidraw_linux.h"
#include "device/hidraw_sysfs_linux.h"
#include "device/name_text.h"

namespace {

// The node a --device value names: "/dev/hidrawN" itself, or a link (a
// udev alias) that resolves to one. False with `problem` filled otherwise.
bool NodeOfDevice(const char* device, unsigned* node, char* problem, std::size_t size) {
    if (HidrawNodeNumber(device, node)) return true;
    char resolved[PATH_MAX];
    if (realpath(device, resolved) != nullptr && HidrawNodeNumber(resolved, node)) return true;
    char shown[4 * 120 + 1];
    TakeName(device, std::strlen(device) < 120 ? std::strlen(device) : 120, shown, sizeof shown);
    std::snprintf(problem, size, "%s is not a hidraw device node (/dev/hidrawN)", shown);
    return false;
}

// Opens the controller at `node` itself, so that the one opened is the one
// chosen (a controller plugged in or out meanwhile changes nothing).
bool OpenAtNode(std::uint16_t vendorId, unsigned node, ChosenController* chosen, char* problem,
                std::size_t size) {
    const NodeOpen result = OpenTouchDeviceAtNode(vendorId, node, &chosen->info);
    const HidInterfaceInfo& info = chosen->info;
    switch (result) {
        case NodeOpen::kOpened:
            chosen->node = node;
            return true;
        case NodeOpen::kAbsent:
            std::snprintf(problem, size, "there is no HID device at %s", info.path);
            return false;
        case NodeOpen::kNotOurs:
            std::snprintf(problem, size,
                          "%s is not a controller of vendor ID 0x%04X (it is %04X:%04X%s%s)", info.path,
                          vendorId, info.vendorId, info.productId, info.name[0] != '\0' ? " " : "",
                          info.name);
            return false;
        case NodeOpen::kRefused:
            break;
    }
    // The link's note (permission and the udev rule, descriptor, in use).
    if (DescribeOpenProblem(problem, size)) return false;
    std::snprintf(problem, size, "%s %s", info.path, info.problem);
    return false;
}

}  // namespace

bool OpenChosenController(std::uint16_t vendorId, const ControllerChoice& choice,
                          ChosenController* chosen, char* problem, std::size_t size) {
    problem[0] = '\0';
    *chosen = ChosenController{};
    if (choice.device != nullptr) {
        unsigned node = 0;
        return NodeOfDevice(choice.device, &node, problem, size) &&
               OpenAtNode(vendorId, node, chosen, problem, size);
    }
    // The node of the given index, in the order kelcalib-ctl list counts them.
    bool listed = false;
    const std::vector<HidInterfaceInfo> nodes = ListAllHidInterfaces(vendorId, &listed);
    if (!listed) {
        std::snprintf(problem, size, "the list of hidraw nodes in /dev cannot be read");
        return false;
    }
    std::uint16_t ours = 0;
    for (const HidInterfaceInfo& info : nodes) {
        if (!info.ours) continue;
        if (ours++ != choice.index) continue;
        unsigned node = 0;
        HidrawNodeNumber(info.path, &node);
        chosen->index = choice.index;
        return OpenAtNode(vendorId, node, chosen, problem, size);
    }
    if (DescribeOpenProblem(problem, size)) return false;
    if (choice.index > 0) {
        std::snprintf(problem, size,
                      "there is no controller %u of vendor ID 0x%04X (%u found; the first is 0)",
                      static_cast<unsigned>(choice.index), vendorId, static_cast<unsigned>(ours));
    }
    return false;
}
